#include "monotonicclock.h"

#include <time.h>

qint64 MonotonicClock::nowUs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000 + qint64(now.tv_nsec) / 1000;
}
