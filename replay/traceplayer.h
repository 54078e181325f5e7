#pragma once

#include "replayengine.h"
#include "replayoptions.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class CanBackend;
class ReplaySource;
class ReplayTarget;

// Plays a trace onto the bus from a thread of its own, so
// that the timing does not depend on how busy the GUI thread is and a slow
// or failing write never blocks the window. The thread sleeps on a
// condition variable until the next due time of the ReplayEngine, sends
// what is due back to back, and wakes early for pause, resume and stop.
//
// Threads: start, pause, resume, stop and progress are called in the owning
// (GUI) thread. The player thread alone touches the engine, the source and
// the target; the two sides share only the members under m_lock. `finished`
// is emitted in the owning thread when the replay ended by itself (end of
// the last pass, lost connection, unreadable source), never after stop().
// Whoever closes the backend stops the player first. While it plays with
// timing, the thread runs at a raised priority where the system allows it
// (TimeCriticalThread), so other busy programs delay its sends less.
class TracePlayer : public QObject
{
    Q_OBJECT

public:
    using Progress = ReplayEngine::Progress;

    explicit TracePlayer(QObject *parent = nullptr);
    ~TracePlayer() override;

    // Starts a replay of `source` onto `backend` (or any `target`). False with
    // *error when one is running or the source holds nothing to send.
    bool start(std::unique_ptr<ReplaySource> source, CanBackend *backend, const ReplayOptions &options,
               QString *error);
    bool start(std::unique_ptr<ReplaySource> source, std::unique_ptr<ReplayTarget> target,
               const ReplayOptions &options, QString *error);
    void pause();
    void resume();
    // Ends the replay and waits for the thread; nothing is sent afterwards.
    void stop();

    // Started, and the end not yet delivered through `finished` (also while paused).
    bool isActive() const;
    bool isPaused() const;
    // The figures as of the player's last step.
    Progress progress() const;
    QString message() const;

    // The clock of the due times: monotonic nanoseconds.
    static qint64 nowNs();

    // Whether the player's thread asks for a raised priority while it plays
    // with timing (not at "max", where it would only take a core from the
    // rest); on by default. For the next start.
    void setRaisePriority(bool raise) { m_raisePriority = raise; }
    // Whether the system granted it to the running or last replay.
    bool priorityRaised() const { return m_priorityRaised.load(); }

signals:
    // The replay ended by itself; `message` says why when it was not the end
    // of the trace (empty then).
    void finished(int state, const QString &message);

private:
    void run();
    void onThreadEnded();

    std::unique_ptr<ReplaySource> m_source;
    std::unique_ptr<ReplayTarget> m_target;
    std::unique_ptr<ReplayEngine> m_engine;
    std::thread m_thread;
    bool m_raisePriority = true;
    bool m_timed = true;                      // set at start, read by the thread
    std::atomic<bool> m_priorityRaised{false};

    mutable std::mutex m_lock;         // guards the members below
    std::condition_variable m_wake;
    bool m_stopRequested = false;
    bool m_pauseRequested = false;
    bool m_running = false;
    Progress m_progress;
    QString m_message;
};
