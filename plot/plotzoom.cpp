#include "plotzoom.h"

#include <algorithm>
#include <cmath>

namespace PlotZoom {

Range part(const Range &range, double from, double to)
{
    if (from > to)
        std::swap(from, to);
    return {range.min + from * range.span(), range.min + to * range.span()};
}

Range around(const Range &range, double at, double factor)
{
    const double pivot = range.min + at * range.span();
    return {pivot - (pivot - range.min) * factor, pivot + (range.max - pivot) * factor};
}

double wheelFactor(int angleDelta)
{
    return std::pow(WheelFactor, angleDelta / 120.0);
}

SignalRecorder::TimeWindow freeWindow(double latest, double width, bool live, double start)
{
    SignalRecorder::TimeWindow w;
    width = std::max(width, MinTimeSpan);
    const double newest = std::max(latest - width, 0.0);
    w.start = live ? newest : std::max(start, 0.0);
    w.end = w.start + width;
    w.maxStart = std::max(newest, w.start);
    return w;
}

bool View::operator==(const View &other) const
{
    return windowIndex == other.windowIndex && free == other.free && freeWidth == other.freeWidth
        && live == other.live && start == other.start && autoY == other.autoY && left.min == other.left.min
        && left.max == other.left.max && right.min == other.right.min && right.max == other.right.max;
}

void History::push(const View &view)
{
    if (!m_views.isEmpty() && m_views.constLast() == view)
        return;
    m_views.append(view);
    if (m_views.size() > Depth)
        m_views.removeFirst();
}

View History::pop()
{
    return m_views.isEmpty() ? View() : m_views.takeLast();
}

} // namespace PlotZoom
