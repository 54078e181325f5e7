#include "plotstats.h"

namespace PlotStats {

Stats compute(const SignalRecorder::Trace &trace, double from, double to)
{
    Stats stats;
    const QList<QPointF> &points = trace.points;
    if (points.isEmpty() || from > to)
        return stats;
    const qsizetype first = trace.pyramid.lowerBound(points, from);
    const qsizetype last = trace.pyramid.upperBound(points, to, first);
    if (first >= last)
        return stats;
    PlotPyramid summaryOfHand;
    const PlotPyramid *pyramid = &trace.pyramid;
    if (!pyramid->covers(points)) {   // a trace filled by hand
        summaryOfHand.rebuild(points);
        pyramid = &summaryOfHand;
    }
    const PlotPyramid::Summary s = pyramid->summary(points, first, last);
    stats.count = s.count;
    stats.min = s.lowY;
    stats.max = s.highY;
    stats.mean = s.sum / double(s.count);
    stats.first = points.at(first).y();
    stats.last = points.at(last - 1).y();
    stats.firstTime = points.at(first).x();
    stats.lastTime = points.at(last - 1).x();
    return stats;
}

} // namespace PlotStats
