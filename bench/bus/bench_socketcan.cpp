// Receive path of the SocketCAN backend: from the stand-in kernel's socket
// queue through the reader thread (poll, recvmmsg batches) to framesReceived.
// Prints the peak rate and the CPU share of the whole process at the frame
// rate of a fully loaded 1 Mbit/s bus.
#include "socketcanbackend.h"
#include "socketcanstandin.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double processCpuSeconds()
{
    timespec spent {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &spent);
    return double(spent.tv_sec) + double(spent.tv_nsec) / 1e9;
}

ConnectParams params()
{
    ConnectParams p;
    p.interface = 4;
    p.socketCanInterface = QStringLiteral("can0");
    return p;
}

bool peakRate()
{
    constexpr quint32 Chunk = 4096;
    constexpr quint32 Total = Chunk * 600;
    SocketCanBackend backend;
    qint64 received = 0;
    QObject::connect(&backend, &CanBackend::framesReceived,
                     [&](const CanFrameList &frames) { received += frames.size(); });
    QString error;
    if (!backend.open(params(), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    std::atomic<bool> go {false};
    std::thread bus([&] {
        while (!go.load(std::memory_order_acquire)) {
        }
        for (quint32 first = 0; first < Total; first += Chunk) {
            // A kernel queue holds a bounded number of frames too.
            while (CanStandIn_Queued() > 64 * Chunk)
                std::this_thread::yield();
            CanStandIn_InjectNumbered("can0", 0x123, first, Chunk, 0, 1000);
        }
    });
    const Clock::time_point start = Clock::now();
    const double cpuStart = processCpuSeconds();
    go.store(true, std::memory_order_release);
    while (received < Total)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpuSeconds = processCpuSeconds() - cpuStart;
    bus.join();
    backend.close();
    std::printf("SocketCAN peak: %.2f million frames/s from the stand-in socket to framesReceived, "
                "%.2f million frames per CPU second (%u frames in %.3f s, stand-in included)\n",
                double(Total) / seconds / 1e6, double(Total) / cpuSeconds / 1e6, Total, seconds);
    return true;
}

bool fullBusLoad()
{
    constexpr int FramesPerSecond = 21000;
    constexpr int TickMs = 5;
    constexpr int PerTick = FramesPerSecond * TickMs / 1000;
    constexpr int Seconds = 5;
    SocketCanBackend backend;
    qint64 received = 0;
    QObject::connect(&backend, &CanBackend::framesReceived,
                     [&](const CanFrameList &frames) { received += frames.size(); });
    QString error;
    if (!backend.open(params(), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    std::atomic<bool> stop {false};
    std::thread bus([&] {
        Clock::time_point next = Clock::now();
        quint32 number = 0;
        while (!stop.load()) {
            CanStandIn_InjectNumbered("can0", 0x123, number, PerTick, 0, 47000);
            number += PerTick;
            next += std::chrono::milliseconds(TickMs);
            std::this_thread::sleep_until(next);
        }
    });
    const double cpuStart = processCpuSeconds();
    const Clock::time_point start = Clock::now();
    QTimer::singleShot(Seconds * 1000, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpuSeconds = processCpuSeconds() - cpuStart;
    stop = true;
    bus.join();
    backend.close();
    std::printf("SocketCAN at %d frames/s (full 1 Mbit/s bus): whole process %.2f %% of one core "
                "(%lld frames received in %.2f s, stand-in bus thread included)\n",
                FramesPerSecond, 100.0 * cpuSeconds / seconds, received, seconds);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    CanStandIn_SetSysfsDir(QDir(dir.path()).filePath(QStringLiteral("net")).toLocal8Bit().constData());
    CanStandIn_AddInterface("can0", 1, 1000000, 0);
    const bool ok = peakRate() && fullBusLoad();
    CanStandIn_Reset();
    return ok ? 0 : 1;
}
