// The SocketCAN backend against the stand-in kernel: opening and its German
// messages, frame conversion, echoes, error frames and status bits, write
// errors, a vanishing interface, CAN FD frames and the interface list.
#include "busstatistics.h"
#include "socketcan.h"
#include "socketcanfixture.h"

#include <QSignalSpy>
#include <QTest>

#include <linux/can/error.h>

#include <ctime>

namespace {

qint64 realtimeNs()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace

class TestSocketCanBackend : public QObject
{
    Q_OBJECT

private slots:
    void openFailures_data();
    void openFailures();
    void openSetsOptionsAndDescription_data();
    void openSetsOptionsAndDescription();
    void framesConverted();
    void kernelTimestamps();
    void echoMarkedTxOnce();
    void controllerStates_data();
    void controllerStates();
    void errorFramesInTrace();
    void overflowCounters();
    void writeErrors_data();
    void writeErrors();
    void interfaceDownAndReset_data();
    void interfaceDownAndReset();
    void fdFramesSkipped();
    void interfaceList();
    void interfaceListEmpty();
    void bitrateTexts_data();
    void bitrateTexts();
};

void TestSocketCanBackend::openFailures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("btr");
    QTest::addColumn<bool>("available");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no name") << QString() << 0x1C << true << QStringLiteral("Keine SocketCAN-Schnittstelle ausgewählt.");
    QTest::newRow("unknown") << QStringLiteral("can7") << 0x1C << true
                             << QStringLiteral("Die CAN-Schnittstelle can7 gibt es nicht.");
    QTest::newRow("down") << QStringLiteral("can1") << 0x1C << true
                          << QStringLiteral("ip link set can1 up type can bitrate 500000");
    QTest::newRow("down, 250k chosen") << QStringLiteral("can1") << 0x011C << true
                                       << QStringLiteral("ip link set can1 up type can bitrate 250000");
    QTest::newRow("too long") << QStringLiteral("averyverylongcan0") << 0x1C << true
                              << QStringLiteral("ist zu lang");
    QTest::newRow("no AF_CAN") << QStringLiteral("can0") << 0x1C << false
                               << QStringLiteral("SocketCAN ist auf diesem System nicht verfügbar");
}

void TestSocketCanBackend::openFailures()
{
    QFETCH(QString, name);
    QFETCH(int, btr);
    QFETCH(bool, available);
    QFETCH(QString, expected);
    SocketCanStage stage;
    CanStandIn_SetAvailable(available);
    ConnectParams params = socketCanParams("");
    params.socketCanInterface = name;
    params.btr = btr;
    SocketCanBackend backend;
    QString error;
    QVERIFY(!backend.open(params, &error));
    QVERIFY2(error.contains(expected), qPrintable(error));
    QVERIFY(!backend.isOpen());
    QCOMPARE(CanStandIn_OpenSockets(), 0);
    QString writeError;
    QVERIFY(!backend.write(CanFrame(), &writeError));
    QCOMPARE(writeError, QStringLiteral("Nicht verbunden."));
}

void TestSocketCanBackend::openSetsOptionsAndDescription_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("listenOnly");
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("bitrate");
#ifdef BUSVISTA_LIBSOCKETCAN
    QTest::newRow("can0") << QStringLiteral("can0") << false << QStringLiteral("can0 @ 500 kBit/s") << 500000;
    QTest::newRow("listen-only") << QStringLiteral("can0") << true << QStringLiteral("can0 @ 500 kBit/s (Listen-Only)")
                                 << 500000;
#endif
    QTest::newRow("vcan0, rate unknown") << QStringLiteral("vcan0") << false << QStringLiteral("vcan0") << 0;
}

void TestSocketCanBackend::openSetsOptionsAndDescription()
{
    QFETCH(QString, name);
    QFETCH(bool, listenOnly);
    QFETCH(QString, description);
    QFETCH(int, bitrate);
    SocketCanStage stage;
    ConnectParams params = socketCanParams("");
    params.socketCanInterface = name;
    params.listenOnly = listenOnly;
    SocketCanBackend backend;
    QString error;
    QVERIFY2(backend.open(params, &error), qPrintable(error));
    QCOMPARE(backend.description(), description);
    QCOMPARE(backend.bitrate(), bitrate);
    QCOMPARE(CanStandIn_Option("recv_own_msgs"), 1);
    QCOMPARE(CanStandIn_Option("err_filter"), qint64(CAN_ERR_MASK));
    QCOMPARE(CanStandIn_Option("timestampns"), 1);
    QCOMPARE(CanStandIn_Option("rxq_ovfl"), 1);
    QCOMPARE(CanStandIn_Option("fd_frames"), 1);
    QCOMPARE(backend.busStatus(), 0u);
    backend.close();
    QVERIFY(!backend.isOpen());
    QCOMPARE(CanStandIn_OpenSockets(), 0);
    QCOMPARE(backend.description(), QString());
}

