#pragma once

#include "markerrow.h"

#include <QWidget>

// Placeholder: the real marker list comes with a later issue.
class MarkerPanel : public QWidget
{
    Q_OBJECT

public:
    explicit MarkerPanel(QWidget *parent = nullptr);

    void setMarker(bool enabled, double time, const QList<MarkerRow> &rows);
};
