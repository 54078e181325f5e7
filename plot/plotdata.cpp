#include "plotdata.h"

#include "symbolfile.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace PlotData {

QColor color(int index)
{
    static const QRgb palette[10] = {0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd,
                                     0x8c564b, 0xe377c2, 0x17becf, 0xbcbd22, 0x7f7f7f};
    return QColor(palette[std::abs(index) % 10]);
}

namespace {

QString trimmedFixed(double value, int decimals)
{
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    if (text == QLatin1String("-0"))
        text = QStringLiteral("0");
    return text;
}

// The signal panel's 'g' form of a large float has an exponent: give such
// values in full instead.
QString inFull(const QString &text, double value)
{
    if (std::fabs(value) >= 1.0 && text.contains(QLatin1Char('e')))
        return formatValue(value);
    return text;
}

bool isIntegerType(const SymVariable &variable)
{
    return variable.isNumeric() && variable.type != SymType::Float && variable.type != SymType::Double;
}

} // namespace

QString formatValue(double value)
{
    const double magnitude = std::fabs(value);
    if (!std::isfinite(value) || magnitude >= 1e15 || (value != 0.0 && magnitude < 0.001))
        return QString::number(value, 'g', 6);
    return trimmedFixed(value, 3);
}

QString valueText(const SymbolDatabase *db, const SymVariable *variable, double value)
{
    if (!db || !variable || !variable->isNumeric() || !std::isfinite(value))
        return formatValue(value);
    if (isIntegerType(*variable) && variable->factor != 0.0) {
        // Back to the raw value, which is what the signal panel formats.
        const double raw = std::round((value - variable->offset) / variable->factor);
        if (std::fabs(raw) < 9.2e18)
            return db->formatValue(*variable, qint64(raw));
    }
    return inFull(db->formatNumber(*variable, value), value);
}

QString numberText(const SymbolDatabase *db, const SymVariable *variable, double value)
{
    if (!db || !variable || !variable->isNumeric() || !std::isfinite(value))
        return formatValue(value);
    if (variable->decimals >= 0 || !isIntegerType(*variable))
        return inFull(db->formatNumber(*variable, value), value);
    // A mean of whole numbers is rarely whole: keep what the scaling gives
    // and at least three decimals, without trailing zeros.
    const QString scaled = db->formatNumber(*variable, value);
    const qsizetype dot = scaled.indexOf(QLatin1Char('.'));
    const int decimals = dot < 0 ? 0 : int(scaled.size() - dot - 1);
    return trimmedFixed(value, std::max(decimals, 3));
}

bool prefersSteps(const SymbolDatabase &db, const SymVariable &variable)
{
    if (!isIntegerType(variable))
        return false;
    if (variable.type == SymType::Bit || db.enumFor(variable))
        return true;
    const int bits = variable.bits.isEmpty() ? variable.length : int(variable.bits.size());
    return bits > 0 && bits < 4;
}

void reduce(const QList<QPointF> &points, int first, int last, double windowStart, double windowEnd,
            QList<QPointF> *out, const PlotPyramid *pyramid)
{
    first = std::max(first, 0);
    last = std::min(last, int(points.size()));
    if (last - first <= MaxUnreduced) {
        out->reserve(out->size() + std::max(last - first, 0));
        for (int i = first; i < last; ++i)
            out->append(points.at(i));
        return;
    }

    if (pyramid && !pyramid->covers(points))
        pyramid = nullptr;
    const double scale = Buckets / std::max(windowEnd - windowStart, 1e-9);
    const QPointF *p = points.constData();
    const auto bucketOf = [&](double x) {
        const double position = (x - windowStart) * scale;
        return !(position > 0) ? 0 : position >= Buckets ? int(Buckets) : int(position);
    };
    // The kept points are tracked by index and read only when emitted, so
    // that a summary's extremes cost no access to the point list.
    int bucket = -1;
    qsizetype low = 0;
    qsizetype high = 0;
    double lowY = 0.0;
    double highY = 0.0;
    const auto flush = [&] {
        if (bucket < 0)
            return;
        const QPointF &lowPoint = p[low];
        const QPointF &highPoint = p[high];
        if (lowPoint == highPoint) {
            out->append(lowPoint);
        } else if (lowPoint.x() <= highPoint.x()) {
            out->append(lowPoint);
            out->append(highPoint);
        } else {
            out->append(highPoint);
            out->append(lowPoint);
        }
    };
    qsizetype i = first;
    bool tryRun = true;   // one attempt per bucket: after a failed one the rest goes point by point
    while (i < last) {
        const int b = bucketOf(p[i].x());
        if (b != bucket) {
            flush();
            bucket = b;
            low = high = i;
            lowY = highY = p[i].y();
            tryRun = true;
        } else {
            const double y = p[i].y();
            if (y < lowY) {
                low = i;
                lowY = y;
            } else if (y > highY) {
                high = i;
                highY = y;
            }
        }
        ++i;
        if (!pyramid || !tryRun || last - i < PlotPyramid::Fanout)
            continue;
        tryRun = false;
        // The rest of the bucket from the summary: the points before the
        // first one whose running maximum of x reaches the bucket's end.
        // Taken only when every one of them provably falls into this bucket
        // (rounding near the edge, or time going back, leave it to the
        // per-point path above), so the result equals a per-point scan.
        const double edge = b >= Buckets ? HUGE_VAL : windowStart + (b + 1) / scale;
        qsizetype j = std::min<qsizetype>(pyramid->lowerBound(points, edge, i), last);
        for (int tries = 0; j > i && tries < PlotPyramid::Fanout; ++tries) {
            if (bucketOf(pyramid->runningMax(points, j - 1)) == b)
                break;
            --j;
        }
        if (j - i < PlotPyramid::Fanout || bucketOf(pyramid->runningMax(points, j - 1)) != b)
            continue;
        const PlotPyramid::Summary run = pyramid->summary(points, i, j);
        if (bucketOf(run.minX) != b)
            continue;
        if (run.lowY < lowY) {
            low = run.low;
            lowY = run.lowY;
        }
        if (run.highY > highY) {
            high = run.high;
            highY = run.highY;
        }
        i = j;
        tryRun = true;
    }
    flush();
}

