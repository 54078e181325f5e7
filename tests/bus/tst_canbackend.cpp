#include "canbackend.h"
#include "connectparams.h"
#include "queuebackend.h"

#include <QSignalSpy>
#include <QTest>

class TestCanBackend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void statusText_data();
    void statusText();
    void flushWithNothingPendingEmitsNothing();
    void flushDeliversOneBatchInEnqueueOrder();
    void frameEnqueuedDuringEmissionArrivesInNextBatch();
    void clearQueueDropsPendingFrames();
    void urgentIdFlushesEarly_data();
    void urgentIdFlushesEarly();
    void connectParamsDefaults();
};

void TestCanBackend::initTestCase()
{
    qRegisterMetaType<CanFrame>();
    qRegisterMetaType<CanFrameList>("CanFrameList");
}

void TestCanBackend::statusText_data()
{
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << 0u << QStringLiteral("OK");
    QTest::newRow("bus off wins over error passive") << 0x18u << QStringLiteral("Bus-Off");
    QTest::newRow("error passive wins over warning") << 0x0Cu << QStringLiteral("Bus-Heavy (Error passive)");
    QTest::newRow("warning") << 0x04u << QStringLiteral("Bus-Light (Warnung)");
    QTest::newRow("queue overrun before buffer full") << 0x41u
        << QStringLiteral("Empfangsqueue-Überlauf, Sendepuffer voll");
    QTest::newRow("unknown bit only") << 0x20u << QStringLiteral("Fehler 0x20");
    QTest::newRow("unknown bits only, hex lower case") << 0x120u << QStringLiteral("Fehler 0x120");
    QTest::newRow("unknown bit next to known one") << 0x21u << QStringLiteral("Sendepuffer voll");
    QTest::newRow("unplugged adapter first") << 0x410u << QStringLiteral("Adapter getrennt, Bus-Off");
    QTest::newRow("all known bits in order") << 0x2DFu
        << QStringLiteral("Bus-Off, Controller-Überlauf, Empfangsqueue-Überlauf, Sendepuffer voll, "
                          "Sendequeue voll, Treiber nicht geladen");
}

void TestCanBackend::statusText()
{
    QFETCH(unsigned, flags);
    QFETCH(QString, text);
    QCOMPARE(CanBackend::statusText(flags), text);
}

void TestCanBackend::flushWithNothingPendingEmitsNothing()
{
    QueueBackend backend;
    QSignalSpy spy(&backend, &CanBackend::framesReceived);
    backend.flushQueue();
    QCOMPARE(spy.count(), 0);

    backend.enqueue(numberedFrame(1, 0));
    backend.flushQueue();
    backend.flushQueue();
    QCOMPARE(spy.count(), 1);
}

void TestCanBackend::flushDeliversOneBatchInEnqueueOrder()
{
    QueueBackend backend;
    QList<CanFrameList> batches;
    connect(&backend, &CanBackend::framesReceived, this,
            [&](const CanFrameList &frames) { batches.append(frames); });

    backend.enqueue(numberedFrame(0x10, 0));
    backend.enqueue(CanFrameList {numberedFrame(0x10, 1), numberedFrame(0x10, 2)});
    backend.enqueue(CanFrameList {});
    backend.enqueue(numberedFrame(0x10, 3));
    QVERIFY(batches.isEmpty()); // nothing is delivered synchronously
    backend.flushQueue();

    QCOMPARE(batches.size(), 1);
    QCOMPARE(batches.first().size(), 4);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(sequenceOf(batches.first().at(i)), quint32(i));
}

void TestCanBackend::frameEnqueuedDuringEmissionArrivesInNextBatch()
{
    QueueBackend backend;
    QList<CanFrameList> batches;
    connect(&backend, &CanBackend::framesReceived, this, [&](const CanFrameList &frames) {
        batches.append(frames);
        if (batches.size() == 1)
            backend.enqueue(numberedFrame(0x20, 99)); // would deadlock if emitted under the lock
    });

    backend.enqueue(numberedFrame(0x20, 1));
    backend.flushQueue();
    QCOMPARE(batches.size(), 1);
    QCOMPARE(batches.at(0).size(), 1);
    QCOMPARE(sequenceOf(batches.at(0).first()), 1u);

    backend.flushQueue();
    QCOMPARE(batches.size(), 2);
    QCOMPARE(batches.at(1).size(), 1);
    QCOMPARE(sequenceOf(batches.at(1).first()), 99u);
}

