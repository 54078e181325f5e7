#include "signalrecorder.h"

#include "symbolfile.h"

#include <QHash>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <cmath>

void SignalRecorder::setSymbols(std::shared_ptr<const SymbolDatabase> symbols)
{
    m_symbols = std::move(symbols);
    resolve();
}

bool SignalRecorder::add(const PlotSignalRef &ref)
{
    for (const Trace &trace : std::as_const(m_traces)) {
        if (trace.ref == ref)
            return false;
    }
    Trace trace;
    trace.ref = ref;
    m_traces.append(trace);
    resolve();
    return true;
}

void SignalRecorder::remove(int index)
{
    if (index < 0 || index >= m_traces.size())
        return;
    m_traces.removeAt(index);
    resolve();
}

void SignalRecorder::setAxis(int index, int axis)
{
    if (index < 0 || index >= m_traces.size())
        return;
    m_traces[index].axis = axis == 1 ? 1 : 0;
}

void SignalRecorder::clearData()
{
    for (Trace &trace : m_traces) {
        trace.points.clear();
        trace.blocks.clear();
        trace.count = 0;
        trace.last = trace.min = trace.max = 0.0;
    }
    m_started = false;
    m_latest = 0.0;
}

void SignalRecorder::resolve()
{
    m_lookup.clear();
    m_hasLookup = false;
    if (m_symbols)
        m_lookup.resize(size_t(m_symbols->messages.size()));

    for (int t = 0; t < m_traces.size(); ++t) {
        Trace &trace = m_traces[t];
        trace.resolved = false;
        if (!m_symbols)
            continue;
        const QList<SymMessage> &messages = m_symbols->messages;
        for (int m = 0; m < messages.size() && !trace.resolved; ++m) {
            const SymMessage &message = messages.at(m);
            if (message.name != trace.ref.message || message.muxName != trace.ref.mux)
                continue;
            // A namesake without the variable does not end the search.
            for (int v = 0; v < message.variables.size(); ++v) {
                const SymVariable &variable = message.variables.at(v);
                if (variable.name != trace.ref.variable)
                    continue;
                m_lookup[size_t(m)].append({t, v});
                trace.unit = variable.unit;
                trace.resolved = true;
                m_hasLookup = true;
                break;
            }
        }
    }
}

void SignalRecorder::record(Trace &trace, double t, double value)
{
    if (trace.count == 0) {
        trace.min = trace.max = value;
    } else {
        trace.min = std::min(trace.min, value);
        trace.max = std::max(trace.max, value);
    }
    trace.last = value;
    ++trace.count;
    trace.points.append(QPointF(t, value));
    summarizePoint(trace.points.size() - 1, trace.points.last(), &trace.blocks);
    const int drop = m_maxPoints / 10;
    if (trace.points.size() > m_maxPoints && drop > 0) {
        trace.points.remove(0, drop);
        if (drop % BlockPoints == 0)
            trace.blocks.remove(0, drop / BlockPoints);
        else
            summarize(trace.points, &trace.blocks);
    }
}

void SignalRecorder::summarizePoint(qsizetype index, const QPointF &point, QList<PointBlock> *blocks)
{
    const double x = std::isnan(point.x()) ? HUGE_VAL : point.x();
    const double y = point.y();
    const int offset = int(index % BlockPoints);
    if (offset == 0) {
        blocks->append({x, y, y, 0, 0});
        return;
    }
    PointBlock &block = blocks->last();
    block.maxX = std::max(block.maxX, x);
    if (std::isnan(block.lowY)) {   // only NaN so far: the first real value sets both
        block.lowY = block.highY = y;
        block.low = block.high = quint8(offset);
    } else if (y < block.lowY) {
        block.lowY = y;
        block.low = quint8(offset);
    } else if (y > block.highY) {
        block.highY = y;
        block.high = quint8(offset);
    }
}

void SignalRecorder::summarize(const QList<QPointF> &points, QList<PointBlock> *blocks)
{
    blocks->clear();
    blocks->reserve((points.size() + BlockPoints - 1) / BlockPoints);
    for (qsizetype i = 0; i < points.size(); ++i)
        summarizePoint(i, points.at(i), blocks);
}