void TestSocketCanBackend::framesConverted()
{
    SocketCanStage stage;
    SocketCanBackend backend;
    FrameSink sink(&backend);
    QVERIFY(backend.open(socketCanParams("can0"), nullptr));
    const can_frame sent[] = {
        rawFrame(0x123, {1, 2, 3}),
        rawFrame(0x1ABCDEF0 | CAN_EFF_FLAG, {9, 8, 7, 6, 5, 4, 3, 2}),
        rawFrame(0x7FF | CAN_RTR_FLAG, {}),
        rawFrame(0x18FF0001 | CAN_EFF_FLAG | CAN_RTR_FLAG, {}),
        rawFrame(0x000, {}),
    };
    for (const can_frame &frame : sent)
        CanStandIn_Inject("can0", &frame, 0, 0);
    QVERIFY(sink.waitFor(5));
    QCOMPARE(sink.frames.size(), 5);
    const CanFrame &standard = sink.frames.at(0);
    QCOMPARE(standard.id, 0x123u);
    QCOMPARE(standard.dlc, quint8(3));
    QCOMPARE(standard.data[2], quint8(3));
    QVERIFY(!standard.extended && !standard.rtr && !standard.tx && !standard.error);
    const CanFrame &extended = sink.frames.at(1);
    QCOMPARE(extended.id, 0x1ABCDEF0u);
    QVERIFY(extended.extended);
    QCOMPARE(extended.dlc, quint8(8));
    QCOMPARE(extended.data[7], quint8(2));
    QVERIFY(sink.frames.at(2).rtr && !sink.frames.at(2).extended);
    QCOMPARE(sink.frames.at(2).id, 0x7FFu);
    QVERIFY(sink.frames.at(3).rtr && sink.frames.at(3).extended);
    QCOMPARE(sink.frames.at(3).id, 0x18FF0001u);
    QCOMPARE(sink.frames.at(4).dlc, quint8(0));
}

void TestSocketCanBackend::kernelTimestamps()
{
    SocketCanStage stage;
    SocketCanBackend backend;
    FrameSink sink(&backend);
    const qint64 beforeOpen = realtimeNs();
    QVERIFY(backend.open(socketCanParams("can0"), nullptr));
    const qint64 afterOpen = realtimeNs();
    // Software stamps: 2 s after now and 1500 µs later; then two frames with
    // hardware stamps of their own zero, 250 µs apart.
    const qint64 base = realtimeNs() + 2000000000LL;
    const can_frame frame = rawFrame(0x100, {0});
    CanStandIn_Inject("can0", &frame, base, 0);
    CanStandIn_Inject("can0", &frame, base + 1500000, 0);
    CanStandIn_Inject("can0", &frame, base + 3000000, 77000000000LL);
    CanStandIn_Inject("can0", &frame, base + 9000000, 77000250000LL);
    QVERIFY(sink.waitFor(4));
    const qint64 first = sink.frames.at(0).timestampUs;
    QVERIFY2(first >= (base - afterOpen) / 1000 && first <= (base - beforeOpen) / 1000, qPrintable(QString::number(first)));
    QCOMPARE(sink.frames.at(1).timestampUs - first, 1500);
    // The first hardware stamp is tied to its software stamp, the next keeps
    // the adapter's spacing, not the software one.
    QCOMPARE(sink.frames.at(2).timestampUs - first, 3000);
    QCOMPARE(sink.frames.at(3).timestampUs - sink.frames.at(2).timestampUs, 250);
}