void TestCanBackend::clearQueueDropsPendingFrames()
{
    QueueBackend backend;
    QSignalSpy spy(&backend, &CanBackend::framesReceived);
    backend.enqueue(numberedFrame(1, 1));
    backend.enqueue(numberedFrame(1, 2));
    backend.clearQueue();
    backend.flushQueue();
    QCOMPARE(spy.count(), 0);

    backend.enqueue(numberedFrame(1, 3));
    backend.flushQueue();
    QCOMPARE(spy.count(), 1);
    const auto frames = spy.at(0).at(0).value<CanFrameList>();
    QCOMPARE(frames.size(), 1);
    QCOMPARE(sequenceOf(frames.first()), 3u);
}

void TestCanBackend::urgentIdFlushesEarly_data()
{
    QTest::addColumn<CanFrame>("frame");
    QTest::addColumn<int>("registrations"); // of 585h, standard
    QTest::addColumn<int>("removals");
    QTest::addColumn<bool>("atOnce"); // every frame delivered at once (a relay)
    QTest::addColumn<bool>("early");
    CanFrame answer = numberedFrame(0x585, 1);
    CanFrame echo = answer;
    echo.tx = true;
    CanFrame extended = answer;
    extended.extended = true;
    QTest::newRow("registered answer") << answer << 1 << 0 << false << true;
    QTest::newRow("nothing registered") << answer << 0 << 0 << false << false;
    QTest::newRow("other identifier") << numberedFrame(0x586, 1) << 1 << 0 << false << false;
    QTest::newRow("own echo") << echo << 1 << 0 << false << false;
    QTest::newRow("extended frame of the same number") << extended << 1 << 0 << false << false;
    QTest::newRow("registration removed") << answer << 1 << 1 << false << false;
    QTest::newRow("counted: one of two removed") << answer << 2 << 1 << false << true;
    QTest::newRow("at once: any identifier") << numberedFrame(0x586, 1) << 0 << 0 << true << true;
    QTest::newRow("at once: own echo") << echo << 0 << 0 << true << true;
}

void TestCanBackend::urgentIdFlushesEarly()
{
    QFETCH(CanFrame, frame);
    QFETCH(int, registrations);
    QFETCH(int, removals);
    QFETCH(bool, atOnce);
    QFETCH(bool, early);
    QueueBackend backend;
    backend.setDeliverAtOnce(atOnce);
    QList<CanFrameList> batches;
    connect(&backend, &CanBackend::framesReceived, this, [&](const CanFrameList &frames) { batches.append(frames); });
    for (int i = 0; i < registrations; ++i)
        backend.addUrgentId(0x585);
    for (int i = 0; i < removals; ++i)
        backend.removeUrgentId(0x585);
    backend.enqueue(numberedFrame(0x100, 7));
    backend.enqueue(CanFrameList{numberedFrame(0x101, 8), frame, numberedFrame(0x102, 9)});
    QVERIFY(batches.isEmpty()); // never delivered inside enqueue
    // Only queued calls run here, not the 20 ms timer.
    QCoreApplication::sendPostedEvents(&backend, QEvent::MetaCall);
    QCOMPARE(batches.size(), early ? 1 : 0);
    if (early) {
        // The whole pending batch goes, in order, and one flush is scheduled
        // however many urgent frames came.
        QCOMPARE(batches.at(0).size(), 4);
        QCOMPARE(sequenceOf(batches.at(0).at(0)), 7u);
        backend.enqueue(frame);
        backend.enqueue(frame);
        QCoreApplication::sendPostedEvents(&backend, QEvent::MetaCall);
        QCOMPARE(batches.size(), 2);
        QCOMPARE(batches.at(1).size(), 2);
    }
}

void TestCanBackend::connectParamsDefaults()
{
    const ConnectParams params;
    QCOMPARE(params.interface, 2);
    QCOMPARE(params.channel, 0x51);
    QCOMPARE(params.btr, 0x001C);
    QCOMPARE(params.isCanDevice, 0);
    QVERIFY(!params.listenOnly);
    QVERIFY(!params.errorFrames);
    QVERIFY(params.basicDllPath.isEmpty());
    QVERIFY(params.isCanDllPath.isEmpty());

    const CanFrame frame;
    QCOMPARE(frame.id, 0u);
    QCOMPARE(frame.dlc, quint8(0));
    QCOMPARE(frame.timestampUs, 0);
    QVERIFY(!frame.extended && !frame.rtr && !frame.error && !frame.status && !frame.tx);
    for (quint8 byte : frame.data)
        QCOMPARE(byte, quint8(0));
}

QTEST_GUILESS_MAIN(TestCanBackend)
#include "tst_canbackend.moc"
