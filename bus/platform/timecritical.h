#pragma once

// Raises the calling thread's scheduling priority for as long as the object
// lives, for work that must happen at its time (the trace player's sends),
// so that other busy programs on the machine delay it less. The old priority
// comes back in the destructor, which runs in the same thread. Where the
// system does not allow it (no right to real-time scheduling, no right to a
// lower nice value), the thread quietly keeps its priority.
//
// Linux and other POSIX systems: real-time round-robin scheduling at a low
// real-time priority, else (Linux) a nice value of -10 for this thread.
// Windows: the thread's highest priority and a system timer resolution of
// 1 ms, without which a wait for a due time lasts up to 15.6 ms.
class TimeCriticalThread
{
public:
    TimeCriticalThread();
    ~TimeCriticalThread();
    TimeCriticalThread(const TimeCriticalThread &) = delete;
    TimeCriticalThread &operator=(const TimeCriticalThread &) = delete;

    // Whether the priority was raised.
    bool raised() const { return m_raised; }

private:
    bool m_raised = false;
    bool m_realTime = false;    // POSIX: real-time policy set (else nice)
    bool m_timerPeriod = false; // Windows: 1 ms timer resolution requested
    int m_oldPolicy = 0;
    int m_oldPriority = 0;      // sched priority, nice value or Windows thread priority
};
