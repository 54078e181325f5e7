#include "markerpanel.h"

MarkerPanel::MarkerPanel(QWidget *parent)
    : QWidget(parent)
{
}

void MarkerPanel::setMarker(bool, double, const QList<MarkerRow> &)
{
}
