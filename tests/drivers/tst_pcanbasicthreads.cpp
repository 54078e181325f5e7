#include "pcanbasic.h"
#include "pcanbasicbackend.h"
#include "pcanstandin.h"

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <thread>

namespace {

ConnectParams pcanParams()
{
    ConnectParams params;
    params.basicDllPath = PcanStandIn::path();
    return params;
}

quint32 sequenceOf(const CanFrame &frame)
{
    return quint32(frame.data[0]) | quint32(frame.data[1]) << 8 | quint32(frame.data[2]) << 16
        | quint32(frame.data[3]) << 24;
}

int openHandles()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
}

// Threads of this process named like the reader; an ended thread may take a
// moment to leave the list after it was joined.
int readerThreads()
{
    int count = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "PcanBasicReader")
            ++count;
    }
    return count;
}

// Checks that the frames are 0, 1, 2, ... in order.
bool inSequence(const QList<CanFrame> &frames, QString *problem)
{
    for (int i = 0; i < frames.size(); ++i) {
        if (sequenceOf(frames[i]) != quint32(i)) {
            *problem = QStringLiteral("Frame %1 trägt %2").arg(i).arg(sequenceOf(frames[i]));
            return false;
        }
    }
    return true;
}

} // namespace

// The reader thread against a driver that delivers at full speed.
class TestPcanBasicThreads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void fullSpeedArrivesCompleteAndInOrder();
    void closeWhileStreamingKeepsWhatWasRead();
    void openAndCloseLeaveNothingBehind();
    void unpluggedAdapterEndsTheReader();
    void resetAfterPluggingBackReceivesAgain();

private:
    PcanStandIn standIn;
};

void TestPcanBasicThreads::initTestCase()
{
    QVERIFY2(standIn.isValid(), qPrintable(PcanStandIn::path()));
}

void TestPcanBasicThreads::init()
{
    standIn.reset();
}

void TestPcanBasicThreads::fullSpeedArrivesCompleteAndInOrder()
{
    constexpr quint32 Total = 200000;
    PcanBasicBackend backend;
    QList<CanFrame> received;
    connect(&backend, &CanBackend::framesReceived, this, [&](const CanFrameList &batch) { received += batch; });
    QVERIFY(backend.open(pcanParams(), nullptr));

    std::thread producer([&] {
        for (quint32 first = 0; first < Total; first += 1000)
            standIn.injectNumbered(0x51, 0x100, first, 1000);
    });
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), int(Total), 60000);
    producer.join();
    QString problem;
    QVERIFY2(inSequence(received, &problem), qPrintable(problem));
    QCOMPARE(backend.busStatus(), 0u);
}

void TestPcanBasicThreads::closeWhileStreamingKeepsWhatWasRead()
{
    PcanBasicBackend backend;
    QList<CanFrame> received;
    connect(&backend, &CanBackend::framesReceived, this, [&](const CanFrameList &batch) { received += batch; });
    QVERIFY(backend.open(pcanParams(), nullptr));

    std::atomic<bool> streaming {true};
    std::thread producer([&] {
        for (quint32 first = 0; streaming; first += 500)
            standIn.injectNumbered(0x51, 0x100, first, 500);
    });
    QTRY_VERIFY_WITH_TIMEOUT(received.size() > 20000, 60000);
    QElapsedTimer closing;
    closing.start();
    backend.close();
    const qint64 closeMs = closing.elapsed();
    streaming = false;
    producer.join();
    backend.flushQueue();

    // Everything the driver handed out arrived, in order, and nothing else.
    QCOMPARE(quint64(received.size()), standIn.calls("delivered"));
    QString problem;
    QVERIFY2(inSequence(received, &problem), qPrintable(problem));
    // The event wakes the reader at once; only a hang would take this long.
    QVERIFY2(closeMs < 5000, qPrintable(QString::number(closeMs)));
    QCOMPARE(standIn.initializedChannels(), 0);
}

