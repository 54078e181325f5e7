#include "signalpanel.h"

SignalPanel::SignalPanel(QWidget *parent)
    : QWidget(parent)
{
}

void SignalPanel::showFrame(const CanFrame *)
{
}

void SignalPanel::setSymbols(std::shared_ptr<const SymbolDatabase>)
{
}
