// Receive path of the isCAN backend: from the stand-in driver's queue through
// the callback or the polling thread to framesReceived.
#include "iscan.h"
#include "iscanbackend.h"
#include "iscanstandin.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

bool receivePath(IsCanStandIn &standIn, bool polling)
{
    constexpr int Chunk = 4096;
    constexpr int Chunks = 500;
    constexpr qint64 Total = qint64(Chunk) * Chunks;

    standIn.reset();
    if (polling)
        standIn.force("isCAN_StartMessageHandler", 9);
    IsCanBackend backend;
    qint64 received = 0;
    QObject::connect(&backend, &CanBackend::framesReceived,
                     [&](const CanFrameList &frames) { received += frames.size(); });
    QString error;
    if (!backend.open(IsCanStandIn::connectParams(), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }

    // Prepared before the clock starts: the driver side only copies records.
    QList<QByteArray> chunks;
    for (int c = 0; c < Chunks; ++c)
        chunks.append(IsCanStandIn::sequence(quint32(c) * Chunk, Chunk));

    std::atomic<bool> go {false};
    std::thread driver([&] {
        while (!go.load(std::memory_order_acquire)) {
        }
        for (const QByteArray &chunk : chunks)
            standIn.inject(0, chunk);
    });
    const Clock::time_point start = Clock::now();
    const std::clock_t cpuStart = std::clock();
    go.store(true, std::memory_order_release);
    // The flush timer hands the batches over every 20 ms, as in the program.
    while (received < Total)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const Clock::time_point end = Clock::now();
    driver.join();
    const double cpuSeconds = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    backend.close();

    const double seconds = std::chrono::duration<double>(end - start).count();
    // On a shared machine the wall-clock rate depends on the other load; the
    // rate per CPU second (all threads, the stand-in's own work included) does not.
    std::printf("isCAN %s: %.2f million frames/s from the stand-in driver to framesReceived, "
                "%.2f million frames per CPU second (%lld frames in %.3f s)\n",
                polling ? "polling thread" : "driver callback", double(Total) / seconds / 1e6,
                double(Total) / cpuSeconds / 1e6, Total, seconds);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    IsCanStandIn standIn(QStringLiteral(ISCAN_STANDIN));
    if (!standIn.isValid()) {
        std::fprintf(stderr, "%s\n", qPrintable(standIn.errorString()));
        return 1;
    }
    const bool ok = receivePath(standIn, false) && receivePath(standIn, true);
    return ok ? 0 : 1;
}
