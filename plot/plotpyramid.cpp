#include "plotpyramid.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int shiftOf(int level)
{
    return PlotPyramid::FanoutBits * (level + 1);
}

// Folds item extremes into a running state with the rule of a per-point scan:
// the first lowest and first highest win; NaN y count only while nothing
// else has been seen, and an item without a number changes nothing.
inline void fold(PlotPyramid::Summary &s, double lowY, qsizetype low, double highY, qsizetype high)
{
    if (s.low >= 0 && std::isnan(lowY))
        return;
    if (s.low < 0 || std::isnan(s.lowY)) {
        s.lowY = lowY;
        s.low = low;
        s.highY = highY;
        s.high = high;
        return;
    }
    if (lowY < s.lowY) {
        s.lowY = lowY;
        s.low = low;
    }
    if (highY > s.highY) {
        s.highY = highY;
        s.high = high;
    }
}

} // namespace

void PlotPyramid::clear()
{
    m_levels.clear();
    m_size = 0;
}

void PlotPyramid::append(qsizetype index, const QPointF &point)
{
    const double x = point.x();
    const double y = point.y();
    const bool nanX = std::isnan(x);
    const double runX = nanX ? HUGE_VAL : x;
    const double minX = nanX ? -HUGE_VAL : x;
    m_size = index + 1;
    if (m_levels.empty())
        m_levels.emplace_back();
    // A new level starts when the top one gets its second node; its first
    // node is the old top node, which begins at point 0 like it.
    const int top = int(m_levels.size()) - 1;
    if (index == qsizetype(1) << shiftOf(top)) {
        const Node first = m_levels.back().front();
        m_levels.emplace_back(1, first);
    }
    for (int level = 0; level < int(m_levels.size()); ++level) {
        std::vector<Node> &nodes = m_levels[size_t(level)];
        const qsizetype n = index >> shiftOf(level);
        const quint32 offset = quint32(index - (n << shiftOf(level)));
        if (offset == 0) {
            Node node;
            node.runMax = nodes.empty() ? runX : std::max(nodes.back().runMax, runX);
            node.minX = minX;
            node.lowY = node.highY = y;
            node.sum = std::isnan(y) ? 0.0 : y;
            nodes.push_back(node);
            continue;
        }
        Node &node = nodes.back();
        node.runMax = std::max(node.runMax, runX);
        node.minX = std::min(node.minX, minX);
        if (std::isnan(y))
            continue;
        node.sum += y;
        if (std::isnan(node.lowY)) {
            node.lowY = node.highY = y;
            node.low = node.high = offset;
        } else if (y < node.lowY) {
            node.lowY = y;
            node.low = offset;
        } else if (y > node.highY) {
            node.highY = y;
            node.high = offset;
        }
    }
}

void PlotPyramid::rebuild(const QList<QPointF> &points)
{
    clear();
    if (points.isEmpty())
        return;
    m_levels.emplace_back();
    m_levels.front().reserve(size_t((points.size() + Fanout - 1) / Fanout));
    const QPointF *p = points.constData();
    for (qsizetype i = 0; i < points.size(); ++i)
        append(i, p[i]);
}

void PlotPyramid::dropFront(const QList<QPointF> &points, qsizetype count)
{
    if (count <= 0)
        return;
    const qsizetype nodes = count >> FanoutBits;
    // The running maximum after the cut stays what it was only when nothing
    // removed lay later than the first point kept.
    const bool movable = (count & (Fanout - 1)) == 0 && m_size == points.size() + count && !m_levels.empty()
        && nodes < qsizetype(m_levels.front().size()) && !points.isEmpty()
        && m_levels.front()[size_t(nodes - 1)].runMax <= points.first().x();
    if (!movable) {
        rebuild(points);
        return;
    }
    std::vector<Node> &level0 = m_levels.front();
    level0.erase(level0.begin(), level0.begin() + nodes);
    m_size = points.size();
    rebuildUpper();
}

void PlotPyramid::rebuildUpper()
{
    m_levels.resize(1);
    while (m_levels.back().size() > 1) {
        const int level = int(m_levels.size()) - 1;
        const qsizetype childSpan = qsizetype(1) << shiftOf(level);
        std::vector<Node> parents;
        const std::vector<Node> &children = m_levels.back();
        parents.reserve((children.size() + Fanout - 1) / Fanout);
        for (size_t first = 0; first < children.size(); first += Fanout) {
            const size_t end = std::min(children.size(), first + Fanout);
            Summary s;
            s.minX = HUGE_VAL;
            for (size_t c = first; c < end; ++c) {
                const Node &child = children[c];
                const qsizetype base = qsizetype(c - first) * childSpan;
                fold(s, child.lowY, base + child.low, child.highY, base + child.high);
                s.sum += child.sum;
                s.minX = std::min(s.minX, child.minX);
            }
            Node node;
            node.runMax = children[end - 1].runMax;
            node.minX = s.minX;
            node.lowY = s.lowY;
            node.highY = s.highY;
            node.sum = s.sum;
            node.low = quint32(s.low);
            node.high = quint32(s.high);
            parents.push_back(node);
        }
        m_levels.push_back(std::move(parents));
    }
}