void TestSocketCanBackend::echoMarkedTxOnce()
{
    SocketCanStage stage;
    SocketCanBackend backend;
    FrameSink sink(&backend);
    QVERIFY(backend.open(socketCanParams("can0"), nullptr));
    CanFrame frame;
    frame.id = 0x1F334455;
    frame.extended = true;
    frame.dlc = 2;
    frame.data[0] = 0xAB;
    frame.data[1] = 0xCD;
    QString error;
    QVERIFY2(backend.write(frame, &error), qPrintable(error));
    QCOMPARE(CanStandIn_Written("can0"), quint64(1));
    can_frame written {};
    QVERIFY(CanStandIn_LastWritten("can0", &written));
    QCOMPARE(written.can_id, quint32(0x1F334455 | CAN_EFF_FLAG));
    QCOMPARE(written.len, quint8(2));
    QCOMPARE(written.data[1], quint8(0xCD));

    const can_frame other = rawFrame(0x200, {1});
    CanStandIn_Inject("can0", &other, 0, 0);
    QVERIFY(sink.waitFor(2));
    QTest::qWait(60); // a second echo would be here by now
    QCOMPARE(sink.frames.size(), 2);
    QVERIFY(sink.frames.at(0).tx);
    QCOMPARE(sink.frames.at(0).id, 0x1F334455u);
    QVERIFY(sink.frames.at(0).extended);
    QCOMPARE(sink.frames.at(0).data[0], quint8(0xAB));
    QVERIFY(!sink.frames.at(1).tx);
}

void TestSocketCanBackend::controllerStates_data()
{
    QTest::addColumn<quint32>("canId");
    QTest::addColumn<quint8>("controller");
    QTest::addColumn<unsigned>("status");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("colour");

    QTest::newRow("bus-off") << quint32(CAN_ERR_FLAG | CAN_ERR_BUSOFF) << quint8(0) << unsigned(CanBackend::BusOff)
                             << QStringLiteral("Bus-Off") << QStringLiteral("#e04040");
    QTest::newRow("error passive") << quint32(CAN_ERR_FLAG | CAN_ERR_CRTL) << quint8(CAN_ERR_CRTL_RX_PASSIVE)
                                   << unsigned(CanBackend::BusHeavy) << QStringLiteral("Bus-Heavy (Error passive)")
                                   << QStringLiteral("#f0b030");
    QTest::newRow("tx passive") << quint32(CAN_ERR_FLAG | CAN_ERR_CRTL) << quint8(CAN_ERR_CRTL_TX_PASSIVE)
                                << unsigned(CanBackend::BusHeavy) << QStringLiteral("Bus-Heavy (Error passive)")
                                << QStringLiteral("#f0b030");
    QTest::newRow("warning") << quint32(CAN_ERR_FLAG | CAN_ERR_CRTL) << quint8(CAN_ERR_CRTL_TX_WARNING)
                             << unsigned(CanBackend::BusLight) << QStringLiteral("Bus-Light (Warnung)")
                             << QStringLiteral("#f0b030");
    QTest::newRow("no state bits: protocol error") << quint32(CAN_ERR_FLAG | CAN_ERR_PROT) << quint8(0) << 0u
                                                   << QStringLiteral("OK") << QStringLiteral("#60c060");
}

void TestSocketCanBackend::controllerStates()
{
    QFETCH(quint32, canId);
    QFETCH(quint8, controller);
    QFETCH(unsigned, status);
    QFETCH(QString, text);
    QFETCH(QString, colour);
    SocketCanStage stage;
    SocketCanBackend backend;
    FrameSink sink(&backend);
    QVERIFY(backend.open(socketCanParams("can0"), nullptr));
    const can_frame error = rawFrame(canId, {0, controller, 0, 0, 0, 0, 0, 0});
    const can_frame marker = rawFrame(0x001, {});
    CanStandIn_Inject("can0", &error, 0, 0);
    CanStandIn_Inject("can0", &marker, 0, 0);
    QVERIFY(sink.waitFor(1));
    // Without "Error-Frames empfangen" the error frame shows only in the status.
    QCOMPARE(sink.frames.size(), 1);
    QCOMPARE(sink.frames.at(0).id, 0x001u);
    const unsigned flags = backend.busStatus();
    QCOMPARE(flags, status);
    QCOMPARE(CanBackend::statusText(flags), text);
    QVERIFY(BusStatistics::statusStyle(flags).contains(colour));
    // A state holds until the controller reports another one.
    QCOMPARE(backend.busStatus(), status);
    const can_frame back = rawFrame(CAN_ERR_FLAG | (canId & CAN_ERR_BUSOFF ? CAN_ERR_RESTARTED : CAN_ERR_CRTL),
                                    {0, CAN_ERR_CRTL_ACTIVE, 0, 0, 0, 0, 0, 0});
    CanStandIn_Inject("can0", &back, 0, 0);
    CanStandIn_Inject("can0", &marker, 0, 0);
    QVERIFY(sink.waitFor(2));
    QCOMPARE(backend.busStatus(), 0u);
}

