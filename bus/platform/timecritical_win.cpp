#include "timecritical.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <timeapi.h>

TimeCriticalThread::TimeCriticalThread()
{
    // Without it, waits end on the default 15.6 ms timer tick.
    m_timerPeriod = timeBeginPeriod(1) == TIMERR_NOERROR;
    const int old = GetThreadPriority(GetCurrentThread());
    if (old != THREAD_PRIORITY_ERROR_RETURN && SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST)) {
        m_oldPriority = old;
        m_raised = true;
    }
}

TimeCriticalThread::~TimeCriticalThread()
{
    if (m_raised)
        SetThreadPriority(GetCurrentThread(), m_oldPriority);
    if (m_timerPeriod)
        timeEndPeriod(1);
}
