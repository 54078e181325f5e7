// Receive path of the PCAN-Basic backend: stand-in driver -> reader thread ->
// queue -> framesReceived in the GUI thread, in frames per second; and the
// process CPU time that a saturated 1 Mbit/s bus costs.
#include "pcanbasicbackend.h"
#include "pcanstandin.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

ConnectParams params()
{
    ConnectParams p;
    p.basicDllPath = PcanStandIn::path();
    return p;
}

// Frames injected as fast as the driver queue takes them (kept below 200,000
// waiting), until `total` reached framesReceived.
void fullSpeed(PcanStandIn &standIn, quint32 total)
{
    PcanBasicBackend backend;
    quint32 received = 0;
    QObject::connect(&backend, &CanBackend::framesReceived, [&](const CanFrameList &frames) {
        received += quint32(frames.size());
        if (received >= total)
            QCoreApplication::quit();
    });
    QString error;
    if (!backend.open(params(), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return;
    }
    const Clock::time_point start = Clock::now();
    std::thread producer([&] {
        for (quint32 first = 0; first < total;) {
            if (standIn.queued(0x51) > 200000) {
                std::this_thread::yield();
                continue;
            }
            first += standIn.injectNumbered(0x51, 0x100, first, std::min<quint32>(4096, total - first));
        }
    });
    QCoreApplication::exec();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    producer.join();
    backend.close();
    std::printf("PCAN-Basic receive path: %.2f million frames/s (%u frames in %.3f s)\n",
                double(received) / elapsed / 1e6, received, elapsed);
}

// 21,000 frames/s (a saturated 1 Mbit/s bus) in 1 ms steps for `seconds`.
void saturatedBus(PcanStandIn &standIn, int seconds)
{
    PcanBasicBackend backend;
    quint64 received = 0;
    QObject::connect(&backend, &CanBackend::framesReceived,
                     [&](const CanFrameList &frames) { received += quint64(frames.size()); });
    if (!backend.open(params(), nullptr))
        return;
    std::atomic<bool> running {true};
    std::thread producer([&] {
        quint32 first = 0;
        Clock::time_point next = Clock::now();
        while (running) {
            first += standIn.injectNumbered(0x51, 0x100, first, 21);
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
        }
    });
    const double cpuBefore = cpuSeconds();
    QTimer::singleShot(seconds * 1000, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    const double cpu = cpuSeconds() - cpuBefore;
    running = false;
    producer.join();
    backend.close();
    std::printf("PCAN-Basic at 21,000 frames/s: %.1f %% of one core for the whole process "
                "(stand-in producer included), %llu frames in %d s\n",
                cpu / seconds * 100.0, static_cast<unsigned long long>(received), seconds);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    PcanStandIn standIn;
    if (!standIn.isValid()) {
        std::fprintf(stderr, "stand-in library not found: %s\n", qPrintable(PcanStandIn::path()));
        return 1;
    }
    fullSpeed(standIn, 5000000);
    saturatedBus(standIn, 3);
    return 0;
}
