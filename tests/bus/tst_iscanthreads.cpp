// isCAN receive paths under load: the driver's callback thread and the
// polling thread. Built for ThreadSanitizer (label threads).
#include "iscan.h"
#include "iscanbackend.h"
#include "iscanstandin.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

const QString StandIn = QStringLiteral(ISCAN_STANDIN);

quint32 sequenceOf(const CanFrame &frame)
{
    quint32 n;
    std::memcpy(&n, frame.data, 4);
    return n;
}

// Threads of this process with the given name (Linux: /proc/self/task).
int threadsNamed(const QString &name)
{
    int count = 0;
    const QStringList tasks = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly) && QString::fromLatin1(comm.readAll()).trimmed() == name)
            ++count;
    }
    return count;
}

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// Collects the frames of a backend and checks their order on arrival.
struct Receiver
{
    explicit Receiver(CanBackend *backend)
    {
        QObject::connect(backend, &CanBackend::framesReceived, backend, [this](const CanFrameList &frames) {
            for (const CanFrame &frame : frames) {
                if (sequenceOf(frame) != next || frame.id != 0x100 + (next & 0xFF))
                    inOrder = false;
                ++next;
            }
        });
    }
    quint32 next = 0;
    bool inOrder = true;
};

} // namespace

class TestIsCanThreads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fullSpeedArrivesCompleteInOrder_data();
    void fullSpeedArrivesCompleteInOrder();
    void closingWhileStreamingLosesNothingRead_data();
    void closingWhileStreamingLosesNothingRead();
    void openCloseLeavesNothingBehind_data();
    void openCloseLeavesNothingBehind();
    void unpluggedDeviceIsReported_data();
    void unpluggedDeviceIsReported();
    void pollingThreadIsNamed();
    void unplugCodeOfAWriteKeepsReceiving_data();
    void unplugCodeOfAWriteKeepsReceiving();
    void resetAfterPluggingBackReceivesAgain_data();
    void resetAfterPluggingBackReceivesAgain();
    void stopThatDoesNotWaitLeavesNoCallbackBehind();

private:
    void refuseCallback(bool refuse);
    IsCanStandIn *m_standIn = nullptr;
};

void TestIsCanThreads::initTestCase()
{
    qRegisterMetaType<CanFrameList>("CanFrameList");
    m_standIn = new IsCanStandIn(StandIn);
    QVERIFY2(m_standIn->isValid(), qPrintable(m_standIn->errorString()));
}

void TestIsCanThreads::init()
{
    m_standIn->reset();
}

void TestIsCanThreads::cleanup()
{
    QCOMPARE(m_standIn->openDevices(), 0);
    QCOMPARE(m_standIn->handlerThreads(), 0);
    QCOMPARE(IsCan::Library::instance()->users, 0);
}

void TestIsCanThreads::refuseCallback(bool refuse)
{
    if (refuse)
        m_standIn->force("isCAN_StartMessageHandler", 9); // thread could not be started
}

void TestIsCanThreads::fullSpeedArrivesCompleteInOrder_data()
{
    QTest::addColumn<bool>("polling");
    QTest::newRow("callback") << false;
    QTest::newRow("polling") << true;
}

void TestIsCanThreads::fullSpeedArrivesCompleteInOrder()
{
    QFETCH(bool, polling);
    refuseCallback(polling);
    constexpr int Total = 200000;
    constexpr int Chunk = 1000;

    IsCanBackend backend;
    Receiver receiver(&backend);
    QString error;
    QVERIFY2(backend.open(IsCanStandIn::connectParams(), &error), qPrintable(error));
    QCOMPARE(backend.usesCallback(), !polling);

    // The driver side delivers as fast as it can while the backend reads.
    std::thread driver([this] {
        for (int first = 0; first < Total; first += Chunk)
            m_standIn->inject(0, IsCanStandIn::sequence(quint32(first), Chunk));
    });
    QTRY_VERIFY_WITH_TIMEOUT(receiver.next >= quint32(Total), 120000);
    driver.join();
    backend.close();
    backend.flushQueue();
    QCOMPARE(receiver.next, quint32(Total));
    QVERIFY(receiver.inOrder);
    QCOMPARE(m_standIn->delivered(), quint64(Total));
}

void TestIsCanThreads::closingWhileStreamingLosesNothingRead_data()
{
    fullSpeedArrivesCompleteInOrder_data();
}