PlotPyramid::Summary PlotPyramid::summary(const QList<QPointF> &points, qsizetype first, qsizetype last) const
{
    Summary s;
    first = std::max<qsizetype>(first, 0);
    last = std::min(last, points.size());
    if (first >= last)
        return s;
    s.count = last - first;
    s.minX = HUGE_VAL;
    const QPointF *p = points.constData();
    const int levels = covers(points) ? int(m_levels.size()) : 0;
    qsizetype pos = first;
    while (pos < last) {
        if (levels > 0 && (pos & (Fanout - 1)) == 0 && pos + Fanout <= last) {
            int level = 0;
            while (level + 1 < levels) {
                const qsizetype span = qsizetype(1) << shiftOf(level + 1);
                if ((pos & (span - 1)) != 0 || pos + span > last)
                    break;
                ++level;
            }
            const Node &node = m_levels[size_t(level)][size_t(pos >> shiftOf(level))];
            fold(s, node.lowY, pos + node.low, node.highY, pos + node.high);
            s.sum += node.sum;
            s.minX = std::min(s.minX, node.minX);
            pos += qsizetype(1) << shiftOf(level);
            continue;
        }
        const double y = p[pos].y();
        fold(s, y, pos, y, pos);
        if (!std::isnan(y))
            s.sum += y;
        const double x = p[pos].x();
        s.minX = std::isnan(x) ? -HUGE_VAL : std::min(s.minX, x);
        ++pos;
    }
    return s;
}

double PlotPyramid::runningMax(const QList<QPointF> &points, qsizetype index) const
{
    const QPointF *p = points.constData();
    const qsizetype node = index >> FanoutBits;
    double r = -HUGE_VAL;
    qsizetype k = 0;
    if (covers(points) && node > 0) {
        r = m_levels.front()[size_t(node - 1)].runMax;
        k = node << FanoutBits;
    }
    for (; k <= index; ++k)
        r = std::isnan(p[k].x()) ? HUGE_VAL : std::max(r, p[k].x());
    return r;
}

template<typename Before>
qsizetype PlotPyramid::search(const QList<QPointF> &points, qsizetype from, Before before) const
{
    const qsizetype size = points.size();
    from = std::max<qsizetype>(from, 0);
    if (from >= size)
        return size;
    const QPointF *p = points.constData();
    const auto xOf = [p](qsizetype k) { return std::isnan(p[k].x()) ? HUGE_VAL : p[k].x(); };
    if (!covers(points)) {
        // No summary (a list filled by hand): a plain scan.
        double r = -HUGE_VAL;
        for (qsizetype k = 0; k < size; ++k) {
            r = std::max(r, xOf(k));
            if (k >= from && !before(r))
                return k;
        }
        return size;
    }
    const std::vector<Node> &nodes = m_levels.front();
    const qsizetype count = qsizetype(nodes.size());
    qsizetype n = from >> FanoutBits;
    if (before(nodes[size_t(n)].runMax)) {
        // Galloping from the start node: searches of a sweep through the
        // window stay near each other.
        qsizetype lo = n;
        qsizetype step = 1;
        qsizetype hi = lo + 1;
        while (hi < count && before(nodes[size_t(hi)].runMax)) {
            lo = hi;
            step *= 2;
            hi = lo + step;
        }
        hi = std::min(hi, count);
        while (hi - lo > 1) {
            const qsizetype mid = lo + (hi - lo) / 2;
            if (before(nodes[size_t(mid)].runMax))
                lo = mid;
            else
                hi = mid;
        }
        n = hi;
        if (n >= count)
            return size;
    }
    double r = n > 0 ? nodes[size_t(n - 1)].runMax : -HUGE_VAL;
    const qsizetype end = std::min(size, (n + 1) << FanoutBits);
    for (qsizetype k = n << FanoutBits; k < end; ++k) {
        r = std::max(r, xOf(k));
        if (k >= from && !before(r))
            return k;
    }
    return end;
}

qsizetype PlotPyramid::lowerBound(const QList<QPointF> &points, double x, qsizetype from) const
{
    return search(points, from, [x](double r) { return r < x; });
}

qsizetype PlotPyramid::upperBound(const QList<QPointF> &points, double x, qsizetype from) const
{
    return search(points, from, [x](double r) { return r <= x; });
}

qsizetype PlotPyramid::memoryBytes() const
{
    qsizetype bytes = 0;
    for (const std::vector<Node> &nodes : m_levels)
        bytes += qsizetype(nodes.capacity() * sizeof(Node));
    return bytes;
}
