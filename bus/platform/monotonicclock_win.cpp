#include "monotonicclock.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {

qint64 counterFrequency()
{
    // Fixed at system boot, so reading it once is enough.
    static const qint64 frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return qint64(value.QuadPart);
    }();
    return frequency;
}

} // namespace

qint64 MonotonicClock::nowUs()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    const qint64 frequency = counterFrequency();
    if (frequency <= 0)
        return 0;
    const qint64 ticks = qint64(counter.QuadPart);
    // Split to avoid overflowing ticks * 1000000 on long uptimes.
    return (ticks / frequency) * 1000000 + (ticks % frequency) * 1000000 / frequency;
}
