#include "sdopanel.h"

SdoPanel::SdoPanel(QWidget *parent)
    : QWidget(parent)
{
}

void SdoPanel::setClient(SdoClient *)
{
}

void SdoPanel::setBackend(CanBackend *)
{
}

void SdoPanel::setConnected(bool)
{
}

void SdoPanel::handleFrames(const QList<CanFrame> &)
{
}

void SdoPanel::loadSettings()
{
}

void SdoPanel::saveSettings() const
{
}
