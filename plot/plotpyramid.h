#pragma once

#include <QList>
#include <QPointF>

#include <algorithm>
#include <vector>

// Multi-level summary of a point list in arrival order: level 0 sums up runs
// of Fanout points, every further level Fanout nodes of the level below. It
// answers, for any index range, the lowest and highest point and the sum of
// the values by reading at most about 2 × Fanout items per level, and it
// searches by time on the running maximum of x, which stays ordered even
// when time stamps go backwards (mixed clocks).
//
// The summary does not hold the points: every call is given the list it
// summarises, which must be the one it was built from.
class PlotPyramid
{
public:
    static constexpr int Fanout = 16;
    static constexpr int FanoutBits = 4;

    struct Node
    {
        double runMax = 0.0;   // largest x of all points up to the node's end; +inf after a NaN x
        double minX = 0.0;     // smallest x inside the node; -inf when one is NaN
        double lowY = 0.0;     // first lowest and highest y, NaN y ignored (all NaN: NaN)
        double highY = 0.0;
        double sum = 0.0;      // of the y that are not NaN
        quint32 low = 0;       // offsets of the extremes from the node's first point
        quint32 high = 0;
    };

    // Extremes and sum of an index range.
    struct Summary
    {
        qsizetype count = 0;
        qsizetype low = -1;    // index of the first lowest point (NaN y ignored), -1 when empty
        qsizetype high = -1;
        double lowY = 0.0;
        double highY = 0.0;
        double sum = 0.0;
        double minX = 0.0;     // smallest x, -inf when one is NaN
    };

    void clear();
    // Adds point `index`, which must be the next one of the list.
    void append(qsizetype index, const QPointF &point);
    void rebuild(const QList<QPointF> &points);
    // After the first `count` points were removed from `points`: moves the
    // summary along; cheap when `count` is a whole number of level-0 runs
    // and the removed points lay before the rest in time, else rebuilt.
    void dropFront(const QList<QPointF> &points, qsizetype count);
    qsizetype size() const { return m_size; }
    // True when the summary describes exactly this many points.
    bool covers(const QList<QPointF> &points) const { return m_size == points.size(); }

    Summary summary(const QList<QPointF> &points, qsizetype first, qsizetype last) const;

    // Running maximum of x up to and including point `index`.
    double runningMax(const QList<QPointF> &points, qsizetype index) const;
    // First index at or after `from` whose running maximum of x is >= x
    // (lowerBound) or > x (upperBound); the list's size when there is none.
    qsizetype lowerBound(const QList<QPointF> &points, double x, qsizetype from = 0) const;
    qsizetype upperBound(const QList<QPointF> &points, double x, qsizetype from = 0) const;

    // Bytes held by the summary.
    qsizetype memoryBytes() const;

    // Visits the points [first, last) in order, from the top level down:
    // a node whose smallest x and running maximum of x have the same key
    // (so every point inside has that key, for a key that rises with x) is
    // handed over whole as onNode(key, low, lowY, high, highY), with the
    // indices of its first lowest and first highest point (NaN y ignored,
    // all NaN: NaN); every other point as onPoint(index). Only the nodes
    // along changes of the key are read, each level's siblings one after
    // the other in memory. Without a summary of `points`: point by point.
    template<typename Key, typename OnNode, typename OnPoint>
    void walk(const QList<QPointF> &points, qsizetype first, qsizetype last, Key key, OnNode onNode,
              OnPoint onPoint) const
    {
        first = std::max<qsizetype>(first, 0);
        last = std::min(last, points.size());
        if (!covers(points) || m_levels.empty()) {
            for (qsizetype i = first; i < last; ++i)
                onPoint(i);
            return;
        }
        const int top = int(m_levels.size()) - 1;
        const qsizetype span = qsizetype(1) << (FanoutBits * (top + 1));
        for (qsizetype node = first / span; node * span < last; ++node)
            walkNode(top, node, first, last, key, onNode, onPoint);
    }

private:
    template<typename Key, typename OnNode, typename OnPoint>
    void walkNode(int level, qsizetype node, qsizetype first, qsizetype last, Key &key, OnNode &onNode,
                  OnPoint &onPoint) const
    {
        const qsizetype span = qsizetype(1) << (FanoutBits * (level + 1));
        const qsizetype start = node * span;
        const qsizetype end = std::min(start + span, m_size);
        if (start >= first && end <= last) {
            const Node &n = m_levels[size_t(level)][size_t(node)];
            const auto k = key(n.minX);
            if (k == key(n.runMax)) {
                onNode(k, start + n.low, n.lowY, start + n.high, n.highY);
                return;
            }
        }
        const qsizetype from = std::max(first, start);
        const qsizetype to = std::min(last, end);
        if (level == 0) {
            for (qsizetype i = from; i < to; ++i)
                onPoint(i);
            return;
        }
        const qsizetype childSpan = span >> FanoutBits;
        for (qsizetype child = from / childSpan; child * childSpan < to; ++child)
            walkNode(level - 1, child, first, last, key, onNode, onPoint);
    }

    // Levels 1 and up from level 0.
    void rebuildUpper();
    template<typename Before>
    qsizetype search(const QList<QPointF> &points, qsizetype from, Before before) const;

    std::vector<std::vector<Node>> m_levels;
    qsizetype m_size = 0;
};
