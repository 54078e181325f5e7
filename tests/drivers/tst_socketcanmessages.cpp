// The conversion of socket messages on its own: what the stand-in kernel
// cannot easily send (short or cut control messages, clocks far apart) and
// the controller state changes the kernel reports in error frames.
#include "canbackend.h"
#include "socketcanmessages.h"

#include <QTest>

#include <cstring>
#include <vector>

#include <linux/can.h>
#include <linux/can/error.h>
#include <sys/socket.h>

namespace {

// One received message: the frame bytes, their length and the control
// messages, laid out as recvmmsg() leaves them.
struct Message
{
    canfd_frame raw {};
    unsigned length = CAN_MTU;
    int flags = 0;
    std::vector<unsigned char> control;

    void add(int type, const void *data, size_t size, size_t claimed = 0)
    {
        const size_t at = control.size();
        control.resize(at + CMSG_SPACE(size));
        auto *header = reinterpret_cast<cmsghdr *>(control.data() + at);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = type;
        header->cmsg_len = CMSG_LEN(claimed ? claimed : size);
        std::memcpy(CMSG_DATA(header), data, size);
    }

    SocketCanMessages::Kind takeBy(SocketCanMessages &messages, CanFrame *frame)
    {
        msghdr header {};
        header.msg_control = control.empty() ? nullptr : control.data();
        header.msg_controllen = control.size();
        header.msg_flags = flags;
        return messages.take(header, length, raw, frame);
    }
};

timespec at(qint64 seconds, long nanos)
{
    timespec spec {};
    spec.tv_sec = time_t(seconds);
    spec.tv_nsec = nanos;
    return spec;
}

Message errorFrame(quint32 classes, quint8 controller = 0)
{
    Message message;
    message.raw.can_id = CAN_ERR_FLAG | classes;
    message.raw.len = CAN_ERR_DLC;
    message.raw.data[1] = controller;
    return message;
}

const qint64 OpenNs = 1000LL * 1000000000;  // the system clock at open: 1000 s

} // namespace

class TestSocketCanMessages : public QObject
{
    Q_OBJECT

private slots:
    void frames_data();
    void frames();
    void stamps_data();
    void stamps();
    void controllerStates();
    void dropsRaiseOverrunOnce();
};

void TestSocketCanMessages::frames_data()
{
    QTest::addColumn<quint32>("canId");
    QTest::addColumn<unsigned>("length");
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("errorFrames");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("expected");  // id, flags, dlc
    const int Frame = SocketCanMessages::Frame;
    const int Nothing = SocketCanMessages::Nothing;
    QTest::newRow("standard") << 0x123u << unsigned(CAN_MTU) << 0 << false << Frame << "123 8";
    QTest::newRow("extended") << (CAN_EFF_FLAG | 0x1ABCDEFu) << unsigned(CAN_MTU) << 0 << false << Frame << "1ABCDEF x 8";
    QTest::newRow("remote") << (CAN_RTR_FLAG | 0x7FFu) << unsigned(CAN_MTU) << 0 << false << Frame << "7FF r 8";
    QTest::newRow("echo") << 0x10u << unsigned(CAN_MTU) << int(MSG_CONFIRM) << false << Frame << "10 t 8";
    QTest::newRow("error frame, not wanted") << (CAN_ERR_FLAG | CAN_ERR_BUSOFF) << unsigned(CAN_MTU) << 0 << false
                                             << Nothing << "";
    QTest::newRow("error frame, wanted") << (CAN_ERR_FLAG | CAN_ERR_BUSOFF) << unsigned(CAN_MTU) << 0 << true << Frame
                                         << "40 e 8";
    QTest::newRow("CAN FD") << 0x123u << unsigned(CANFD_MTU) << 0 << false << int(SocketCanMessages::FdFrame) << "";
    QTest::newRow("cut short") << 0x123u << 10u << 0 << false << Nothing << "";
}

void TestSocketCanMessages::frames()
{
    QFETCH(quint32, canId);
    QFETCH(unsigned, length);
    QFETCH(int, flags);
    QFETCH(bool, errorFrames);
    QFETCH(int, kind);
    QFETCH(QString, expected);
    SocketCanMessages messages;
    messages.reset(OpenNs, errorFrames);
    Message message;
    message.raw.can_id = canId;
    message.raw.len = 8;  // a length beyond 8 (here: the FD case) must not reach the frame
    message.length = length;
    message.flags = flags;
    CanFrame frame;
    QCOMPARE(int(message.takeBy(messages, &frame)), kind);
    if (kind != SocketCanMessages::Frame)
        return;
    QString text = QString::number(frame.id, 16).toUpper();
    if (frame.extended)
        text += " x";
    if (frame.rtr)
        text += " r";
    if (frame.tx)
        text += " t";
    if (frame.error)
        text += " e";
    text += " " + QString::number(frame.dlc);
    QCOMPARE(text, expected);
}