void extend(const QList<QPointF> &points, double from, double to, double *min, double *max)
{
    for (const QPointF &point : points) {
        if (point.x() < from || point.x() > to)
            continue;
        *min = std::min(*min, point.y());
        *max = std::max(*max, point.y());
    }
}

Range autoRange(double min, double max)
{
    if (min > max)
        return {0.0, 1.0};
    if (min != max) {
        const double margin = (max - min) * 0.05;
        return {min - margin, max + margin};
    }
    const double margin = std::max(std::fabs(min) * 0.1, 1.0);
    return {min - margin, min + margin};
}

Range manualRange(double min, double max)
{
    return {std::min(min, max - 1e-6), max};
}

QString legendText(const SignalRecorder::Trace &trace, bool rightAxis, const double *markerValue,
                   const SymbolDatabase *db, const PlotStats::Stats *stats)
{
    QString text = trace.ref.displayName();
    if (!trace.unit.isEmpty())
        text += QStringLiteral(" [%1]").arg(trace.unit);
    if (rightAxis)
        text += QStringLiteral(" (rechte Achse)");
    if (markerValue)
        text += QStringLiteral("    Marker %1").arg(valueText(db, trace.variable, *markerValue));
    if (trace.count == 0)
        return text;
    text += QStringLiteral("    Wert %1").arg(valueText(db, trace.variable, trace.last));
    if (!stats) {
        text += QStringLiteral("   Min %1   Max %2")
                    .arg(valueText(db, trace.variable, trace.min), valueText(db, trace.variable, trace.max));
    } else if (stats->count > 0) {
        text += QStringLiteral("   Min %1   Max %2   Mittel %3   n = %4")
                    .arg(valueText(db, trace.variable, stats->min), valueText(db, trace.variable, stats->max),
                         numberText(db, trace.variable, stats->mean), QString::number(stats->count));
    } else {
        text += QStringLiteral("   n = 0");
    }
    return text;
}

void collect(const SignalRecorder &recorder, const SignalRecorder::TimeWindow &w, double dataEnd,
             bool secondAxis, WindowData *out)
{
    out->window = w;
    out->dataEnd = dataEnd;
    out->min[0] = out->min[1] = DBL_MAX;
    out->max[0] = out->max[1] = -DBL_MAX;
    const QList<SignalRecorder::Trace> &traces = recorder.traces();
    out->points.resize(traces.size());
    for (int i = 0; i < traces.size(); ++i) {
        const SignalRecorder::Trace &trace = traces.at(i);
        QList<QPointF> &points = out->points[i];
        points.resize(0);
        const auto range = SignalRecorder::visibleRange(trace, w.start, dataEnd);
        reduce(trace.points, range.first, range.second, w.start, w.end, &points, &trace.pyramid);
        const int axis = secondAxis && trace.axis == 1 ? 1 : 0;
        extend(points, w.start, dataEnd, &out->min[axis], &out->max[axis]);
    }
}

} // namespace PlotData