void TestSocketCanBackend::errorFramesInTrace()
{
    SocketCanStage stage;
    SocketCanBackend backend;
    FrameSink sink(&backend);
    QVERIFY(backend.open(socketCanParams("can0", true), nullptr));
    const can_frame error = rawFrame(CAN_ERR_FLAG | CAN_ERR_CRTL | CAN_ERR_PROT,
                                     {0, CAN_ERR_CRTL_RX_WARNING, 0x08, 0, 0, 0, 0x60, 0x00});
    CanStandIn_Inject("can0", &error, 0, 0);
    QVERIFY(sink.waitFor(1));
    const CanFrame &entry = sink.frames.at(0);
    QVERIFY(entry.error);
    QVERIFY(!entry.rtr && !entry.extended && !entry.tx);
    QCOMPARE(entry.id, quint32(CAN_ERR_CRTL | CAN_ERR_PROT));
    QCOMPARE(entry.dlc, quint8(8));
    QCOMPARE(entry.data[6], quint8(0x60));
    QCOMPARE(backend.busStatus(), unsigned(CanBackend::BusLight));
}

void TestSocketCanBackend::overflowCounters()
{
    SocketCanStage stage;
    SocketCanBackend backend;
    FrameSink sink(&backend);
    QVERIFY(backend.open(socketCanParams("can0"), nullptr));
    const can_frame frame = rawFrame(0x10, {1});
    CanStandIn_Inject("can0", &frame, 0, 0);
    QVERIFY(sink.waitFor(1));
    QCOMPARE(backend.busStatus(), 0u);

    // The kernel dropped frames: its counter rose.
    CanStandIn_SetDrops("can0", 3);
    CanStandIn_Inject("can0", &frame, 0, 0);
    QVERIFY(sink.waitFor(2));
    unsigned flags = backend.busStatus();
    QCOMPARE(flags, unsigned(CanBackend::RxQueueOverrun));
    QCOMPARE(CanBackend::statusText(flags), QStringLiteral("Empfangsqueue-Überlauf"));
    QVERIFY(BusStatistics::statusStyle(flags).contains(QStringLiteral("#f0b030")));
    // Reported once; the same counter again is no new loss.
    CanStandIn_Inject("can0", &frame, 0, 0);
    QVERIFY(sink.waitFor(3));
    QCOMPARE(backend.busStatus(), 0u);

    // The controller's own overrun.
    const can_frame overrun = rawFrame(CAN_ERR_FLAG | CAN_ERR_CRTL, {0, CAN_ERR_CRTL_RX_OVERFLOW, 0, 0, 0, 0, 0, 0});
    CanStandIn_Inject("can0", &overrun, 0, 0);
    CanStandIn_Inject("can0", &frame, 0, 0);
    QVERIFY(sink.waitFor(4));
    flags = backend.busStatus();
    QCOMPARE(flags, unsigned(CanBackend::ControllerOverrun));
    QCOMPARE(CanBackend::statusText(flags), QStringLiteral("Controller-Überlauf"));
    QCOMPARE(backend.busStatus(), 0u);
}

void TestSocketCanBackend::writeErrors_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("listenOnly");
    QTest::addColumn<QString>("message");
    QTest::addColumn<unsigned>("status");
    QTest::newRow("ENOBUFS") << ENOBUFS << false << QStringLiteral("Sendepuffer voll") << unsigned(CanBackend::TxBufferFull);
    QTest::newRow("EAGAIN") << EAGAIN << false << QStringLiteral("Sendepuffer voll") << unsigned(CanBackend::TxBufferFull);
    QTest::newRow("ENETDOWN") << ENETDOWN << false << QStringLiteral("can0 ist nicht mehr verfügbar")
                              << unsigned(CanBackend::DeviceLost);
    QTest::newRow("EIO") << EIO << false << QStringLiteral("Senden auf can0 fehlgeschlagen") << 0u;
    QTest::newRow("listen-only") << 0 << true << QStringLiteral("Listen-Only") << 0u;
}