void TestSocketCanMessages::stamps_data()
{
    QTest::addColumn<QList<qint64>>("software");  // seconds, nanoseconds of SO_TIMESTAMPNS; empty: none
    QTest::addColumn<QList<qint64>>("hardware");  // of the raw hardware stamp in SO_TIMESTAMPING; empty: none
    QTest::addColumn<int>("claimedLength");       // control length claimed by the software stamp; 0: its own
    QTest::addColumn<QList<qint64>>("expectedUs");
    QTest::newRow("software") << QList<qint64> {1001, 500} << QList<qint64> {} << 0 << QList<qint64> {1000000, 1000000};
    // The adapter's clock starts near zero: its first stamp is tied to the
    // software one, the second keeps the adapter's spacing (2 ms later).
    QTest::newRow("hardware") << QList<qint64> {1002, 0} << QList<qint64> {5, 0} << 0
                              << QList<qint64> {2000000, 2002000};
    QTest::newRow("none") << QList<qint64> {} << QList<qint64> {} << 0 << QList<qint64> {-1, -1};
    // A control message claiming less than a time stamp is ignored.
    QTest::newRow("short") << QList<qint64> {1001, 0} << QList<qint64> {} << 4 << QList<qint64> {-1, -1};
    QTest::newRow("before open") << QList<qint64> {999, 0} << QList<qint64> {} << 0 << QList<qint64> {0, 0};
    QTest::newRow("nonsense") << QList<qint64> {-5, 2000000000} << QList<qint64> {} << 0 << QList<qint64> {-1, -1};
}

void TestSocketCanMessages::stamps()
{
    QFETCH(QList<qint64>, software);
    QFETCH(QList<qint64>, hardware);
    QFETCH(int, claimedLength);
    QFETCH(QList<qint64>, expectedUs);
    SocketCanMessages messages;
    messages.reset(OpenNs, false);
    for (int i = 0; i < 2; ++i) {
        Message message;
        message.raw.len = 1;
        if (!software.isEmpty()) {
            const timespec stamp = at(software[0], long(software[1]));
            message.add(SO_TIMESTAMPNS, &stamp, sizeof stamp, size_t(claimedLength));
        }
        if (!hardware.isEmpty()) {
            const timespec stamps[3] = {timespec {}, timespec {}, at(hardware[0], long(hardware[1]) + i * 2000000)};
            message.add(SO_TIMESTAMPING, stamps, sizeof stamps);
        }
        CanFrame frame;
        QCOMPARE(message.takeBy(messages, &frame), SocketCanMessages::Frame);
        QCOMPARE(frame.timestampUs, expectedUs[i]);
    }
}

void TestSocketCanMessages::controllerStates()
{
    struct Step
    {
        Message message;
        unsigned state;
        unsigned latched;
    };
    const Step steps[] = {
        {errorFrame(CAN_ERR_CRTL, CAN_ERR_CRTL_RX_WARNING), CanBackend::BusLight, 0},
        {errorFrame(CAN_ERR_CRTL, CAN_ERR_CRTL_TX_PASSIVE), CanBackend::BusHeavy, 0},
        {errorFrame(CAN_ERR_CRTL, CAN_ERR_CRTL_RX_OVERFLOW), CanBackend::BusHeavy, CanBackend::ControllerOverrun},
        {errorFrame(CAN_ERR_BUSOFF), CanBackend::BusOff, 0},
        {errorFrame(CAN_ERR_RESTARTED), 0, 0},
        {errorFrame(CAN_ERR_CRTL, CAN_ERR_CRTL_TX_WARNING), CanBackend::BusLight, 0},
        {errorFrame(CAN_ERR_CRTL, CAN_ERR_CRTL_ACTIVE), 0, 0},
        {errorFrame(CAN_ERR_PROT), 0, 0},  // a protocol error alone changes no state
    };
    SocketCanMessages messages;
    messages.reset(OpenNs, false);
    int index = 0;
    for (Step step : steps) {
        CanFrame frame;
        step.message.takeBy(messages, &frame);
        QVERIFY2(messages.busState() == step.state, qPrintable(QString::number(index)));
        QVERIFY2(messages.takeLatched() == step.latched, qPrintable(QString::number(index)));
        ++index;
    }
}

void TestSocketCanMessages::dropsRaiseOverrunOnce()
{
    SocketCanMessages messages;
    messages.reset(OpenNs, false);
    const quint32 counts[] = {0, 0, 4, 4, 9};
    const unsigned expected[] = {0, 0, CanBackend::RxQueueOverrun, 0, CanBackend::RxQueueOverrun};
    for (int i = 0; i < 5; ++i) {
        Message message;
        message.add(SO_RXQ_OVFL, &counts[i], sizeof counts[i]);
        CanFrame frame;
        message.takeBy(messages, &frame);
        QCOMPARE(messages.takeLatched(), expected[i]);
    }
}

QTEST_GUILESS_MAIN(TestSocketCanMessages)
#include "tst_socketcanmessages.moc"
