// Hand-over speed of the receive queue and the lock time of its flush.
#include "canbackend.h"
#include "queuebackend.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

QByteArray peakMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return "unknown";
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed();
    }
    return "unknown";
}

// A reader thread hands bursts of 4096 frames over while this thread flushes.
// flushPauseUs = 0 flushes as fast as possible; otherwise it pauses between flushes.
void burstThroughput(int flushPauseUs)
{
    constexpr int BurstSize = 4096;
    constexpr int Bursts = 2000;
    constexpr qint64 Total = qint64(BurstSize) * Bursts;
    CanFrameList burst;
    for (int i = 0; i < BurstSize; ++i) {
        CanFrame frame;
        frame.id = quint32(i & 0x7FF);
        frame.dlc = 8;
        frame.timestampUs = i;
        burst.append(frame);
    }

    QueueBackend backend;
    qint64 received = 0;
    QObject::connect(&backend, &CanBackend::framesReceived,
                     [&](const CanFrameList &frames) { received += frames.size(); });

    std::atomic<bool> go {false};
    Clock::time_point producerDone;
    std::thread producer([&] {
        while (!go.load(std::memory_order_acquire)) {
        }
        for (int b = 0; b < Bursts; ++b)
            backend.enqueue(burst);
        producerDone = Clock::now();
    });
    const Clock::time_point start = Clock::now();
    go.store(true, std::memory_order_release);
    while (received < Total) {
        backend.flushQueue();
        if (flushPauseUs > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(flushPauseUs));
    }
    const Clock::time_point end = Clock::now();
    producer.join();

    std::printf("enqueue bursts of %d, flush %s: %.2f million frames/s handed over "
                "(producer %.2f million frames/s), %lld frames\n",
                BurstSize, flushPauseUs > 0 ? "every 1 ms" : "in a tight loop",
                double(Total) / seconds(end - start) / 1e6,
                double(Total) / seconds(producerDone - start) / 1e6, Total);
}

void singleFrameThroughput()
{
    constexpr qint64 Total = 4000000;
    QueueBackend backend;
    qint64 received = 0;
    QObject::connect(&backend, &CanBackend::framesReceived,
                     [&](const CanFrameList &frames) { received += frames.size(); });
    const Clock::time_point start = Clock::now();
    std::thread producer([&] {
        CanFrame frame;
        frame.dlc = 8;
        for (qint64 i = 0; i < Total; ++i) {
            frame.timestampUs = i;
            backend.enqueue(frame);
        }
    });
    while (received < Total)
        backend.flushQueue();
    const Clock::time_point end = Clock::now();
    producer.join();
    std::printf("enqueue single frames: %.2f million frames/s handed over\n",
                double(Total) / seconds(end - start) / 1e6);
}

// Writes a buffer larger than the caches, so every measurement starts cold.
void evictCaches()
{
    static std::vector<char> scratch(64 * 1024 * 1024);
    static char round = 0;
    ++round;
    for (size_t i = 0; i < scratch.size(); i += 64)
        scratch[i] = round;
}

// Time from the flush call to the start of the emission: lock, swap, unlock.
// The batch is freed after the emission, outside the lock, and not counted.
// Filling a large batch leaves the caches cold, so the figures are also taken
// with the caches evicted for every size alike.
void flushLockTime(bool cold)
{
    const int sizes[] = {1, 64, 4096, 65536, 1048576};
    for (int size : sizes) {
        CanFrameList frames(size);
        QueueBackend backend;
        Clock::time_point emitted;
        QObject::connect(&backend, &CanBackend::framesReceived,
                         [&](const CanFrameList &) { emitted = Clock::now(); });
        const int repeats = cold ? 30 : size >= 65536 ? 50 : 500;
        std::vector<double> samples;
        samples.reserve(size_t(repeats));
        for (int r = 0; r < repeats; ++r) {
            backend.enqueue(frames);
            if (cold)
                evictCaches();
            const Clock::time_point start = Clock::now();
            backend.flushQueue();
            samples.push_back(std::chrono::duration<double, std::nano>(emitted - start).count());
        }
        std::sort(samples.begin(), samples.end());
        // For comparison: what holding the lock for a copy of the batch would cost.
        const Clock::time_point copyStart = Clock::now();
        CanFrameList copy(frames.constBegin(), frames.constEnd());
        const double copyNs = std::chrono::duration<double, std::nano>(Clock::now() - copyStart).count();
        std::printf("flush of %7d frames, %s caches: lock + swap until emission median %.0f ns, "
                    "90th percentile %.0f ns (a copy of the batch: %.0f ns)\n",
                    size, cold ? "cold" : "warm", samples[samples.size() / 2], samples[samples.size() * 9 / 10],
                    copyNs);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    burstThroughput(0);
    burstThroughput(1000);
    singleFrameThroughput();
    flushLockTime(false);
    flushLockTime(true);
    std::printf("peak memory (VmHWM): %s\n", peakMemory().constData());
    return 0;
}
