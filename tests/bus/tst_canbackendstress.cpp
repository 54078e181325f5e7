#include "queuebackend.h"

#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

// Two reader threads hand frames over while the owning thread flushes, as a
// hardware backend does under full bus load.
class TestCanBackendStress : public QObject
{
    Q_OBJECT

private slots:
    void twoProducersLoseNothingAndKeepTheirOrder();
    void urgentFramesFromAReaderThread();
};

namespace {

constexpr quint32 FramesPerProducer = 1000000;

// Alternates single frames and bursts of varying size, so both enqueue forms
// interleave with each other and with the flush.
void produce(CanBackend *backend, quint32 producerId, std::atomic<int> *running)
{
    quint32 next = 0;
    quint32 round = 0;
    CanFrameList burst;
    while (next < FramesPerProducer) {
        if (round % 3 == 0) {
            backend->enqueue(numberedFrame(producerId, next++));
        } else {
            const quint32 size = qMin<quint32>(1 + (round * 37) % 512, FramesPerProducer - next);
            burst.clear();
            for (quint32 i = 0; i < size; ++i)
                burst.append(numberedFrame(producerId, next++));
            backend->enqueue(burst);
        }
        ++round;
    }
    running->fetch_sub(1, std::memory_order_release);
}

} // namespace

void TestCanBackendStress::twoProducersLoseNothingAndKeepTheirOrder()
{
    QueueBackend backend;
    quint32 expected[2] = {0, 0};
    qint64 received = 0;
    qint64 batches = 0;
    bool ordered = true;
    bool known = true;
    connect(&backend, &CanBackend::framesReceived, this, [&](const CanFrameList &frames) {
        ++batches;
        QVERIFY(!frames.isEmpty());
        for (const CanFrame &frame : frames) {
            ++received;
            if (frame.id > 1) {
                known = false;
                continue;
            }
            // Any loss or duplicate breaks the consecutive numbering.
            if (sequenceOf(frame) != expected[frame.id])
                ordered = false;
            expected[frame.id] = sequenceOf(frame) + 1;
        }
    });

    std::atomic<int> running {2};
    std::thread first(produce, &backend, 0u, &running);
    std::thread second(produce, &backend, 1u, &running);
    while (running.load(std::memory_order_acquire) > 0)
        backend.flushQueue();
    first.join();
    second.join();
    backend.flushQueue();

    QVERIFY(known);
    QVERIFY(ordered);
    QCOMPARE(expected[0], FramesPerProducer);
    QCOMPARE(expected[1], FramesPerProducer);
    QCOMPARE(received, qint64(2) * FramesPerProducer);
    qInfo("%lld frames in %lld batches", received, batches);
}

// A reader thread queues answers that a protocol waits for among bulk
// traffic, while the owning thread registers and drops the urgent identifier
// and runs its event loop: nothing is lost or reordered, and the early
// flushes do come.
void TestCanBackendStress::urgentFramesFromAReaderThread()
{
    QueueBackend backend;
    constexpr quint32 Frames = 200000;
    quint32 expected = 0;
    bool ordered = true;
    qint64 batches = 0;
    connect(&backend, &CanBackend::framesReceived, this, [&](const CanFrameList &frames) {
        ++batches;
        for (const CanFrame &frame : frames) {
            if (sequenceOf(frame) != expected)
                ordered = false;
            expected = sequenceOf(frame) + 1;
        }
    });
    std::atomic<bool> done {false};
    std::thread reader([&] {
        for (quint32 i = 0; i < Frames; ++i) {
            backend.enqueue(numberedFrame(i % 100 == 0 ? 0x585 : 0x100, i));
            if (i % 1000 == 0)
                std::this_thread::yield();
        }
        done.store(true, std::memory_order_release);
    });
    int round = 0;
    while (!done.load(std::memory_order_acquire)) {
        if (round++ % 2 == 0)
            backend.addUrgentId(0x585);
        else
            backend.removeUrgentId(0x585);
        QCoreApplication::processEvents();
    }
    reader.join();
    backend.addUrgentId(0x585);
    backend.enqueue(numberedFrame(0x585, Frames));
    QTRY_COMPARE(expected, Frames + 1); // delivered by the early flush or the timer
    QVERIFY(ordered);
    QVERIFY(batches > 0);
}

QTEST_GUILESS_MAIN(TestCanBackendStress)
#include "tst_canbackendstress.moc"
