// The SocketCAN backend against the stand-in kernel: opening and its German
// messages, frame conversion, echoes, error frames and status bits, write
// errors, writes into a full transmit queue, a vanishing interface, the
// restart after bus-off, CAN FD frames and the interface list.
#include "busstatistics.h"
#include "socketcan.h"
#include "socketcanfixture.h"

#include <QSignalSpy>
#include <QTest>

#include <linux/can/error.h>
#include <linux/can/netlink.h>

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
    void writesWaitForRoom_data();
    void writesWaitForRoom();
    void interfaceDownAndReset_data();
    void interfaceDownAndReset();
    void resetAfterBusOff_data();
    void resetAfterBusOff();
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

void TestSocketCanBackend::writesWaitForRoom_data()
{
    QTest::addColumn<int>("periodUs");
    QTest::addColumn<int>("fullError");
    QTest::addColumn<bool>("pollHonest");
    QTest::addColumn<int>("sent");

    // 40 frames into a queue of 10 that sends one frame per millisecond.
    QTest::newRow("drains, ENOBUFS") << 1000 << ENOBUFS << true << 40;
    QTest::newRow("drains, EAGAIN") << 1000 << EAGAIN << true << 40;
    QTest::newRow("drains, POLLOUT while full") << 1000 << ENOBUFS << false << 40;
    // Nobody acknowledges: the queue never drains.
    QTest::newRow("stuck") << -1 << ENOBUFS << true << 10;
    QTest::newRow("stuck, POLLOUT while full") << -1 << ENOBUFS << false << 10;
}

void TestSocketCanBackend::writesWaitForRoom()
{
    QFETCH(int, periodUs);
    QFETCH(int, fullError);
    QFETCH(bool, pollHonest);
    QFETCH(int, sent);
    constexpr int Count = 40;
    SocketCanStage stage;
    SocketCanBackend backend;
    FrameSink sink(&backend);
    QVERIFY(backend.open(socketCanParams("can0"), nullptr));
    CanStandIn_SetTxQueue("can0", 10, periodUs);
    CanStandIn_SetTxFull("can0", fullError, pollHonest);
    CanFrame frames[Count];
    for (int i = 0; i < Count; ++i) {
        frames[i].id = 0x700;
        frames[i].dlc = 1;
        frames[i].data[0] = quint8(i);
    }
    QString error;
    QCOMPARE(backend.writeFrames(frames, Count, &error), sent);
    QCOMPARE(CanStandIn_Written("can0"), quint64(sent));
    // Waiting, not trying again and again (a driver whose POLLOUT says
    // nothing included).
    QVERIFY2(CanStandIn_TxRefused("can0") < quint64(10 * Count), qPrintable(QString::number(CanStandIn_TxRefused("can0"))));
    QVERIFY(sink.waitFor(sent));
    for (int i = 0; i < sent; ++i)
        QCOMPARE(int(sink.frames.at(i).data[0]), i);
    if (sent == Count) {
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(backend.busStatus(), 0u);
        return;
    }
    // Only what could not be sent is reported.
    QVERIFY2(error.startsWith(QStringLiteral("Sendepuffer voll: Die Sendewarteschlange von can0 wurde nicht frei")),
             qPrintable(error));
    QCOMPARE(backend.busStatus(), unsigned(CanBackend::TxBufferFull));
    QCOMPARE(backend.busStatus(), 0u);
    // The next write does not wait the whole time again: one attempt, a
    // short wait, and no more than a few more.
    const quint64 refusedBefore = CanStandIn_TxRefused("can0");
    QVERIFY(!backend.write(frames[0], &error));
    QVERIFY(CanStandIn_TxRefused("can0") - refusedBefore <= 12);
    // The bus takes frames again: so do the writes.
    CanStandIn_SetTxQueue("can0", 10, 1000);
    QVERIFY2(backend.write(frames[0], &error), qPrintable(error));
    QCOMPARE(CanStandIn_Written("can0"), quint64(sent + 1));
}

void TestSocketCanBackend::interfaceDownAndReset_data()
{
    QTest::addColumn<bool>("removed");
    QTest::addColumn<int>("queued");
    // The kernel reports the error ahead of the frames still in the socket.
    QTest::newRow("down (ENETDOWN)") << false << 10;
    QTest::newRow("down, more than one batch waiting") << false << 300;
    QTest::newRow("unplugged (ENODEV)") << true << 10;
    QTest::newRow("unplugged, more than one batch waiting") << true << 300;
}

