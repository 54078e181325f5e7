#include "heartbeatmonitor.h"

#include <QTest>

namespace {

CanFrame heartbeat(quint32 id, quint8 state, qint64 timestampUs, quint8 dlc = 1)
{
    CanFrame frame;
    frame.id = id;
    frame.dlc = dlc;
    frame.data[0] = state;
    frame.timestampUs = timestampUs;
    return frame;
}

} // namespace

class TestHeartbeatMonitor : public QObject
{
    Q_OBJECT

private slots:
    void firstAndRepeatedHeartbeat();
    void ignoredFrames_data();
    void ignoredFrames();
    void bootUpInterruptsInterval();
    void staleAfterThreeIntervals_data();
    void staleAfterThreeIntervals();
    void stateText_data();
    void stateText();
    void clearKeepsClock();
};

void TestHeartbeatMonitor::firstAndRepeatedHeartbeat()
{
    HeartbeatMonitor monitor;
    QVERIFY(monitor.handleFrames({heartbeat(0x705, 0x05, 1000000)}));
    QCOMPARE(monitor.nodes().size(), 1);
    HeartbeatMonitor::Node node = monitor.nodes().at(0);
    QCOMPARE(node.nodeId, 5);
    QCOMPARE(HeartbeatMonitor::stateText(node.state), QStringLiteral("Operational"));
    QCOMPARE(node.intervalUs, qint64(-1));
    QVERIFY(!monitor.handleFrames({heartbeat(0x705, 0x85, 1100000)})); // toggle bit cleared: same state
    node = monitor.nodes().at(0);
    QCOMPARE(node.intervalUs, qint64(100000));
    QCOMPARE(node.count, qint64(2));
    QCOMPARE(node.state, quint8(0x05));
    // An older time stamp keeps the measured interval.
    QVERIFY(monitor.handleFrames({heartbeat(0x705, 0x7F, 900000)}));
    QCOMPARE(monitor.nodes().at(0).intervalUs, qint64(100000));
    // Several nodes in ascending order.
    monitor.handleFrames({heartbeat(0x77F, 0x04, 0), heartbeat(0x701, 0x04, 0)});
    QCOMPARE(monitor.nodes().size(), 3);
    QCOMPARE(monitor.nodes().first().nodeId, 1);
    QCOMPARE(monitor.nodes().last().nodeId, 127);
}

void TestHeartbeatMonitor::ignoredFrames_data()
{
    QTest::addColumn<CanFrame>("frame");
    QTest::newRow("dlc 2") << heartbeat(0x705, 5, 0, 2);
    QTest::newRow("dlc 0") << heartbeat(0x705, 5, 0, 0);
    CanFrame f = heartbeat(0x705, 5, 0);
    f.extended = true;
    QTest::newRow("extended") << f;
    f = heartbeat(0x705, 5, 0);
    f.tx = true;
    QTest::newRow("echo") << f;
    f = heartbeat(0x705, 5, 0);
    f.rtr = true;
    QTest::newRow("remote") << f;
    f = heartbeat(0x705, 5, 0);
    f.error = true;
    QTest::newRow("error") << f;
    QTest::newRow("0x700") << heartbeat(0x700, 5, 0);
    QTest::newRow("0x780") << heartbeat(0x780, 5, 0);
}

void TestHeartbeatMonitor::ignoredFrames()
{
    QFETCH(CanFrame, frame);
    HeartbeatMonitor monitor;
    QVERIFY(!monitor.handleFrames({frame}));
    QVERIFY(monitor.nodes().isEmpty());
}

void TestHeartbeatMonitor::bootUpInterruptsInterval()
{
    HeartbeatMonitor monitor;
    monitor.handleFrames({heartbeat(0x705, 0x05, 0), heartbeat(0x705, 0x05, 500000)});
    QCOMPARE(monitor.nodes().at(0).intervalUs, qint64(500000));
    QVERIFY(monitor.handleFrames({heartbeat(0x705, 0x00, 600000)}));
    QCOMPARE(monitor.nodes().at(0).intervalUs, qint64(-1));
    monitor.handleFrames({heartbeat(0x705, 0x7F, 700000)});
    QCOMPARE(monitor.nodes().at(0).intervalUs, qint64(-1));
    monitor.handleFrames({heartbeat(0x705, 0x7F, 1700000)});
    QCOMPARE(monitor.nodes().at(0).intervalUs, qint64(1000000));
    QCOMPARE(monitor.nodes().at(0).count, qint64(5));
}

void TestHeartbeatMonitor::staleAfterThreeIntervals_data()
{
    QTest::addColumn<qint64>("intervalMs"); // 0: a single heartbeat
    QTest::addColumn<qint64>("allowedMs");
    QTest::newRow("unknown") << qint64(0) << qint64(3000);
    QTest::newRow("500 ms") << qint64(500) << qint64(3000);
    QTest::newRow("2000 ms") << qint64(2000) << qint64(6000);
}

void TestHeartbeatMonitor::staleAfterThreeIntervals()
{
    QFETCH(qint64, intervalMs);
    QFETCH(qint64, allowedMs);
    qint64 now = 10000;
    HeartbeatMonitor monitor;
    monitor.setClock([&now] { return now; });
    monitor.handleFrames({heartbeat(0x705, 5, 0)});
    if (intervalMs > 0)
        monitor.handleFrames({heartbeat(0x705, 5, intervalMs * 1000)});
    const qint64 seen = now;
    now = seen + allowedMs;
    QVERIFY(!monitor.isStale(monitor.nodes().at(0)));
    now = seen + allowedMs + 1;
    QVERIFY(monitor.isStale(monitor.nodes().at(0)));
}

void TestHeartbeatMonitor::stateText_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    QTest::newRow("boot") << 0x00 << "Boot-up";
    QTest::newRow("stopped") << 0x04 << "Stopped";
    QTest::newRow("operational") << 0x05 << "Operational";
    QTest::newRow("pre") << 0x7F << "Pre-operational";
    QTest::newRow("02") << 0x02 << "unbekannt (02h)";
    QTest::newRow("7E") << 0x7E << "unbekannt (7Eh)";
}

void TestHeartbeatMonitor::stateText()
{
    QFETCH(int, state);
    QFETCH(QString, text);
    QCOMPARE(HeartbeatMonitor::stateText(quint8(state)), text);
}

void TestHeartbeatMonitor::clearKeepsClock()
{
    HeartbeatMonitor monitor;
    monitor.handleFrames({heartbeat(0x705, 5, 0)});
    const qint64 before = monitor.elapsedMs();
    monitor.clear();
    QVERIFY(monitor.nodes().isEmpty());
    QVERIFY(monitor.elapsedMs() >= before);
    QVERIFY(monitor.handleFrames({heartbeat(0x705, 5, 0)}));
}

QTEST_APPLESS_MAIN(TestHeartbeatMonitor)
#include "tst_heartbeatmonitor.moc"
