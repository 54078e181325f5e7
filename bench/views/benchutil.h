#pragma once

#include <QFile>
#include <QList>

#include <chrono>
#include <cstdio>
#include <ctime>

#include "canframe.h"

namespace BenchUtil {

inline double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// CPU time of this process in seconds. The machines are shared, so wall
// time depends on the neighbours; CPU time is what the code itself costs.
inline double cpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Peak resident memory of this process in bytes (VmHWM).
inline qint64 peakMemoryBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

// Traffic of `identifiers` distinct standard identifiers with changing data.
inline QList<CanFrame> traffic(int count, int identifiers, qint64 firstUs = 0)
{
    QList<CanFrame> frames;
    frames.reserve(count);
    for (int i = 0; i < count; ++i) {
        CanFrame f;
        f.id = quint32(0x100 + i % identifiers);
        f.dlc = 8;
        for (int b = 0; b < 8; ++b)
            f.data[b] = quint8(i >> (b % 3));
        f.timestampUs = firstUs + i * 10;
        frames.append(f);
    }
    return frames;
}

} // namespace BenchUtil