void TestSocketCanBackend::writeErrors()
{
    QFETCH(int, error);
    QFETCH(bool, listenOnly);
    QFETCH(QString, message);
    QFETCH(unsigned, status);
    SocketCanStage stage;
    SocketCanBackend backend;
    FrameSink sink(&backend);
    ConnectParams params = socketCanParams("can0");
    params.listenOnly = listenOnly;
    QVERIFY(backend.open(params, nullptr));
    CanStandIn_SetWriteError("can0", error);
    CanFrame frame;
    frame.id = 0x55;
    QString text;
    QVERIFY(!backend.write(frame, &text));
    QVERIFY2(text.contains(message), qPrintable(text));
    QCOMPARE(backend.busStatus(), status);
    QTest::qWait(60);
    QVERIFY(sink.frames.isEmpty()); // no echo of a frame that did not leave
}

void TestSocketCanBackend::interfaceDownAndReset_data()
{
    QTest::addColumn<bool>("removed");
    QTest::newRow("down (ENETDOWN)") << false;
    QTest::newRow("unplugged (ENODEV)") << true;
}

void TestSocketCanBackend::interfaceDownAndReset()
{
    QFETCH(bool, removed);
    SocketCanStage stage;
    SocketCanBackend backend;
    FrameSink sink(&backend);
    QVERIFY(backend.open(socketCanParams("can0"), nullptr));
    CanStandIn_InjectNumbered("can0", 0x42, 0, 10, 0, 1000);
    if (removed)
        CanStandIn_Remove("can0");
    else
        CanStandIn_SetUp("can0", 0);
    QVERIFY(sink.waitFor(10));
    QTRY_VERIFY(backend.busStatus() & CanBackend::DeviceLost);
    const unsigned flags = backend.busStatus();
    QCOMPARE(CanBackend::statusText(flags), QStringLiteral("Adapter getrennt"));
    QVERIFY(BusStatistics::statusStyle(flags).contains(QStringLiteral("#e04040")));
    QCOMPARE(sink.frames.size(), 10); // what was read before stays
    QVERIFY(backend.isOpen());
    CanFrame frame;
    QString error;
    QVERIFY(!backend.write(frame, &error));
    QVERIFY(error.contains(QStringLiteral("nicht mehr verfügbar")));

    // Reset while the interface is still away: fails, stays in the lost state.
    QVERIFY(!backend.resetHardware(&error));
    QVERIFY2(error.contains(removed ? QStringLiteral("gibt es nicht") : QStringLiteral("ip link set can0 up")),
             qPrintable(error));
    QVERIFY(backend.isOpen());
    QVERIFY(backend.busStatus() & CanBackend::DeviceLost);
    QCOMPARE(CanStandIn_OpenSockets(), 0);

    if (removed)
        CanStandIn_AddInterface("can0", 1, 500000, 0);
    else
        CanStandIn_SetUp("can0", 1);
    QVERIFY2(backend.resetHardware(&error), qPrintable(error));
    QCOMPARE(backend.busStatus(), 0u);
    const qint64 lastBefore = sink.frames.last().timestampUs;
    CanStandIn_InjectNumbered("can0", 0x42, 10, 5, 0, 1000);
    QVERIFY(sink.waitFor(15));
    QCOMPARE(numberOf(sink.frames.at(14)), 14u);
    // Same connection, same time base.
    QVERIFY(sink.frames.at(10).timestampUs >= lastBefore);
    QVERIFY(backend.write(frame, &error));
    QVERIFY(sink.waitFor(16));
    QVERIFY(sink.frames.last().tx);
}

void TestSocketCanBackend::fdFramesSkipped()
{
    SocketCanStage stage;
    SocketCanBackend backend;
    FrameSink sink(&backend);
    QSignalSpy notices(&backend, &CanBackend::notice);
    QVERIFY(backend.open(socketCanParams("can0"), nullptr));
    const can_frame classic = rawFrame(0x300, {1, 2});
    CanStandIn_InjectFd("can0", 0x301, 64);
    CanStandIn_Inject("can0", &classic, 0, 0);
    CanStandIn_InjectFd("can0", 0x302, 12);
    CanStandIn_Inject("can0", &classic, 0, 0);
    QVERIFY(sink.waitFor(2));
    QTest::qWait(60);
    QCOMPARE(sink.frames.size(), 2);
    QCOMPARE(sink.frames.at(1).id, 0x300u);
    QCOMPARE(backend.fdFramesSkipped(), 2);
    QCOMPARE(backend.busStatus(), 0u);
    QCOMPARE(notices.size(), 1);
    QVERIFY(notices.at(0).at(0).toString().startsWith(QStringLiteral("2 CAN-FD-Frames übersprungen")));
    backend.busStatus();
    QCOMPARE(notices.size(), 1); // nothing new, no new notice
}

