#pragma once

#include <QColor>
#include <QList>
#include <QString>

// One plotted signal's value at the plot marker (cursor A), as the marker
// panel lists it; with the second cursor also its value at cursor B and the
// difference B − A.
struct MarkerRow
{
    QString name;       // display name of the signal
    QColor color;       // colour of its trace
    QString value;
    QString unit;
    bool rightAxis = false;
    QString valueB = {};   // at cursor B, when it is on
    QString delta = {};    // B − A, when both values exist ("–" otherwise)
};

// Both cursors of the plot, for the marker panel: times in the plot's time
// base, as its axis shows them.
struct MarkerState
{
    bool enabled = false;   // cursor A, the marker
    double time = 0.0;
    bool second = false;    // cursor B (only together with A)
    double timeB = 0.0;
    QList<MarkerRow> rows;
};
