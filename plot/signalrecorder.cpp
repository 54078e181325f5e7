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
        trace.points.squeeze();
        trace.pyramid.clear();
        trace.count = 0;
        trace.last = trace.min = trace.max = 0.0;
    }
    m_started = false;
    m_latest = 0.0;
    m_droppedPoints = 0;
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
        trace.variable = nullptr;
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
                trace.variable = &variable;
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
    // Grown by doubling as the list itself would, but never beyond the
    // limit: near 20,000,000 points a doubling would leave much of the last
    // block unused (and committed memory on Windows).
    if (trace.points.size() == trace.points.capacity()) {
        const qsizetype limit = qsizetype(m_maxPoints) + 1;
        if (trace.points.capacity() < limit)
            trace.points.reserve(std::min(limit, std::max<qsizetype>(2 * trace.points.capacity(), 1024)));
    }
    trace.points.append(QPointF(t, value));
    trace.pyramid.append(trace.points.size() - 1, trace.points.last());
    const int drop = m_maxPoints / 10;
    if (trace.points.size() > m_maxPoints && drop > 0) {
        // The list's start moves on without copying, and so does the summary.
        trace.points.remove(0, drop);
        trace.pyramid.dropFront(trace.points, drop);
        m_droppedPoints += drop;
    }
}

void SignalRecorder::setMaxPoints(int maxPoints)
{
    m_maxPoints = maxPoints;
    for (Trace &trace : m_traces) {
        const qsizetype excess = trace.points.size() - std::max(maxPoints, 0);
        if (excess > 0) {
            trace.points.remove(0, excess);
            trace.pyramid.dropFront(trace.points, excess);
            m_droppedPoints += excess;
        }
    }
}

qint64 SignalRecorder::memoryBytes() const
{
    qint64 bytes = 0;
    for (const Trace &trace : m_traces)
        bytes += trace.points.capacity() * qint64(sizeof(QPointF)) + trace.pyramid.memoryBytes();
    return bytes;
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
            if (!isPlottable(variable) || !SymbolDatabase::coversFrame(variable, frame))
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

std::pair<int, int> SignalRecorder::visibleRange(const Trace &trace, double from, double to)
{
    const QList<QPointF> &points = trace.points;
    const qsizetype p = trace.pyramid.lowerBound(points, from);
    const qsizetype first = p == 0 ? 0 : p - 1;
    const qsizetype q = trace.pyramid.upperBound(points, to, first);
    const qsizetype last = q == points.size() ? q : q + 1;
    return {int(first), int(last)};
}

int SignalRecorder::indexAtOrBefore(const Trace &trace, double t)
{
    return int(trace.pyramid.upperBound(trace.points, t)) - 1;
}

bool SignalRecorder::valueAt(const Trace &trace, double t, double *out)
{
    const int index = indexAtOrBefore(trace, t);
    if (index < 0)
        return false;
    if (out)
        *out = trace.points.at(index).y();
    return true;
}

int SignalRecorder::nearestIndex(const Trace &trace, double t)
{
    const QList<QPointF> &points = trace.points;
    if (points.isEmpty())
        return -1;
    const qsizetype after = trace.pyramid.lowerBound(points, t);
    if (after == 0)
        return 0;
    if (after == points.size())
        return int(after - 1);
    // The one before lies earlier than t; the found one at or after it.
    const double before = t - points.at(after - 1).x();
    const double later = points.at(after).x() - t;
    return int(later < before ? after : after - 1);
}

int SignalRecorder::nextIndex(const Trace &trace, double t)
{
    const qsizetype index = trace.pyramid.upperBound(trace.points, t);
    return index < trace.points.size() ? int(index) : -1;
}

int SignalRecorder::previousIndex(const Trace &trace, double t)
{
    return int(trace.pyramid.lowerBound(trace.points, t)) - 1;
}

bool SignalRecorder::isPlottable(const SymVariable &variable)
{
    return variable.isNumeric();
}

bool SignalRecorder::checkPlottable(const SymbolDatabase &db, const PlotSignalRef &ref, QString *error)
{
    const SymVariable *found = nullptr;
    for (const SymMessage &message : db.messages) {
        if (message.name != ref.message || message.muxName != ref.mux)
            continue;
        for (const SymVariable &variable : message.variables) {
            if (variable.name == ref.variable) {
                found = &variable;
                break;
            }
        }
        if (found)
            break;
    }
    QString text;
    if (!found)
        text = QStringLiteral("%1 ist nicht in der Symboldatei.").arg(ref.displayName());
    else if (found->type == SymType::String)
        text = QStringLiteral("%1 ist eine Zeichenkette und kann nicht geplottet werden.").arg(ref.displayName());
    else if (!isPlottable(*found))
        text = QStringLiteral("%1 enthält Rohdaten und kann nicht geplottet werden.").arg(ref.displayName());
    if (text.isEmpty())
        return true;
    if (error)
        *error = text;
    return false;
}

QList<PlotSignalRef> SignalRecorder::availableSignals(const SymbolDatabase &db)
{
    QList<PlotSignalRef> result;
    QSet<QString> seen;
    for (const SymMessage &message : db.messages) {
        for (const SymVariable &variable : message.variables) {
            if (!isPlottable(variable))
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