void TestIsCanThreads::closingWhileStreamingLosesNothingRead()
{
    QFETCH(bool, polling);
    refuseCallback(polling);

    IsCanBackend backend;
    Receiver receiver(&backend);
    QString error;
    QVERIFY2(backend.open(IsCanStandIn::connectParams(), &error), qPrintable(error));

    std::atomic<bool> stop {false};
    std::thread driver([&] {
        quint32 first = 0;
        while (!stop.load()) {
            // A closed device takes no more frames; keep numbering what it took.
            first += quint32(m_standIn->inject(0, IsCanStandIn::sequence(first, 256)));
        }
    });
    QTRY_VERIFY(receiver.next > 20000);

    QElapsedTimer closing;
    closing.start();
    backend.close();
    const qint64 closeMs = closing.elapsed();
    stop = true;
    driver.join();

    backend.flushQueue();
    // Whatever the driver handed out before the close reached the queue.
    QCOMPARE(quint64(receiver.next), m_standIn->delivered());
    QVERIFY(receiver.inOrder);
    // A close waits for one drain at most, never for the stream to end.
    QVERIFY2(closeMs < 2000, qPrintable(QStringLiteral("close took %1 ms").arg(closeMs)));
}

void TestIsCanThreads::openCloseLeavesNothingBehind_data()
{
    fullSpeedArrivesCompleteInOrder_data();
}

void TestIsCanThreads::openCloseLeavesNothingBehind()
{
    QFETCH(bool, polling);
    refuseCallback(polling);
    const int threadsBefore = threadCount();
    IsCanBackend backend;
    QString error;
    for (int i = 0; i < 1000; ++i) {
        if (!backend.open(IsCanStandIn::connectParams(), &error))
            QFAIL(qPrintable(error));
        if (i % 100 == 0)
            m_standIn->inject(0, IsCanStandIn::sequence(0, 4));
        backend.close();
    }
    QCOMPARE(m_standIn->calls("isCAN_DeviceInitEx"), quint64(1000));
    QCOMPARE(m_standIn->calls("isCAN_CloseDevice"), quint64(1000));
    QCOMPARE(m_standIn->calls("isCAN_StopMessageHandler"), quint64(polling ? 0 : 1000));
    // Qt names a thread and lets it end after wait() returns, so both lag a little.
    // Threads of earlier tests or of the runtime may end meanwhile: the count
    // must not grow, it need not stay equal.
    QTRY_COMPARE(threadsNamed(QStringLiteral("IsCanReader")), 0);
    QTRY_VERIFY2(threadCount() <= threadsBefore, qPrintable(QStringLiteral("%1 threads, %2 before").arg(threadCount()).arg(threadsBefore)));
}

void TestIsCanThreads::unpluggedDeviceIsReported_data()
{
    fullSpeedArrivesCompleteInOrder_data();
}

void TestIsCanThreads::unpluggedDeviceIsReported()
{
    QFETCH(bool, polling);
    refuseCallback(polling);
    IsCanBackend backend;
    Receiver receiver(&backend);
    QString error;
    QVERIFY2(backend.open(IsCanStandIn::connectParams(), &error), qPrintable(error));
    m_standIn->inject(0, IsCanStandIn::sequence(0, 50));
    QTRY_COMPARE(receiver.next, 50u);

    m_standIn->unplug(0);
    QTRY_COMPARE(backend.busStatus() & CanBackend::DeviceLost, unsigned(CanBackend::DeviceLost));
    // The state stays visible at every later status poll, and names the adapter, not the driver.
    QCOMPARE(backend.busStatus(), unsigned(CanBackend::DeviceLost));
    QCOMPARE(CanBackend::statusText(backend.busStatus()), QStringLiteral("Adapter getrennt"));
    if (polling)
        QTRY_COMPARE(threadsNamed(QStringLiteral("IsCanReader")), 0); // the reader gave up

    CanFrame frame;
    QVERIFY(!backend.write(frame, &error));
    QCOMPARE(error, QStringLiteral("Gerät wurde abgezogen"));

    backend.close();
    QVERIFY(!backend.isOpen());
    backend.flushQueue();
    QCOMPARE(receiver.next, 50u);
    QVERIFY(receiver.inOrder);
}

void TestIsCanThreads::pollingThreadIsNamed()
{
    refuseCallback(true);
    IsCanBackend backend;
    Receiver receiver(&backend);
    QString error;
    QVERIFY2(backend.open(IsCanStandIn::connectParams(), &error), qPrintable(error));
    QVERIFY(!backend.usesCallback());
    QTRY_COMPARE(threadsNamed(QStringLiteral("IsCanReader")), 1);
    // It polls on its own: frames arrive without a callback.
    const quint64 reads = m_standIn->calls("isCAN_ReceiveMessageEx");
    QTRY_VERIFY(m_standIn->calls("isCAN_ReceiveMessageEx") > reads + 3);
    m_standIn->inject(0, IsCanStandIn::sequence(0, 10));
    QTRY_COMPARE(receiver.next, 10u);
    backend.close();
    QTRY_COMPARE(threadsNamed(QStringLiteral("IsCanReader")), 0);
}

