// The SocketCAN reader thread against the stand-in kernel: a long stream
// arrives complete and in order with the kernel's stamps, closing while
// frames stream loses nothing that was read and leaves no thread, and many
// open/close cycles leak no descriptor.
#include "socketcanfixture.h"

#include <QDir>
#include <QTest>

#include <atomic>
#include <thread>

namespace {

int entriesIn(const char *path)
{
    return int(QDir(QString::fromLatin1(path)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
}

int openDescriptors()
{
    return entriesIn("/proc/self/fd");
}

int threadCount()
{
    return entriesIn("/proc/self/task");
}

// Stops and joins a producer thread however the test leaves: a failed check
// returns early, and a thread still joinable at destruction aborts the run.
struct Joiner
{
    std::atomic<bool> &stop;
    std::thread &thread;
    ~Joiner()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
    }
};

} // namespace

class TestSocketCanThreads : public QObject
{
    Q_OBJECT

private slots:
    void longStreamCompleteInOrder();
    void closeWhileStreaming();
    void openCloseCyclesLeakNothing();
};

void TestSocketCanThreads::longStreamCompleteInOrder()
{
    SocketCanStage stage;
    SocketCanBackend backend;
    FrameSink sink(&backend);
    QVERIFY(backend.open(socketCanParams("can0"), nullptr));

    constexpr quint32 Total = 200000;
    constexpr quint32 Chunk = 500;
    constexpr qint64 StepNs = 10000; // 10 µs apart in kernel time
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    const qint64 base = qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    // The producer plays the bus while the reader reads.
    std::thread producer([base] {
        for (quint32 first = 0; first < Total; first += Chunk) {
            CanStandIn_InjectNumbered("can0", 0x123, first, Chunk, base + qint64(first) * StepNs, StepNs);
            if ((first / Chunk) % 8 == 0)
                std::this_thread::yield();
        }
    });
    // Echoes of our own frames meanwhile: marked tx, each once.
    for (int i = 0; i < 20; ++i) {
        CanFrame frame;
        frame.id = 0x600;
        frame.dlc = 1;
        frame.data[0] = quint8(i);
        QVERIFY(backend.write(frame, nullptr));
    }
    const bool complete = sink.waitFor(Total + 20, 120000);
    producer.join();
    QVERIFY2(complete, qPrintable(QString::number(sink.frames.size())));
    QTest::qWait(60);
    QCOMPARE(sink.frames.size(), qsizetype(Total + 20));

    quint32 expected = 0;
    int echoes = 0;
    int echoIndex = 0;
    qint64 firstStamp = -1;
    for (const CanFrame &frame : std::as_const(sink.frames)) {
        if (frame.tx) {
            QCOMPARE(frame.id, 0x600u);
            QCOMPARE(int(frame.data[0]), echoIndex++);
            ++echoes;
            continue;
        }
        QCOMPARE(frame.id, 0x123u);
        const quint32 number = numberOf(frame);
        if (number != expected)
            QFAIL(qPrintable(QStringLiteral("frame %1 where %2 was due").arg(number).arg(expected)));
        if (firstStamp < 0)
            firstStamp = frame.timestampUs;
        // The kernel's stamp, not the time of reading.
        if (frame.timestampUs - firstStamp != qint64(number) * StepNs / 1000)
            QFAIL(qPrintable(QStringLiteral("frame %1 stamped %2").arg(number).arg(frame.timestampUs - firstStamp)));
        ++expected;
    }
    QCOMPARE(expected, Total);
    QCOMPARE(echoes, 20);
    // Read in batches, not one call per frame.
    QVERIFY(CanStandIn_ReceiveCalls() < (Total + 20) / 8);
}

void TestSocketCanThreads::closeWhileStreaming()
{
    SocketCanStage stage;
    const int threadsBefore = threadCount();
    auto backend = std::make_unique<SocketCanBackend>();
    FrameSink sink(backend.get());
    QVERIFY(backend->open(socketCanParams("can0"), nullptr));

    std::atomic<bool> stop {false};
    std::atomic<quint32> injected {0};
    std::thread producer([&] {
        quint32 next = 0;
        while (!stop.load()) {
            CanStandIn_InjectNumbered("can0", 0x321, next, 64, 0, 1000);
            next += 64;
            injected = next;
            std::this_thread::yield();
        }
    });
    Joiner joiner{stop, producer};
    // Generous: under the thread sanitizer the reader is many times slower.
    QTRY_VERIFY_WITH_TIMEOUT(sink.frames.size() > 5000, 60000);
    backend->close();
    QVERIFY(injected.load() > 0);
    backend->flushQueue();
    stop = true;
    producer.join();

    // Everything the reader took from the socket was delivered, in order.
    QCOMPARE(quint64(sink.frames.size()), CanStandIn_HandedOut());
    for (int i = 0; i < sink.frames.size(); ++i) {
        if (numberOf(sink.frames.at(i)) != quint32(i))
            QFAIL(qPrintable(QStringLiteral("gap at %1").arg(i)));
    }
    // A joined thread may take a moment to leave the task list.
    QTRY_VERIFY(threadCount() <= threadsBefore);
    QCOMPARE(CanStandIn_OpenSockets(), 0);
    backend.reset();
    QTRY_VERIFY(threadCount() <= threadsBefore);
}

void TestSocketCanThreads::openCloseCyclesLeakNothing()
{
    SocketCanStage stage;
    SocketCanBackend warmUp;
    QVERIFY(warmUp.open(socketCanParams("can0"), nullptr));
    warmUp.close();

    const int descriptorsBefore = openDescriptors();
    const int threadsBefore = threadCount();
    for (int cycle = 0; cycle < 1000; ++cycle) {
        SocketCanBackend backend;
        QString error;
        if (!backend.open(socketCanParams(cycle % 2 ? "can0" : "vcan0"), &error))
            QFAIL(qPrintable(error));
        if (cycle % 10 == 0)
            CanStandIn_InjectNumbered(cycle % 2 ? "can0" : "vcan0", 0x10, 0, 32, 0, 1000);
        if (cycle % 3 == 0)
            backend.close();
        // The rest closes in the destructor.
    }
    // Failed opens leave nothing behind either.
    for (int cycle = 0; cycle < 100; ++cycle) {
        SocketCanBackend backend;
        QVERIFY(!backend.open(socketCanParams("can1"), nullptr));
    }
    QCOMPARE(openDescriptors(), descriptorsBefore);
    QTRY_VERIFY(threadCount() <= threadsBefore);
    QCOMPARE(CanStandIn_OpenSockets(), 0);
}

QTEST_GUILESS_MAIN(TestSocketCanThreads)
#include "tst_socketcanthreads.moc"
