#pragma once

#include <QtGlobal>

// Monotonic microsecond clock for the time stamps of the hardware backends.
// Unaffected by changes of the wall-clock time.
class MonotonicClock
{
public:
    // Microseconds since an arbitrary fixed point (system start on most platforms).
    static qint64 nowUs();

    // Sets time 0 of a connection.
    void start();
    bool isStarted() const;
    // Microseconds since start(), never negative; 0 when not started.
    qint64 elapsedUs() const;
    // Converts a reading of nowUs() into this clock's time base, clamped at 0.
    qint64 toElapsedUs(qint64 nowUsValue) const;

private:
    qint64 m_startUs = -1;
};
