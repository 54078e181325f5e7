#pragma once

#include "replayoptions.h"

#include "canframe.h"

#include <QString>

#include <functional>
#include <vector>

class ReplaySource;
class ReplayTarget;

// The timing of a replay, without threads: which entry is sent when. Every
// entry has an absolute due time on a monotonic nanosecond clock, computed
// from the start of the pass and the sum of the recorded time distances, so
// rounding never adds up over a long trace. The player thread (TracePlayer)
// calls step() and sleeps until the time it returns; tests call it with a
// clock of their own.
//
// Rules: entries go out in recorded order; a time step backwards counts as
// no pause; a pause longer than maxPauseUs is cut to it; after a pause of the
// player the remaining timing goes on from where it stopped (nothing that
// fell due meanwhile is sent in a burst); every pass starts with its first
// entry right after the last entry of the pass before, but a pass lasts at
// least ReplayOptions::MinPassUs of trace time.
class ReplayEngine
{
public:
    enum State { Idle, Running, Paused, Finished, Stopped, ConnectionLost, Failed };
    using Clock = std::function<qint64()>;   // nanoseconds, monotonic

    struct Progress
    {
        State state = Idle;
        qint64 sent = 0;
        qint64 failed = 0;
        qint64 maxLatenessNs = 0;   // largest send time after the due time (not at "max")
        qint64 position = 0;        // entries of this pass read so far, sent or not
        qint64 total = -1;          // entries of one pass; -1 while unknown
        qint64 traceUs = 0;         // trace time of the entry sent last
        int pass = 0;               // 1 for the first pass
        QString lastError;          // text of the last failed send
    };

    ReplayEngine(ReplaySource *source, ReplayTarget *target, const ReplayOptions &options, Clock clock);

    // Reads up to the first entry to send; its due time is now. False (state
    // Failed, message()) when the source fails or holds nothing to send.
    bool start();
    // The entry now waiting is due at this moment (the player thread calls it
    // when it begins, so that its own start-up does not count as lateness).
    void restartClock();
    // Sends every entry that is due, at most maxSends of them, back to back:
    // those due at one reading of the clock go to the target as one burst.
    // Returns the due time of the next entry, or -1 once the replay has
    // ended (state() tells how) or while it is paused.
    qint64 step(int maxSends = 4096);
    void pause();
    void resume();
    void stop();

    State state() const { return m_progress.state; }
    const Progress &progress() const { return m_progress; }
    // Why the replay ended, for the user; empty after a normal end or stop.
    QString message() const { return m_message; }

private:
    bool selected(const CanFrame &frame, qint64 traceUs) const;
    // Reads on to the next entry to send; false at the end of the pass or on
    // a read failure (state Failed then).
    bool fetch();
    bool beginPass();
    qint64 dueNs() const;
    // Trace time on the clock at the chosen speed; 0 at "max".
    qint64 scaledNs(qint64 traceUs) const;
    void fail(State state, const QString &message);

    ReplaySource *m_source;
    ReplayTarget *m_target;
    ReplayOptions m_options;
    Clock m_clock;
    Progress m_progress;
    QString m_message;

    CanFrame m_next;            // the entry to send next
    qint64 m_nextTraceUs = 0;
    bool m_firstOfPass = true;
    qint64 m_prevTraceUs = 0;
    qint64 m_playUs = 0;        // recorded time from the start of the pass to m_next, after the rules
    qint64 m_passStartNs = 0;   // clock time at which the pass's first entry is due
    qint64 m_pausedAtNs = 0;

    // The entries of one burst (all due at one clock reading), kept between
    // steps so their buffers are allocated once.
    std::vector<CanFrame> m_burst;
    std::vector<qint64> m_burstTraceUs;
    std::vector<qint64> m_burstDueNs;
};