void TestPcanBasicThreads::openAndCloseLeaveNothingBehind()
{
    // One round first, so that lazily created process resources exist.
    {
        PcanBasicBackend warmUp;
        QVERIFY(warmUp.open(pcanParams(), nullptr));
    }
    QTRY_COMPARE(readerThreads(), 0);
    const int handles = openHandles();
    PcanBasicBackend backend;
    for (int i = 0; i < 1000; ++i) {
        QVERIFY(backend.open(pcanParams(), nullptr));
        if (i % 100 == 0)
            standIn.injectNumbered(0x51, 0x100, 0, 10);
        backend.close();
    }
    QTRY_COMPARE(readerThreads(), 0);
    QTRY_COMPARE(openHandles(), handles);
    QCOMPARE(PcanBasic::Library::instance()->users, 0);
    QCOMPARE(standIn.initializedChannels(), 0);
    QCOMPARE(standIn.calls("CAN_Initialize"), standIn.calls("CAN_Uninitialize"));
}

void TestPcanBasicThreads::unpluggedAdapterEndsTheReader()
{
    PcanBasicBackend backend;
    QList<CanFrame> received;
    connect(&backend, &CanBackend::framesReceived, this, [&](const CanFrameList &batch) { received += batch; });
    QVERIFY(backend.open(pcanParams(), nullptr));
    QTRY_COMPARE(readerThreads(), 1);
    standIn.injectNumbered(0x51, 0x100, 0, 100);
    QTRY_COMPARE(received.size(), 100);

    standIn.unplug();
    QTRY_COMPARE(readerThreads(), 0);
    const unsigned status = backend.busStatus();
    QVERIFY(status & CanBackend::DeviceLost);
    QCOMPARE(CanBackend::statusText(status), QStringLiteral("Adapter getrennt"));
    // It stays reported until the user disconnects.
    QCOMPARE(backend.busStatus(), status);
    QString error;
    QVERIFY(!backend.write(CanFrame(), &error));
    QCOMPARE(error, QStringLiteral("Ungültiges Hardware-Handle (0x1400)"));

    backend.close();
    QVERIFY(!backend.isOpen());
    QCOMPARE(received.size(), 100);
    QCOMPARE(PcanBasic::Library::instance()->users, 0);
}

void TestPcanBasicThreads::resetAfterPluggingBackReceivesAgain()
{
    PcanBasicBackend backend;
    QList<CanFrame> received;
    connect(&backend, &CanBackend::framesReceived, this, [&](const CanFrameList &batch) { received += batch; });
    ConnectParams params = pcanParams();
    params.btr = 0x0014;
    params.errorFrames = true;
    QVERIFY(backend.open(params, nullptr));
    QTRY_COMPARE(readerThreads(), 1);
    standIn.unplug();
    QTRY_VERIFY(backend.busStatus() & CanBackend::DeviceLost);
    QTRY_COMPARE(readerThreads(), 0);

    standIn.plug();
    // The driver forgot the channel: nothing comes without a reset.
    QCOMPARE(standIn.injectNumbered(0x51, 0x100, 0, 10), 0u);
    QString error;
    QVERIFY2(backend.resetHardware(&error), qPrintable(error));
    QVERIFY(backend.isOpen());
    QTRY_COMPARE(readerThreads(), 1);
    // Initialised again with the settings of the open.
    QCOMPARE(standIn.channelSetting(0x51, "btr"), 0x0014);
    QCOMPARE(standIn.channelSetting(0x51, "errorFrames"), 1);
    QCOMPARE(standIn.channelSetting(0x51, "event"), 1);
    QCOMPARE(backend.busStatus() & CanBackend::DeviceLost, 0u);
    QCOMPARE(standIn.injectNumbered(0x51, 0x100, 0, 300), 300u);
    QTRY_COMPARE(received.size(), 300);
    QString problem;
    QVERIFY2(inSequence(received, &problem), qPrintable(problem));

    // Pulled again and reset before it is back: a clear failure, closed.
    standIn.unplug();
    QTRY_VERIFY(backend.busStatus() & CanBackend::DeviceLost);
    QVERIFY(!backend.resetHardware(&error));
    QVERIFY(error.startsWith(QStringLiteral("PCAN-USB 1 konnte nicht wieder in Betrieb genommen werden (Adapter eingesteckt?).\n")));
    QVERIFY(!backend.isOpen());
    QCOMPARE(backend.description(), QString());
    QCOMPARE(standIn.initializedChannels(), 0);
    QCOMPARE(PcanBasic::Library::instance()->users, 0);
}

QTEST_GUILESS_MAIN(TestPcanBasicThreads)
#include "tst_pcanbasicthreads.moc"
