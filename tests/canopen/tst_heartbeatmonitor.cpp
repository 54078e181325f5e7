#include "emcy.h"
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
    void emergencies();
    void emcyTexts_data();
    void emcyTexts();
    void scannedNodes();
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

namespace {

CanFrame emcy(quint32 id, const char *hex)
{
    const QByteArray bytes = QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
    CanFrame frame;
    frame.id = id;
    frame.dlc = quint8(bytes.size());
    for (int i = 0; i < bytes.size(); ++i)
        frame.data[i] = quint8(bytes.at(i));
    return frame;
}

} // namespace

void TestHeartbeatMonitor::emergencies()
{
    HeartbeatMonitor monitor;
    qint64 now = 1000;
    monitor.setClock([&now] { return now; });
    // SYNC (80h), a one-byte frame, an echo and an extended frame are no EMCY.
    CanFrame echo = emcy(0x85, "30 81 11 00 00 00 00 00");
    echo.tx = true;
    CanFrame extended = emcy(0x85, "30 81 11 00 00 00 00 00");
    extended.extended = true;
    QVERIFY(!monitor.handleFrames({emcy(0x80, ""), emcy(0x85, "30"), echo, extended, emcy(0x100, "30 81 11")}));
    QVERIFY(monitor.nodes().isEmpty());

    QVERIFY(monitor.handleFrames({emcy(0x85, "30 81 11 01 02 03 04 05")}));
    HeartbeatMonitor::Node node = monitor.nodes().value(0);
    QCOMPARE(node.nodeId, 5);
    QCOMPARE(node.count, qint64(0)); // known from the emergency only
    QVERIFY(!monitor.isStale(node));
    QCOMPARE(node.emcyCount, qint64(1));
    QCOMPARE(node.emcyHistory.first().code, quint16(0x8130));
    QCOMPARE(node.emcyHistory.first().errorRegister, quint8(0x11));
    QCOMPARE(node.emcyHistory.first().specific, QByteArray("\x01\x02\x03\x04\x05"));
    QCOMPARE(node.emcyHistory.first().seenMs, qint64(1000));
    QCOMPARE(Emcy::describe(node.emcyHistory.first()),
             QStringLiteral("0x8130 Life Guarding oder Heartbeat-Fehler (Register 0x11: Allgemein, Kommunikation), "
                            "Daten 01 02 03 04 05"));

    // A heartbeat afterwards gives the node its state; the history keeps 20, newest first.
    QVERIFY(monitor.handleFrames({heartbeat(0x705, 0x05, 5000)}));
    QList<CanFrame> many;
    for (int i = 0; i < 25; ++i)
        many << emcy(0x85, QByteArray::number(i, 16).rightJustified(2, '0').append(" 10 01").constData());
    now = 2000;
    monitor.handleFrames(many);
    node = monitor.nodes().value(0);
    QCOMPARE(HeartbeatMonitor::stateText(node.state), QStringLiteral("Operational"));
    QCOMPARE(node.count, qint64(1));
    QCOMPARE(node.emcyCount, qint64(26));
    QCOMPARE(node.emcyHistory.size(), HeartbeatMonitor::EmcyHistorySize);
    QCOMPARE(node.emcyHistory.first().code, quint16(0x1018));
    QCOMPARE(node.emcyHistory.last().code, quint16(0x1005));
    QCOMPARE(node.emcyHistory.first().seenMs, qint64(2000));
}

void TestHeartbeatMonitor::emcyTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("reg");
    QTest::addColumn<QString>("text");
    QTest::newRow("reset") << 0x0000 << 0x00 << "0x0000 Kein Fehler / Fehler behoben (Register 0x00: kein Fehler)";
    QTest::newRow("output current") << 0x2310 << 0x03 << "0x2310 Strom, Ausgangsseite (Register 0x03: Allgemein, Strom)";
    QTest::newRow("device temperature") << 0x4210 << 0x09 << "0x4210 Gerätetemperatur (Register 0x09: Allgemein, Temperatur)";
    QTest::newRow("bus off recovered") << 0x8140 << 0x11 << "0x8140 Bus-Off überwunden (Register 0x11: Allgemein, Kommunikation)";
    QTest::newRow("other voltage code") << 0x3510 << 0x05 << "0x3510 Spannung (Register 0x05: Allgemein, Spannung)";
    QTest::newRow("device specific") << 0xFF01 << 0x80 << "0xFF01 Gerätespezifisch (Register 0x80: Herstellerspezifisch)";
    QTest::newRow("unknown class") << 0xA000 << 0x01 << "0xA000 Unbekannte Fehlerklasse (Register 0x01: Allgemein)";
}

void TestHeartbeatMonitor::emcyTexts()
{
    QFETCH(int, code);
    QFETCH(int, reg);
    QFETCH(QString, text);
    Emcy::Message message;
    message.code = quint16(code);
    message.errorRegister = quint8(reg);
    QCOMPARE(Emcy::describe(message), text);
}

void TestHeartbeatMonitor::scannedNodes()
{
    HeartbeatMonitor monitor;
    qint64 now = 0;
    monitor.setClock([&now] { return now; });
    monitor.noteScanned(9, true, 0x191, QStringLiteral("Ventil"));
    monitor.noteScanned(0, true, 1, QString()); // no such node
    QCOMPARE(monitor.nodes().size(), 1);
    now = 60000;
    HeartbeatMonitor::Node node = monitor.nodes().at(0);
    QVERIFY(node.scanned);
    QCOMPARE(node.name, QStringLiteral("Ventil"));
    QVERIFY(!monitor.isStale(node)); // silent, but it never had a heartbeat
    // A heartbeat node keeps its heartbeat data when a scan finds it.
    monitor.handleFrames({heartbeat(0x70A, 0x7F, 100)});
    monitor.noteScanned(10, false, 0, QString());
    node = monitor.nodes().at(1);
    QCOMPARE(node.count, qint64(1));
    QVERIFY(node.scanned);
    QVERIFY(!node.deviceTypeKnown);
}

QTEST_APPLESS_MAIN(TestHeartbeatMonitor)
#include "tst_heartbeatmonitor.moc"