void SignalRecorder::handleFrames(const QList<CanFrame> &frames)
{
    if (!m_symbols || !m_hasLookup)
        return;
    const SymbolDatabase &db = *m_symbols;
    const SymMessage *firstMessage = db.messages.constData();
    for (const CanFrame &frame : frames) {
        if (frame.rtr || frame.error || frame.status)
            continue;
        const SymMessage *message = db.find(frame);
        if (!message)
            continue;
        const auto &targets = m_lookup[size_t(message - firstMessage)];
        if (targets.isEmpty())
            continue;

        if (!m_started) {
            m_origin = frame.timestampUs;
            m_started = true;
        }
        const double t = double(frame.timestampUs - m_origin) / 1e6;
        m_latest = std::max(m_latest, t);

        for (const Slot &slot : targets) {
            const SymVariable &variable = message->variables.at(slot.variable);
            if (!variable.isNumeric() || !SymbolDatabase::coversFrame(variable, frame))
                continue;
            const double value = db.physicalValue(variable, frame);
            // NaN or infinity of a float signal has no place on a value axis
            // and would poison the minimum, the maximum and the axis ranges.
            if (!std::isfinite(value))
                continue;
            record(m_traces[slot.trace], t, value);
        }
    }
}

SignalRecorder::TimeWindow SignalRecorder::visibleWindow(double latest, double windowSeconds, bool live,
                                                         double scrollStart)
{
    TimeWindow w;
    latest = std::max(latest, 0.0);
    if (windowSeconds <= 0) {
        w.start = 0.0;
        w.maxStart = 0.0;
        w.end = latest > 0 ? latest : 1.0;
        return w;
    }
    w.maxStart = std::max(latest - windowSeconds, 0.0);
    w.start = live ? w.maxStart : std::max(std::min(scrollStart, w.maxStart), 0.0);
    w.end = w.start + windowSeconds;
    return w;
}

std::pair<int, int> SignalRecorder::visibleRange(const QList<QPointF> &points, double from, double to)
{
    const auto byX = [](const QPointF &p, double x) { return p.x() < x; };
    const auto begin = points.cbegin();
    const auto p = std::lower_bound(begin, points.cend(), from, byX);
    const int first = p == begin ? 0 : int(p - begin) - 1;
    const auto q = std::upper_bound(begin + first, points.cend(), to,
                                    [](double x, const QPointF &point) { return x < point.x(); });
    const int last = q == points.cend() ? int(points.size()) : int(q - begin) + 1;
    return {first, last};
}

bool SignalRecorder::valueAt(const QList<QPointF> &points, double t, double *out)
{
    const auto q = std::upper_bound(points.cbegin(), points.cend(), t,
                                    [](double x, const QPointF &point) { return x < point.x(); });
    if (q == points.cbegin())
        return false;
    if (out)
        *out = (q - 1)->y();
    return true;
}

QList<PlotSignalRef> SignalRecorder::availableSignals(const SymbolDatabase &db)
{
    QList<PlotSignalRef> result;
    QSet<QString> seen;
    for (const SymMessage &message : db.messages) {
        for (const SymVariable &variable : message.variables) {
            if (!variable.isNumeric())
                continue;
            const PlotSignalRef ref{message.name, message.muxName, variable.name};
            if (!seen.contains(ref.toString())) {
                seen.insert(ref.toString());
                result.append(ref);
            }
        }
    }
    return result;
}

QList<PlotSignalRef> SignalRecorder::signalsNamed(const SymbolDatabase &db, const QStringList &names,
                                                 QStringList *unknown)
{
    QHash<QString, PlotSignalRef> byName;
    for (const PlotSignalRef &ref : availableSignals(db))
        byName.insert(ref.displayName(), ref);
    QList<PlotSignalRef> result;
    for (const QString &name : names) {
        const auto found = byName.constFind(name.trimmed());
        if (found == byName.constEnd()) {
            if (unknown)
                unknown->append(name);
        } else if (!result.contains(*found)) {
            result.append(*found);
        }
    }
    return result;
}
