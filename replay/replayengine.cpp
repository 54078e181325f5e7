#include "replayengine.h"

#include "replaysource.h"
#include "replaytarget.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ReplayEngine", text);
}

} // namespace

int ReplayTarget::sendBurst(const CanFrame *frames, int count, QString *error)
{
    for (int i = 0; i < count; ++i) {
        if (!send(frames[i], error))
            return i;
    }
    return count;
}

ReplayEngine::ReplayEngine(ReplaySource *source, ReplayTarget *target, const ReplayOptions &options, Clock clock)
    : m_source(source)
    , m_target(target)
    , m_options(options)
    , m_clock(std::move(clock))
{
}

bool ReplayEngine::start()
{
    m_progress = Progress();
    m_message.clear();
    m_progress.state = Running;
    m_passStartNs = m_clock();
    if (!beginPass()) {
        if (m_progress.state != Failed)
            fail(Failed, tr("Im Trace ist nichts abzuspielen (Zeitbereich, Filter und Richtung prüfen)."));
        return false;
    }
    return true;
}

bool ReplayEngine::beginPass()
{
    QString error;
    if (!m_source->rewind(&error)) {
        fail(Failed, error);
        return false;
    }
    ++m_progress.pass;
    m_progress.position = 0;
    m_progress.total = m_source->size();
    m_firstOfPass = true;
    m_playUs = 0;
    return fetch();
}

bool ReplayEngine::selected(const CanFrame &frame, qint64 traceUs) const
{
    if (frame.error || frame.status)
        return false;
    if (!(m_options.directions & (frame.tx ? ReplayOptions::Sent : ReplayOptions::Received)))
        return false;
    if (traceUs < m_options.fromUs || traceUs > m_options.toUs)
        return false;
    return m_options.filter.accepts(frame);
}

bool ReplayEngine::fetch()
{
    CanFrame frame;
    qint64 traceUs = 0;
    QString error;
    while (m_source->next(&frame, &traceUs, &error)) {
        ++m_progress.position;
        if (!selected(frame, traceUs))
            continue;
        if (m_firstOfPass) {
            m_firstOfPass = false;
        } else {
            // Backwards time is no pause; a huge gap is cut to the limit.
            qint64 pauseUs = traceUs - m_prevTraceUs;
            if (pauseUs < 0)
                pauseUs = 0;
            if (m_options.maxPauseUs > 0 && pauseUs > m_options.maxPauseUs)
                pauseUs = m_options.maxPauseUs;
            m_playUs += pauseUs;
        }
        m_prevTraceUs = traceUs;
        m_next = frame;
        m_nextTraceUs = traceUs;
        return true;
    }
    if (!error.isEmpty())
        fail(Failed, error);
    // The size of a streamed file is known once it was read to the end.
    m_progress.total = m_progress.position;
    return false;
}

qint64 ReplayEngine::scaledNs(qint64 traceUs) const
{
    if (m_options.speed <= 0)
        return 0;
    return std::llround(double(traceUs) * 1000.0 / m_options.speed);
}

qint64 ReplayEngine::dueNs() const
{
    return m_passStartNs + scaledNs(m_playUs);
}

void ReplayEngine::restartClock()
{
    m_passStartNs = m_clock() - (dueNs() - m_passStartNs);
}

qint64 ReplayEngine::step(int maxSends)
{
    if (m_progress.state != Running)
        return -1;
    const bool timed = m_options.speed > 0;
    int sends = 0;
    while (sends < maxSends) {
        // Everything due by now goes to the target as one burst.
        const qint64 now = m_clock();
        m_burst.clear();
        m_burstTraceUs.clear();
        m_burstDueNs.clear();
        while (sends + int(m_burst.size()) < maxSends) {
            const qint64 due = dueNs();
            if (due > now)
                break;
            m_burst.push_back(m_next);
            m_burstTraceUs.push_back(m_nextTraceUs);
            m_burstDueNs.push_back(due);
            if (fetch())
                continue;
            // The end of a pass, or a read failure (state Failed): what was
            // gathered still goes out first.
            if (m_progress.state != Running)
                break;
            const bool more = m_options.loops <= 0 || m_progress.pass < m_options.loops;
            if (!more) {
                m_progress.state = Finished;
                break;
            }
            // The next pass starts where this one ended, with its own first
            // entry, but no pass is shorter than the minimum.
            m_passStartNs = std::max(due, m_passStartNs + scaledNs(ReplayOptions::MinPassUs));
            if (!beginPass()) {
                if (m_progress.state == Running)
                    m_progress.state = Finished;
                break;
            }
        }
        const int count = int(m_burst.size());
        if (count == 0)
            return dueNs();
        int at = 0;
        while (at < count) {
            QString error;
            const int done = std::clamp(m_target->sendBurst(m_burst.data() + at, count - at, &error), 0, count - at);
            if (timed) {
                for (int i = at; i < at + done; ++i)
                    m_progress.maxLatenessNs = std::max(m_progress.maxLatenessNs, now - m_burstDueNs[size_t(i)]);
            }
            m_progress.sent += done;
            at += done;
            if (at == count)
                break;
            ++m_progress.failed;
            m_progress.lastError = error;
            if (m_target->lost()) {
                m_progress.traceUs = m_burstTraceUs[size_t(at)];
                fail(ConnectionLost, tr("Verbindung verloren: %1").arg(error));
                return -1;
            }
            ++at; // that one failed; the rest of the burst still goes
        }
        m_progress.traceUs = m_burstTraceUs.back();
        sends += count;
        if (m_progress.state != Running)
            return -1;
    }
    return dueNs();
}

void ReplayEngine::pause()
{
    if (m_progress.state != Running)
        return;
    m_progress.state = Paused;
    m_pausedAtNs = m_clock();
}

void ReplayEngine::resume()
{
    if (m_progress.state != Paused)
        return;
    // Everything still to come moves by the time spent paused.
    m_passStartNs += m_clock() - m_pausedAtNs;
    m_progress.state = Running;
}

void ReplayEngine::stop()
{
    if (m_progress.state == Running || m_progress.state == Paused)
        m_progress.state = Stopped;
}

void ReplayEngine::fail(State state, const QString &message)
{
    m_progress.state = state;
    m_message = message;
}
