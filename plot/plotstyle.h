#pragma once

#include <QColor>
#include <QList>
#include <QPointF>
#include <QString>

// How one plotted signal is drawn: its colour (invalid: the palette's colour
// of its place), line, step or points, and whether it is shown at all.
struct PlotStyle
{
    enum Mode { Auto, Line, Step, Points };

    QColor color;
    Mode mode = Auto;
    bool shown = true;

    bool operator==(const PlotStyle &other) const
    {
        return color == other.color && mode == other.mode && shown == other.shown;
    }

    // Settings text such as "#1f77b4;step;1"; an empty colour stands for the
    // palette's. fromText takes any text and keeps the defaults it cannot read.
    QString toText() const;
    static PlotStyle fromText(const QString &text);

    // The mode actually drawn: Auto becomes Step for signals that hold states.
    Mode effectiveMode(bool prefersSteps) const;

    // Display names of the modes, in enum order, for menus.
    static QString modeName(Mode mode);
};

namespace PlotDraw {

// Fewer samples than this in the shown window are drawn as dots too,
constexpr int DotsBelow = 200;
// when they lie on average at least this many pixels apart: closer dots
// merge into a thick line instead of showing single samples.
constexpr double DotSpacing = 8.0;

// Whether the samples of a line get dots: `windowSeconds` wide a window
// drawn over `widthPixels` (0: not known, the count alone decides).
bool dotsOnLine(const QList<QPointF> &points, double windowSeconds, double widthPixels);

// The points of a series as drawn: shifted by `offset` on the time axis
// (time base) and, for steps, each value held until the next sample.
void toDisplay(const QList<QPointF> &points, double offset, bool steps, QList<QPointF> *out);

} // namespace PlotDraw