void TestSocketCanBackend::interfaceDownAndReset()
{
    QFETCH(bool, removed);
    QFETCH(int, queued);
    SocketCanStage stage;
    SocketCanBackend backend;
    FrameSink sink(&backend);
    QVERIFY(backend.open(socketCanParams("can0"), nullptr));
    // Frames and the error arrive before the reader wakes up.
    CanStandIn_Hold(1);
    CanStandIn_InjectNumbered("can0", 0x42, 0, quint32(queued), 0, 1000);
    if (removed)
        CanStandIn_Remove("can0");
    else
        CanStandIn_SetUp("can0", 0);
    CanStandIn_Hold(0);
    QVERIFY(sink.waitFor(queued));
    QTRY_VERIFY(backend.busStatus() & CanBackend::DeviceLost);
    const unsigned flags = backend.busStatus();
    QCOMPARE(CanBackend::statusText(flags), QStringLiteral("Adapter getrennt"));
    QVERIFY(BusStatistics::statusStyle(flags).contains(QStringLiteral("#e04040")));
    QCOMPARE(sink.frames.size(), queued); // what the socket held stays
    for (int i = 0; i < queued; ++i)
        QCOMPARE(numberOf(sink.frames.at(i)), quint32(i));
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
    CanStandIn_InjectNumbered("can0", 0x42, quint32(queued), 5, 0, 1000);
    QVERIFY(sink.waitFor(queued + 5));
    QCOMPARE(numberOf(sink.frames.at(queued + 4)), quint32(queued + 4));
    // Same connection, same time base.
    QVERIFY(sink.frames.at(queued).timestampUs >= lastBefore);
    QVERIFY(backend.write(frame, &error));
    QVERIFY(sink.waitFor(queued + 6));
    QVERIFY(sink.frames.last().tx);
}

void TestSocketCanBackend::resetAfterBusOff_data()
{
    QTest::addColumn<int>("kernelState");      // what netlink reports at the reset
    QTest::addColumn<int>("restartError");
    QTest::addColumn<int>("stateAfter");
    QTest::addColumn<bool>("reset");
    QTest::addColumn<unsigned>("status");
    QTest::addColumn<quint64>("restarts");
    QTest::addColumn<QString>("message");

    const unsigned busOff = CanBackend::BusOff;
#ifdef BUSVISTA_LIBSOCKETCAN
    QTest::newRow("restarted") << int(CAN_STATE_BUS_OFF) << 0 << int(CAN_STATE_ERROR_ACTIVE) << true << 0u
                               << quint64(1) << QString();
    QTest::newRow("refused: no CAP_NET_ADMIN") << int(CAN_STATE_BUS_OFF) << EPERM << 0 << false << busOff
                                               << quint64(0)
                                               << QStringLiteral("Der CAN-Controller von can0 ist im Bus-Off und konnte "
                                                                 "nicht neu gestartet werden: dazu fehlen Busvista die "
                                                                 "Rechte (CAP_NET_ADMIN).\nAls root neu starten mit:\n"
                                                                 "ip link set can0 type can restart\n");
    QTest::newRow("refused: other reason") << int(CAN_STATE_BUS_OFF) << EOPNOTSUPP << 0 << false << busOff
                                           << quint64(0) << QStringLiteral("restart-ms 100");
    QTest::newRow("error passive after the restart")
        << int(CAN_STATE_BUS_OFF) << 0 << int(CAN_STATE_ERROR_PASSIVE) << true << unsigned(CanBackend::BusHeavy)
        << quint64(1) << QString();
    QTest::newRow("bus-off again after the restart")
        << int(CAN_STATE_BUS_OFF) << 0 << int(CAN_STATE_BUS_OFF) << false << busOff << quint64(1)
        << QStringLiteral("ist nach dem Neustart wieder im Bus-Off");
    QTest::newRow("restarted by the kernel meanwhile") << int(CAN_STATE_ERROR_ACTIVE) << EPERM << 0 << true << 0u
                                                       << quint64(0) << QString();
    QTest::newRow("state not reported, refused") << -1 << EPERM << 0 << false << busOff << quint64(0)
                                                 << QStringLiteral("CAP_NET_ADMIN");
#else
    QTest::newRow("no netlink") << -1 << EPERM << 0 << false << busOff << quint64(0)
                                << QStringLiteral("ohne libsocketcan");
#endif
}

void TestSocketCanBackend::resetAfterBusOff()
{
    QFETCH(int, kernelState);
    QFETCH(int, restartError);
    QFETCH(int, stateAfter);
    QFETCH(bool, reset);
    QFETCH(unsigned, status);
    QFETCH(quint64, restarts);
    QFETCH(QString, message);
    SocketCanStage stage;
    SocketCanBackend backend;
    FrameSink sink(&backend);
    QVERIFY(backend.open(socketCanParams("can0"), nullptr));
    const can_frame busOff = rawFrame(CAN_ERR_FLAG | CAN_ERR_BUSOFF, {0, 0, 0, 0, 0, 0, 0, 0});
    const can_frame marker = rawFrame(0x001, {});
    CanStandIn_Inject("can0", &busOff, 0, 0);
    CanStandIn_Inject("can0", &marker, 0, 0);
    QVERIFY(sink.waitFor(1));
    QCOMPARE(backend.busStatus(), unsigned(CanBackend::BusOff));
    CanStandIn_SetState("can0", kernelState);
    CanStandIn_SetRestart("can0", restartError, stateAfter);

    QString error;
    QCOMPARE(backend.resetHardware(&error), reset);
    QVERIFY2(message.isEmpty() ? error.isEmpty() : error.contains(message), qPrintable(error));
    QCOMPARE(CanStandIn_Restarts("can0"), restarts);
    QVERIFY(backend.isOpen());
    QCOMPARE(backend.busStatus(), status);
    QCOMPARE(backend.busStatus(), status); // a state, not a latched bit
    // Reception goes on either way.
    CanStandIn_Inject("can0", &marker, 0, 0);
    QVERIFY(sink.waitFor(2));
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
