#include "timecritical.h"

#include <pthread.h>
#include <sched.h>

#ifdef __linux__
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

#ifdef __linux__
// The nice value of a single thread is set through its thread id.
id_t threadId()
{
    return id_t(::syscall(SYS_gettid));
}
#endif

} // namespace

TimeCriticalThread::TimeCriticalThread()
{
    sched_param old{};
    if (pthread_getschedparam(pthread_self(), &m_oldPolicy, &old) == 0) {
        m_oldPriority = old.sched_priority;
        // Low among the real-time priorities: above every ordinary program,
        // below the kernel's interrupt threads.
        sched_param raised{};
        raised.sched_priority = sched_get_priority_min(SCHED_RR) + 9;
        if (raised.sched_priority > sched_get_priority_max(SCHED_RR))
            raised.sched_priority = sched_get_priority_max(SCHED_RR);
        if (pthread_setschedparam(pthread_self(), SCHED_RR, &raised) == 0) {
            m_realTime = true;
            m_raised = true;
            return;
        }
    }
#ifdef __linux__
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, threadId());
    if (errno == 0 && nice > -10 && ::setpriority(PRIO_PROCESS, threadId(), -10) == 0) {
        m_oldPriority = nice;
        m_raised = true;
    }
#endif
}

TimeCriticalThread::~TimeCriticalThread()
{
    if (!m_raised)
        return;
    if (m_realTime) {
        sched_param old{};
        old.sched_priority = m_oldPriority;
        pthread_setschedparam(pthread_self(), m_oldPolicy, &old);
        return;
    }
#ifdef __linux__
    ::setpriority(PRIO_PROCESS, threadId(), m_oldPriority);
#endif
}
