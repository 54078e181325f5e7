#pragma once

#include "signalrecorder.h"

#include <QColor>
#include <QList>
#include <QPointF>
#include <QString>

// Stateless helpers of the plot that need no chart: colours, value texts,
// point reduction and axis ranges. Shared by the plot widget and the CLI.
namespace PlotData {

// Series colour of trace `index` (palette of ten, repeating).
QColor color(int index);

// Legend, marker and export text of a value: 6 significant digits for very
// large or very small magnitudes, else up to 3 decimals without trailing zeros.
QString formatValue(double value);

// Most points a series gets unreduced; above it the points are reduced to
// the extremes of Buckets time buckets.
constexpr int MaxUnreduced = 3000;
constexpr int Buckets = 1500;

// Appends points [first, last) to `out`, reduced to at most two points per
// bucket of [windowStart, windowEnd] when there are more than MaxUnreduced:
// the first lowest and the first highest point of each bucket. Given the
// points' block summaries (SignalRecorder::summarize), runs of points that lie
// wholly inside one bucket are read from their summary, with the same result.
void reduce(const QList<QPointF> &points, int first, int last, double windowStart, double windowEnd,
            QList<QPointF> *out, const QList<SignalRecorder::PointBlock> *blocks = nullptr);

// Widens [*min, *max] by the y of the points whose x lies within [from, to].
void extend(const QList<QPointF> &points, double from, double to, double *min, double *max);

struct Range
{
    double min = 0.0;
    double max = 1.0;
};

// Automatic range of the values in [min, max] (min > max: no data).
Range autoRange(double min, double max);
// Manual range from two spin boxes: never empty.
Range manualRange(double min, double max);

// What one refresh draws: the points of every trace inside the window, and
// per Y axis (0 left, 1 right) the extremes of the drawn points.
struct WindowData
{
    SignalRecorder::TimeWindow window;
    double dataEnd = 1.0;                 // end of the data range (the pause moment when paused)
    QList<QList<QPointF>> points;         // per trace
    double min[2] = {0.0, 0.0};
    double max[2] = {0.0, 0.0};
};

// Legend line of a trace in the exported picture: name, unit, axis, the
// value at the marker (when given) and last, minimum and maximum.
QString legendText(const SignalRecorder::Trace &trace, bool rightAxis, const double *markerValue);

// Fills `out` for the window `w`, the data range [w.start, dataEnd]; with
// `secondAxis` traces assigned to axis 1 count for the right axis.
void collect(const SignalRecorder &recorder, const SignalRecorder::TimeWindow &w, double dataEnd,
             bool secondAxis, WindowData *out);

} // namespace PlotData
