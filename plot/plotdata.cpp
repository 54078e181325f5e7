#include "plotdata.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace PlotData {

namespace {

// Hint to load the cache lines of a run of points.
inline void prefetch(const QPointF *run)
{
#if defined(__GNUC__) || defined(__clang__)
    const char *bytes = reinterpret_cast<const char *>(run);
    for (size_t offset = 0; offset < SignalRecorder::BlockPoints * sizeof(QPointF); offset += 64)
        __builtin_prefetch(bytes + offset);
#else
    Q_UNUSED(run);
#endif
}

} // namespace

QColor color(int index)
{
    static const QRgb palette[10] = {0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd,
                                     0x8c564b, 0xe377c2, 0x17becf, 0xbcbd22, 0x7f7f7f};
    return QColor(palette[std::abs(index) % 10]);
}

QString formatValue(double value)
{
    const double magnitude = std::fabs(value);
    if (magnitude >= 1000000.0 || (value != 0.0 && magnitude < 0.001))
        return QString::number(value, 'g', 6);
    QString text = QString::number(value, 'f', 3);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    if (text == QLatin1String("-0"))
        text = QStringLiteral("0");
    return text;
}

void reduce(const QList<QPointF> &points, int first, int last, double windowStart, double windowEnd,
            QList<QPointF> *out, const QList<SignalRecorder::PointBlock> *blocks)
{
    first = std::max(first, 0);
    last = std::min(last, int(points.size()));
    if (last - first <= MaxUnreduced) {
        out->reserve(out->size() + std::max(last - first, 0));
        for (int i = first; i < last; ++i)
            out->append(points.at(i));
        return;
    }

    constexpr int BlockPoints = SignalRecorder::BlockPoints;
    const bool summarized = blocks && blocks->size() == (points.size() + BlockPoints - 1) / BlockPoints;
    const SignalRecorder::PointBlock *block = summarized ? blocks->constData() : nullptr;
    const double scale = Buckets / std::max(windowEnd - windowStart, 1e-9);
    const QPointF *p = points.constData();
    // The kept points are tracked by index and read only when emitted, so
    // that a summary's extremes cost no access to the point list.
    int bucket = -1;
    int low = 0;
    int high = 0;
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
    const auto take = [&](int index) {
        const double y = p[index].y();
        if (y < lowY) {
            low = index;
            lowY = y;
        } else if (y > highY) {
            high = index;
            highY = y;
        }
    };
    int ahead = 0;
    const int lastBlock = last / BlockPoints;
    int i = first;
    while (i < last) {
        const int startIndex = i++;
        const double position = (p[startIndex].x() - windowStart) * scale;
        const int b = !(position > 0) ? 0 : position >= Buckets ? Buckets : int(position);
        if (b != bucket) {
            flush();
            bucket = b;
            low = high = startIndex;
            lowY = highY = p[startIndex].y();
        } else {
            take(startIndex);
        }
        // The rest of the bucket by one comparison per point, or per summary
        // where a whole run lies inside; a point that rounding puts back into
        // this bucket is merged by the check above.
        const double edge = b >= Buckets ? HUGE_VAL : windowStart + (b + 1) / scale;
        if (block) {
            // The points of the run where the next bucket ends are the only
            // ones read there: ask for them now, while this bucket is summed
            // up, instead of waiting for memory then.
            const double nextEdge = b + 1 >= Buckets ? HUGE_VAL : windowStart + (b + 2) / scale;
            ahead = std::max(ahead, i / BlockPoints);
            while (ahead < lastBlock && block[ahead].maxX < nextEdge)
                ++ahead;
            if (ahead < lastBlock)
                prefetch(p + qsizetype(ahead) * BlockPoints);
            while (i < last && i % BlockPoints != 0 && p[i].x() < edge)
                take(i++);
            while (i % BlockPoints == 0 && i + BlockPoints <= last) {
                const SignalRecorder::PointBlock &run = block[i / BlockPoints];
                if (!(run.maxX < edge))
                    break;
                if (run.lowY < lowY) {
                    low = i + run.low;
                    lowY = run.lowY;
                }
                if (run.highY > highY) {
                    high = i + run.high;
                    highY = run.highY;
                }
                i += BlockPoints;
            }
        }
        while (i < last && p[i].x() < edge)
            take(i++);
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

QString legendText(const SignalRecorder::Trace &trace, bool rightAxis, const double *markerValue)
{
    QString text = trace.ref.displayName();
    if (!trace.unit.isEmpty())
        text += QStringLiteral(" [%1]").arg(trace.unit);
    if (rightAxis)
        text += QStringLiteral(" (rechte Achse)");
    if (markerValue)
        text += QStringLiteral("    Marker %1").arg(formatValue(*markerValue));
    if (trace.count > 0) {
        text += QStringLiteral("    Wert %1   Min %2   Max %3")
                    .arg(formatValue(trace.last), formatValue(trace.min), formatValue(trace.max));
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
        const auto range = SignalRecorder::visibleRange(trace.points, w.start, dataEnd);
        reduce(trace.points, range.first, range.second, w.start, w.end, &points, &trace.blocks);
        const int axis = secondAxis && trace.axis == 1 ? 1 : 0;
        extend(points, w.start, dataEnd, &out->min[axis], &out->max[axis]);
    }
}

} // namespace PlotData
