#pragma once

#include <QColor>
#include <QList>
#include <QString>

// One plotted signal's value at the plot marker, as the marker panel lists it.
struct MarkerRow
{
    QString name;       // display name of the signal
    QColor color;       // colour of its trace
    QString value;
    QString unit;
    bool rightAxis = false;
};