void TestIsCanThreads::unplugCodeOfAWriteKeepsReceiving_data()
{
    fullSpeedArrivesCompleteInOrder_data();
}

void TestIsCanThreads::unplugCodeOfAWriteKeepsReceiving()
{
    QFETCH(bool, polling);
    refuseCallback(polling);
    IsCanBackend backend;
    Receiver receiver(&backend);
    QString error;
    QVERIFY2(backend.open(IsCanStandIn::connectParams(), &error), qPrintable(error));
    m_standIn->force("isCAN_TransmitMessageEx", 13);
    QVERIFY(!backend.write(CanFrame(), &error));
    QCOMPARE(error, QStringLiteral("Gerät wurde abgezogen"));
    m_standIn->force("isCAN_TransmitMessageEx", -1);
    QCOMPARE(backend.busStatus() & CanBackend::DeviceLost, 0u);
    // Two portions, so that a reader that would end after the first shows.
    m_standIn->inject(0, IsCanStandIn::sequence(0, 20));
    QTRY_COMPARE(receiver.next, 20u);
    QTest::qWait(20);
    m_standIn->inject(0, IsCanStandIn::sequence(20, 20));
    QTRY_COMPARE(receiver.next, 40u);
    QVERIFY(receiver.inOrder);
    if (polling)
        QCOMPARE(threadsNamed(QStringLiteral("IsCanReader")), 1);
    QCOMPARE(backend.busStatus() & CanBackend::DeviceLost, 0u);
    backend.close();
}

void TestIsCanThreads::resetAfterPluggingBackReceivesAgain_data()
{
    fullSpeedArrivesCompleteInOrder_data();
}

void TestIsCanThreads::resetAfterPluggingBackReceivesAgain()
{
    QFETCH(bool, polling);
    refuseCallback(polling);
    IsCanBackend backend;
    Receiver receiver(&backend);
    QString error;
    QVERIFY2(backend.open(IsCanStandIn::connectParams(), &error), qPrintable(error));
    m_standIn->unplug(0);
    QTRY_VERIFY(backend.busStatus() & CanBackend::DeviceLost);
    m_standIn->plug(0);
    QVERIFY2(backend.resetHardware(&error), qPrintable(error));
    QVERIFY(backend.isOpen());
    QCOMPARE(backend.usesCallback(), !polling);
    QCOMPARE(backend.busStatus(), 0u);
    m_standIn->inject(0, IsCanStandIn::sequence(0, 30));
    QTRY_COMPARE(receiver.next, 30u);
    QVERIFY(receiver.inOrder);
    backend.close();
    QTRY_COMPARE(threadsNamed(QStringLiteral("IsCanReader")), 0);
}

// A driver whose stop returns while a callback it has just entered is still
// on its way in: the backend is deleted before that callback runs. Under
// AddressSanitizer a touch of the deleted backend fails the run.
void TestIsCanThreads::stopThatDoesNotWaitLeavesNoCallbackBehind()
{
    const QString path = QStringLiteral(ISCAN_STANDIN_STOPNOWAIT);
    IsCanStandIn noWait(path);
    QVERIFY2(noWait.isValid(), qPrintable(noWait.errorString()));
    noWait.reset();
    for (int round = 0; round < 5; ++round) {
        auto backend = std::make_unique<IsCanBackend>();
        QString error;
        QVERIFY2(backend->open(IsCanStandIn::connectParams(0, 0x001C, path), &error), qPrintable(error));
        QVERIFY(backend->usesCallback());
        noWait.inject(0, IsCanStandIn::sequence(0, 10));
        QTRY_COMPARE(noWait.callbacksInFlight(), 1); // entered, held at its entry
        const quint64 reads = noWait.calls("isCAN_ReceiveMessageEx");
        backend.reset(); // the driver's stop returns at once
        noWait.releaseCallbacks();
        QTRY_COMPARE(noWait.callbacksInFlight(), 0);
        // The late callback found no backend and read nothing.
        QCOMPARE(noWait.calls("isCAN_ReceiveMessageEx"), reads);
        QCOMPARE(noWait.openDevices(), 0);
    }
    QCOMPARE(IsCan::Library::instance()->users, 0);
}

QTEST_GUILESS_MAIN(TestIsCanThreads)
#include "tst_iscanthreads.moc"
