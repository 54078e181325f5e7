#include "plotdata.h"

#include "symbolfile.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <thread>
#include <vector>

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
    // that a summary's extremes cost no access to the point list. The rule
    // is the summary's: the first lowest and first highest point of the
    // bucket, NaN counting only until the bucket has a number.
    int bucket = -1;
    qsizetype low = 0;
    qsizetype high = 0;
    double lowY = 0.0;
    double highY = 0.0;
    const auto flush = [&] {
        if (bucket < 0)
            return;
        if (low == high) {
            out->append(p[low]);
        } else if (p[low].x() <= p[high].x()) {
            out->append(p[low]);
            out->append(p[high]);
        } else {
            out->append(p[high]);
            out->append(p[low]);
        }
    };
    const auto take = [&](int b, qsizetype lowIndex, double lowValue, qsizetype highIndex, double highValue) {
        if (b != bucket) {
            flush();
            bucket = b;
        } else if (std::isnan(lowValue)) {
            return;   // nothing but NaN: the bucket keeps what it has
        } else if (!std::isnan(lowY)) {
            if (lowValue < lowY) {
                low = lowIndex;
                lowY = lowValue;
            }
            if (highValue > highY) {
                high = highIndex;
                highY = highValue;
            }
            return;
        }
        low = lowIndex;
        lowY = lowValue;
        high = highIndex;
        highY = highValue;
    };
    const auto onPoint = [&](qsizetype i) {
        const double y = p[i].y();
        take(bucketOf(p[i].x()), i, y, i, y);
    };
    if (!pyramid) {
        for (qsizetype i = first; i < last; ++i)
            onPoint(i);
    } else {
        // Whole nodes wherever all their points fall into one bucket: the
        // same result as the loop above, reading a few nodes per bucket.
        pyramid->walk(points, first, last, bucketOf, take, onPoint);
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
             bool secondAxis, WindowData *out, qsizetype parallelFrom)
{
    out->window = w;
    out->dataEnd = dataEnd;
    out->min[0] = out->min[1] = DBL_MAX;
    out->max[0] = out->max[1] = -DBL_MAX;
    const QList<SignalRecorder::Trace> &traces = recorder.traces();
    const int count = int(traces.size());
    out->points.resize(count);
    std::vector<std::pair<int, int>> ranges(static_cast<size_t>(count));
    qsizetype inView = 0;
    for (int i = 0; i < count; ++i) {
        ranges[size_t(i)] = SignalRecorder::visibleRange(traces.at(i), w.start, dataEnd);
        inView += std::max(ranges[size_t(i)].second - ranges[size_t(i)].first, 0);
        out->points[i].resize(0);   // detached here, on this thread
    }

    // Each trace is reduced by one thread into its own list and extremes;
    // the extremes are merged afterwards, in trace order.
    std::vector<double> lows(size_t(count), DBL_MAX);
    std::vector<double> highs(size_t(count), -DBL_MAX);
    std::atomic<int> next{0};
    QList<QPointF> *lists = out->points.data();
    const auto work = [&] {
        for (int i = next++; i < count; i = next++) {
            const SignalRecorder::Trace &trace = traces.at(i);
            QList<QPointF> &points = lists[i];
            reduce(trace.points, ranges[size_t(i)].first, ranges[size_t(i)].second, w.start, w.end, &points,
                   &trace.pyramid);
            extend(points, w.start, dataEnd, &lows[size_t(i)], &highs[size_t(i)]);
        }
    };
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    const int helpers = inView >= parallelFrom ? std::min({cores, count, 8}) - 1 : 0;
    std::vector<std::thread> threads;
    threads.reserve(size_t(std::max(helpers, 0)));
    for (int h = 0; h < helpers; ++h)
        threads.emplace_back(work);
    work();
    for (std::thread &thread : threads)
        thread.join();

    for (int i = 0; i < count; ++i) {
        const int axis = secondAxis && traces.at(i).axis == 1 ? 1 : 0;
        out->min[axis] = std::min(out->min[axis], lows[size_t(i)]);
        out->max[axis] = std::max(out->max[axis], highs[size_t(i)]);
    }
}

} // namespace PlotData
