#include "monotonicclock.h"

void MonotonicClock::start()
{
    m_startUs = nowUs();
}

bool MonotonicClock::isStarted() const
{
    return m_startUs >= 0;
}

qint64 MonotonicClock::elapsedUs() const
{
    return isStarted() ? toElapsedUs(nowUs()) : 0;
}

qint64 MonotonicClock::toElapsedUs(qint64 nowUsValue) const
{
    if (!isStarted())
        return 0;
    const qint64 elapsed = nowUsValue - m_startUs;
    return elapsed < 0 ? 0 : elapsed;
}