void TestSocketCanBackend::interfaceList()
{
    SocketCanStage stage;
    // Not a CAN interface: left out.
    QDir net(qEnvironmentVariable("BUSVISTA_SYSFS_NET"));
    QVERIFY(net.mkpath(QStringLiteral("eth0")));
    QFile type(net.filePath(QStringLiteral("eth0/type")));
    QVERIFY(type.open(QIODevice::WriteOnly));
    type.write("1\n");
    type.close();

    QString error;
    const QList<SocketCan::InterfaceInfo> list = SocketCan::interfaces(&error);
    QCOMPARE(list.size(), 3);
    QCOMPARE(list.at(0).name, QStringLiteral("can0"));
    QVERIFY(list.at(0).up);
    QVERIFY(!list.at(0).isVirtual);
    QCOMPARE(list.at(1).name, QStringLiteral("can1"));
    QVERIFY(!list.at(1).up);
    QCOMPARE(list.at(2).name, QStringLiteral("vcan0"));
    QVERIFY(list.at(2).isVirtual);
#ifdef BUSVISTA_LIBSOCKETCAN
    QCOMPARE(list.at(0).bitrate, 500000u);
    QCOMPARE(list.at(0).state, int(SocketCan::StateErrorActive));
    QCOMPARE(SocketCan::interfaceText(list.at(0)), QStringLiteral("can0   —   aktiv, 500 kBit/s, Error active"));
#endif
    QCOMPARE(SocketCan::interfaceText(list.at(1)), QStringLiteral("can1   —   inaktiv"));
    QCOMPARE(SocketCan::interfaceText(list.at(2)), QStringLiteral("vcan0   —   aktiv, virtuell"));
    QCOMPARE(SocketCan::bringUpHint(QStringLiteral("vcan1"), 500000),
             QStringLiteral("Die CAN-Schnittstelle vcan1 ist nicht aktiv. Als root einschalten mit:\nip link set vcan1 up"));
    SocketCan::InterfaceInfo one;
    QVERIFY(SocketCan::interfaceInfo(QStringLiteral("can1"), &one));
    QVERIFY(!one.up);
    QVERIFY(!SocketCan::interfaceInfo(QStringLiteral("eth0"), &one));
    QVERIFY(!SocketCan::interfaceInfo(QStringLiteral("../net/can0"), &one));
}

void TestSocketCanBackend::interfaceListEmpty()
{
    SocketCanStage stage;
    CanStandIn_Reset();
    QString error;
    QVERIFY(SocketCan::interfaces(&error).isEmpty());
    QVERIFY2(error.contains(QStringLiteral("Keine SocketCAN-Schnittstelle gefunden")), qPrintable(error));
    QVERIFY(SocketCan::available());
    CanStandIn_SetAvailable(0);
    QVERIFY(!SocketCan::available());
    QVERIFY(SocketCan::interfaces(&error).isEmpty());
    QVERIFY(error.startsWith(QStringLiteral("SocketCAN ist auf diesem System nicht verfügbar")));
}

void TestSocketCanBackend::bitrateTexts_data()
{
    QTest::addColumn<quint32>("bitrate");
    QTest::addColumn<QString>("text");
    QTest::newRow("500k") << 500000u << QStringLiteral("500 kBit/s");
    QTest::newRow("1M") << 1000000u << QStringLiteral("1 MBit/s");
    QTest::newRow("83,333k") << 83333u << QStringLiteral("83,333 kBit/s");
    QTest::newRow("2M") << 2000000u << QStringLiteral("2 MBit/s");
    QTest::newRow("62.5k") << 62500u << QStringLiteral("62500 Bit/s");
    QTest::newRow("200k") << 200000u << QStringLiteral("200 kBit/s");
}

void TestSocketCanBackend::bitrateTexts()
{
    QFETCH(quint32, bitrate);
    QFETCH(QString, text);
    QCOMPARE(SocketCan::bitrateText(bitrate), text);
}

QTEST_GUILESS_MAIN(TestSocketCanBackend)
#include "tst_socketcanbackend.moc"
