#pragma once

#include "plotstats.h"
#include "signalrecorder.h"

#include <QColor>
#include <QList>
#include <QPointF>
#include <QString>

class SymbolDatabase;
struct SymVariable;

// Stateless helpers of the plot that need no chart: colours, value texts,
// point reduction and axis ranges. Shared by the plot widget and the CLI.
namespace PlotData {

// Series colour of trace `index` (palette of ten, repeating).
QColor color(int index);

// Legend, marker and export text of a value without a variable to go by: up
// to 3 decimals without trailing zeros, large values in full (1234567), only
// magnitudes below 0.001 (and beyond 1e15) with 6 significant digits.
QString formatValue(double value);

// Text of a plotted value as the signal panel shows it: the enumeration's
// text, the symbol file's decimals (/p:), hexadecimal or base-2 display;
// formatValue when there is no variable.
QString valueText(const SymbolDatabase *db, const SymVariable *variable, double value);
// Text of a number derived from a signal's values (mean, difference): the
// variable's decimals, at least 3 significant ones for a mean of integers,
// never an enumeration text.
QString numberText(const SymbolDatabase *db, const SymVariable *variable, double value);

// Signals best drawn as steps (value held until the next one): integer
// signals with an enumeration, single bits and signals of fewer than 4 bits.
bool prefersSteps(const SymbolDatabase &db, const SymVariable &variable);

// Most points a series gets unreduced; above it the points are reduced to
// the extremes of Buckets time buckets.
constexpr int MaxUnreduced = 3000;
constexpr int Buckets = 1500;

// Appends points [first, last) to `out`, reduced to at most two points per
// bucket of [windowStart, windowEnd] when there are more than MaxUnreduced:
// the first lowest and the first highest point of each bucket. Given the
// points' summary, runs of points that lie wholly inside one bucket are read
// from it, with the same result as a scan of every point.
void reduce(const QList<QPointF> &points, int first, int last, double windowStart, double windowEnd,
            QList<QPointF> *out, const PlotPyramid *pyramid = nullptr);

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
// value at the marker (when given), the last value and, as the window's
// legend shows them, minimum, maximum, mean and count of `stats` (when
// given: the window shown or the span between the cursors; else minimum
// and maximum since the last clearing). Values as valueText gives them
// with `db` (the recorder's database).
QString legendText(const SignalRecorder::Trace &trace, bool rightAxis, const double *markerValue,
                   const SymbolDatabase *db = nullptr, const PlotStats::Stats *stats = nullptr);

// Points in view from which collect reduces the traces on several threads:
// below it, starting the threads costs more than they save.
constexpr qsizetype ParallelFrom = 2000000;

// Fills `out` for the window `w`, the data range [w.start, dataEnd]; with
// `secondAxis` traces assigned to axis 1 count for the right axis. With
// `parallelFrom` points or more in view, the traces are reduced on up to as
// many threads as the machine has cores (each trace by one thread).
void collect(const SignalRecorder &recorder, const SignalRecorder::TimeWindow &w, double dataEnd,
             bool secondAxis, WindowData *out, qsizetype parallelFrom = ParallelFrom);

} // namespace PlotData
