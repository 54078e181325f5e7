#include "busstatistics.h"
#include "simulationbackend.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

// Drives the simulation on a clock of its own, one tick per simulated millisecond.
class FakeClockSimulation : public SimulationBackend
{
public:
    FakeClockSimulation()
    {
        connect(this, &CanBackend::framesReceived, this,
                [this](const CanFrameList &frames) { received.append(frames); });
    }

    void start()
    {
        nowNs = 0;
        open(ConnectParams(), nullptr);
    }
    void runUntil(qint64 ms)
    {
        while (nowNs < ms * 1000000) {
            nowNs += 1000000;
            tick();
        }
        flushQueue();
    }
    // The event loop was blocked: the next tick comes late.
    void jumpTo(qint64 ms)
    {
        nowNs = ms * 1000000;
        tick();
        flushQueue();
    }
    CanFrameList framesOf(quint32 id, bool extended = false) const
    {
        CanFrameList result;
        for (const CanFrame &frame : received) {
            if (frame.id == id && frame.extended == extended)
                result.append(frame);
        }
        return result;
    }

    qint64 nowNs = 0;
    CanFrameList received;
    int waits = 0;
    std::function<void()> whileWaiting; // another writer, acting while one waits

protected:
    qint64 elapsedNs() const override { return nowNs; }
    // A writer waiting for room in the transmit queue: the clock moves on.
    void waitUntil(qint64 untilNs) override
    {
        ++waits;
        nowNs = std::max(nowNs, untilNs);
        if (whileWaiting)
            whileWaiting();
    }
};

QByteArray payload(const CanFrame &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data), frame.dlc);
}

} // namespace

class TestSimulationBackend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void firstBatchIsBootUpAtTimeZero();
    void messagesKeepTheirPeriodsAndOrder();
    void message1Data_data();
    void message1Data();
    void message2Data_data();
    void message2Data();
    void message3SwitchesEveryTwentySends();
    void rampProfile_data();
    void rampProfile();
    void rampMessagesAreHundredStepsApart();
    void extendedMessageCountsLittleEndian();
    void randomMessageRepeatsPerObject();
    void remoteRequests_data();
    void remoteRequests();
    void writeEchoesOnNextFlushOnly();
    void writeOnClosedFailsAndEnqueuesNothing();
    void missedSendsAreDropped();
    void lateTickCatchesUpAtTheDueTimes();
    void secondOpenRestarts();
    void writesWaitForRoomInTheTransmitQueue_data();
    void writesWaitForRoomInTheTransmitQueue();
    void busCarriesAtMostItsBitRate();
    void starvedWriterIsRefused();
    void realTimerDeliversTraffic();
    void destroyWhileOpen();
};

void TestSimulationBackend::initTestCase()
{
    qRegisterMetaType<CanFrame>();
    qRegisterMetaType<CanFrameList>("CanFrameList");
}

void TestSimulationBackend::firstBatchIsBootUpAtTimeZero()
{
    FakeClockSimulation sim;
    sim.start();
    QVERIFY(sim.isOpen());
    sim.flushQueue();
    QCOMPARE(sim.received.size(), 1);
    const CanFrame bootUp = sim.received.first();
    QCOMPARE(bootUp.id, 0x705u);
    QCOMPARE(bootUp.dlc, quint8(1));
    QCOMPARE(bootUp.data[0], quint8(0x00));
    QCOMPARE(bootUp.timestampUs, 0);
    QVERIFY(!bootUp.tx && !bootUp.extended && !bootUp.rtr);

    sim.runUntil(9);
    QCOMPARE(sim.received.size(), 1);
    sim.runUntil(10);
    QCOMPARE(sim.received.size(), 2);
    QCOMPARE(sim.received.at(1).id, 0x100u);
    QCOMPARE(sim.received.at(1).timestampUs, 10000);
}

void TestSimulationBackend::messagesKeepTheirPeriodsAndOrder()
{
    FakeClockSimulation sim;
    sim.start();
    sim.runUntil(3000);

    const struct { quint32 id; bool extended; int periodMs; quint8 dlc; } table[] = {
        {0x100, false, 10, 8}, {0x1A0, false, 20, 4}, {0x2F0, false, 100, 2},
        {0x351, false, 50, 8}, {0x18FEF100, true, 100, 8}, {0x192, false, 50, 4},
        {0x1A2, false, 50, 4}, {0x714, false, 1000, 1}, {0x715, false, 1000, 1},
        {0x710, false, 500, 1},
    };
    for (const auto &row : table) {
        const CanFrameList frames = sim.framesOf(row.id, row.extended);
        QCOMPARE(frames.size(), 3000 / row.periodMs);
        for (int i = 0; i < frames.size(); ++i) {
            QCOMPARE(frames.at(i).timestampUs, qint64(i + 1) * row.periodMs * 1000);
            QCOMPARE(frames.at(i).dlc, row.dlc);
            QVERIFY(!frames.at(i).tx);
        }
    }
    // Boot-up plus three heartbeats of node 5.
    const CanFrameList node5 = sim.framesOf(0x705);
    QCOMPARE(node5.size(), 4);
    QCOMPARE(node5.at(1).data[0], quint8(0x05));
    QCOMPARE(node5.at(1).timestampUs, 1000000);
    QCOMPARE(sim.framesOf(0x710).first().data[0], quint8(0x7F));
    QCOMPARE(sim.framesOf(0x714).first().data[0], quint8(0x05));

    // When all are due in the same tick they leave in table order.
    QList<quint32> atOneSecond;
    for (const CanFrame &frame : sim.received) {
        if (frame.timestampUs == 1000000)
            atOneSecond.append(frame.id);
    }
    const QList<quint32> expected {0x100, 0x1A0, 0x2F0, 0x351, 0x18FEF100, 0x705,
                                   0x192, 0x1A2, 0x714, 0x715, 0x710};
    QCOMPARE(atOneSecond, expected);
}

// Reference values computed independently from the generator formulas.
void TestSimulationBackend::message1Data_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("start, mid value") << 0 << QByteArray::fromHex("076c5a0000000000");
    QTest::newRow("second send") << 1 << QByteArray::fromHex("07715a0000000001");
    QTest::newRow("near top") << 314 << QByteArray::fromHex("0bb75a000000003a");
    QTest::newRow("byte 2 steps after 500") << 500 << QByteArray::fromHex("09fe5b00000000f4");
    QTest::newRow("bottom") << 942 << QByteArray::fromHex("03205b00000000ae");
    QTest::newRow("byte 2 wraps after 2500") << 2500 << QByteArray::fromHex("07235a00000000c4");
}

void TestSimulationBackend::message1Data()
{
    QFETCH(int, n);
    QFETCH(QByteArray, bytes);
    FakeClockSimulation sim;
    sim.start();
    sim.runUntil((n + 1) * 10);
    const CanFrameList frames = sim.framesOf(0x100);
    QCOMPARE(frames.size(), n + 1);
    QCOMPARE(payload(frames.at(n)).toHex(), bytes.toHex());
}

void TestSimulationBackend::message2Data_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("start") << 0 << QByteArray::fromHex("13880000");
    QTest::newRow("second") << 1 << QByteArray::fromHex("13910001");
    QTest::newRow("top") << 785 << QByteArray::fromHex("270f0001");
    QTest::newRow("bottom") << 2356 << QByteArray::fromHex("00000004");
}

void TestSimulationBackend::message2Data()
{
    QFETCH(int, n);
    QFETCH(QByteArray, bytes);
    FakeClockSimulation sim;
    sim.start();
    sim.runUntil((n + 1) * 20);
    const CanFrameList frames = sim.framesOf(0x1A0);
    QCOMPARE(frames.size(), n + 1);
    QCOMPARE(payload(frames.at(n)).toHex(), bytes.toHex());
}

void TestSimulationBackend::message3SwitchesEveryTwentySends()
{
    FakeClockSimulation sim;
    sim.start();
    sim.runUntil(16100);
    const CanFrameList frames = sim.framesOf(0x2F0);
    QCOMPARE(frames.size(), 161);
    for (int n = 0; n < frames.size(); ++n) {
        QCOMPARE(frames.at(n).data[0], quint8((n / 20) % 8));
        QCOMPARE(frames.at(n).data[1], quint8(0xA5));
    }
    QCOMPARE(frames.at(19).data[0], quint8(0));
    QCOMPARE(frames.at(20).data[0], quint8(1));
    QCOMPARE(frames.at(160).data[0], quint8(0)); // wraps after 8 steps
}

void TestSimulationBackend::rampProfile_data()
{
    QTest::addColumn<int>("phase");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("idle start") << 0 << QByteArray::fromHex("10c00000");
    QTest::newRow("idle end") << 99 << QByteArray::fromHex("10c00000");
    QTest::newRow("rising, first step") << 100 << QByteArray::fromHex("10c40b00");
    QTest::newRow("rising, below 200") << 115 << QByteArray::fromHex("10c4bc00");
    QTest::newRow("rising, reaches 200") << 116 << QByteArray::fromHex("11c4c800");
    QTest::newRow("rising, last step") << 184 << QByteArray::fromHex("11c4e803");
    QTest::newRow("plateau start") << 185 << QByteArray::fromHex("11c0e803");
    QTest::newRow("plateau end") << 214 << QByteArray::fromHex("11c0e803");
    QTest::newRow("falling, first step") << 215 << QByteArray::fromHex("11c8e803");
    QTest::newRow("falling, last step") << 299 << QByteArray::fromHex("10c80b00");
    QTest::newRow("next cycle") << 300 << QByteArray::fromHex("10c00000");
}

void TestSimulationBackend::rampProfile()
{
    QFETCH(int, phase);
    QFETCH(QByteArray, bytes);
    FakeClockSimulation sim;
    sim.start();
    sim.runUntil((phase + 1) * 50);
    const CanFrameList frames = sim.framesOf(0x192);
    QCOMPARE(frames.size(), phase + 1);
    QCOMPARE(payload(frames.at(phase)).toHex(), bytes.toHex());
}

void TestSimulationBackend::rampMessagesAreHundredStepsApart()
{
    FakeClockSimulation sim;
    sim.start();
    sim.runUntil(15000);
    const CanFrameList first = sim.framesOf(0x192);
    const CanFrameList second = sim.framesOf(0x1A2);
    QCOMPARE(first.size(), 300);
    QCOMPARE(second.size(), 300);
    // At n = 0 message 8 is already on the rising edge.
    QCOMPARE(payload(second.first()).toHex(), QByteArray("10c40b00"));
    QCOMPARE(payload(first.first()).toHex(), QByteArray("10c00000"));
    for (int n = 0; n + 100 < 300; ++n)
        QCOMPARE(payload(second.at(n)), payload(first.at(n + 100)));
}

void TestSimulationBackend::extendedMessageCountsLittleEndian()
{
    FakeClockSimulation sim;
    sim.start();
    sim.runUntil(25700);
    const CanFrameList frames = sim.framesOf(0x18FEF100, true);
    QCOMPARE(frames.size(), 257);
    QCOMPARE(payload(frames.at(0)).toHex(), QByteArray("ff0000ffffffffff"));
    QCOMPARE(payload(frames.at(1)).toHex(), QByteArray("ff0100ffffffffff"));
    QCOMPARE(payload(frames.at(255)).toHex(), QByteArray("ffff00ffffffffff"));
    QCOMPARE(payload(frames.at(256)).toHex(), QByteArray("ff0001ffffffffff"));
    QVERIFY(sim.framesOf(0x18FEF100, false).isEmpty());
}

void TestSimulationBackend::randomMessageRepeatsPerObject()
{
    const quint32 seed[] = {0x00C0FFEE};
    QRandomGenerator reference(seed);
    QByteArray expected;
    for (int i = 0; i < 16; ++i)
        expected.append(char(reference.generate() >> 24));

    FakeClockSimulation first;
    first.start();
    first.runUntil(100);
    const CanFrameList frames = first.framesOf(0x351);
    QCOMPARE(frames.size(), 2);
    QCOMPARE(payload(frames.at(0)) + payload(frames.at(1)), expected);

    FakeClockSimulation second;
    second.start();
    second.runUntil(50);
    QCOMPARE(payload(second.framesOf(0x351).first()), expected.left(8));

    // A second open of the same object continues the sequence.
    second.received.clear();
    second.start();
    second.runUntil(50);
    QCOMPARE(payload(second.framesOf(0x351).first()), expected.mid(8));
}

void TestSimulationBackend::remoteRequests_data()
{
    QTest::addColumn<quint32>("id");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<bool>("answered");
    QTest::newRow("own standard message") << 0x100u << false << true;
    QTest::newRow("own extended message") << 0x18FEF100u << true << true;
    QTest::newRow("extended identifier asked as standard") << 0x18FEF100u << false << false;
    QTest::newRow("standard identifier asked as extended") << 0x100u << true << false;
    QTest::newRow("not sent yet") << 0x710u << false << true;
    QTest::newRow("unknown identifier") << 0x123u << false << false;
    QTest::newRow("SDO request channel") << 0x605u << false << false;
}

void TestSimulationBackend::remoteRequests()
{
    QFETCH(quint32, id);
    QFETCH(bool, extended);
    QFETCH(bool, answered);
    FakeClockSimulation sim;
    sim.start();
    sim.runUntil(135);
    const CanFrameList before = sim.framesOf(id, extended);
    sim.received.clear();
    sim.nowNs += 400000; // between ticks

    CanFrame request;
    request.id = id;
    request.extended = extended;
    request.rtr = true;
    request.dlc = 8;
    QString error;
    QVERIFY(sim.write(request, &error));
    QVERIFY(error.isEmpty());
    sim.flushQueue();

    QCOMPARE(sim.received.size(), answered ? 2 : 1);
    const CanFrame echo = sim.received.at(0);
    QVERIFY(echo.tx && echo.rtr);
    QCOMPARE(echo.id, id);
    QCOMPARE(echo.timestampUs, 135400);
    if (!answered)
        return;
    const CanFrame answer = sim.received.at(1);
    QVERIFY(!answer.tx && !answer.rtr);
    QCOMPARE(answer.id, id);
    QCOMPARE(answer.extended, extended);
    QCOMPARE(answer.timestampUs, echo.timestampUs + 200);
    if (before.isEmpty()) {
        QCOMPARE(answer.dlc, quint8(1));
        QCOMPARE(answer.data[0], quint8(0));
    } else {
        QCOMPARE(payload(answer), payload(before.last()));
    }
}

void TestSimulationBackend::writeEchoesOnNextFlushOnly()
{
    FakeClockSimulation sim;
    sim.start();
    sim.runUntil(5);
    sim.received.clear();

    CanFrame frame;
    frame.id = 0x321;
    frame.dlc = 3;
    frame.data[0] = 0x11;
    frame.data[1] = 0x22;
    frame.data[2] = 0x33;
    QVERIFY(sim.write(frame, nullptr));
    QVERIFY(sim.received.isEmpty());
    sim.flushQueue();
    QCOMPARE(sim.received.size(), 1);
    const CanFrame echo = sim.received.first();
    QVERIFY(echo.tx && !echo.rtr && !echo.extended);
    QCOMPARE(echo.id, 0x321u);
    QCOMPARE(payload(echo).toHex(), QByteArray("112233"));
    QCOMPARE(echo.timestampUs, 5000);

    // A length beyond 8 cannot go on the bus; the echo carries what was sent.
    frame.dlc = 15;
    QVERIFY(sim.write(frame, nullptr));
    sim.flushQueue();
    QCOMPARE(sim.received.last().dlc, quint8(8));
}

void TestSimulationBackend::writeOnClosedFailsAndEnqueuesNothing()
{
    FakeClockSimulation sim;
    CanFrame frame;
    frame.id = 0x100;
    frame.rtr = true;
    QString error;
    QVERIFY(!sim.write(frame, &error));
    QCOMPARE(error, QStringLiteral("Nicht verbunden."));
    QVERIFY(!sim.write(frame, nullptr));
    sim.flushQueue();
    QVERIFY(sim.received.isEmpty());

    sim.start();
    sim.runUntil(20);
    sim.close();
    QVERIFY(!sim.isOpen());
    sim.received.clear();
    error.clear();
    QVERIFY(!sim.write(frame, &error));
    QCOMPARE(error, QStringLiteral("Nicht verbunden."));
    sim.flushQueue();
    QVERIFY(sim.received.isEmpty());
}

void TestSimulationBackend::missedSendsAreDropped()
{
    FakeClockSimulation sim;
    sim.start();
    sim.runUntil(100);
    sim.received.clear();

    sim.jumpTo(3000);
    QCOMPARE(sim.received.size(), 11); // every message once, no catch-up burst
    for (const CanFrame &frame : sim.received)
        QCOMPARE(frame.timestampUs, 3000000);

    sim.runUntil(3009);
    QCOMPARE(sim.received.size(), 11);
    sim.runUntil(3010);
    QCOMPARE(sim.framesOf(0x100).size(), 2);
    QCOMPARE(sim.framesOf(0x100).last().timestampUs, 3010000);

    sim.runUntil(4000);
    QCOMPARE(sim.framesOf(0x100).size(), 101);
    const CanFrameList heartbeat = sim.framesOf(0x705);
    QCOMPARE(heartbeat.size(), 2);
    QCOMPARE(heartbeat.last().timestampUs, 4000000);
    // The count went on from where it was: one send per message, not 290.
    QCOMPARE(sim.framesOf(0x100).first().data[7], quint8(10));
}

void TestSimulationBackend::lateTickCatchesUpAtTheDueTimes()
{
    FakeClockSimulation sim;
    sim.start();
    sim.runUntil(100);
    sim.received.clear();

    // 300 ms late, within the catch-up span: every send that fell due comes.
    sim.jumpTo(400);
    const CanFrameList fast = sim.framesOf(0x100);
    QCOMPARE(fast.size(), 30);
    for (int i = 0; i < fast.size(); ++i) {
        QCOMPARE(fast.at(i).timestampUs, qint64(110 + 10 * i) * 1000);
        QCOMPARE(fast.at(i).data[7], quint8(10 + i)); // the count goes on without a gap
    }
    QCOMPARE(sim.framesOf(0x1A0).size(), 15);
    QCOMPARE(sim.framesOf(0x1A0).first().timestampUs, 120000);
    QCOMPARE(sim.framesOf(0x18FEF100, true).size(), 3);
    QCOMPARE(sim.framesOf(0x705).size(), 0); // first heartbeat due at 1 s
    // In time order across the messages.
    for (int i = 1; i < sim.received.size(); ++i)
        QVERIFY(sim.received.at(i).timestampUs >= sim.received.at(i - 1).timestampUs);

    // On time again, and the phase is kept.
    sim.runUntil(410);
    QCOMPARE(sim.framesOf(0x100).size(), 31);
    QCOMPARE(sim.framesOf(0x100).last().timestampUs, 410000);

    // Over a whole second behind: that is skipped, one send each.
    sim.received.clear();
    sim.jumpTo(2500);
    QCOMPARE(sim.framesOf(0x100).size(), 1);
    QCOMPARE(sim.framesOf(0x100).first().timestampUs, 2500000);
    sim.runUntil(2510);
    QCOMPARE(sim.framesOf(0x100).size(), 2);
}

void TestSimulationBackend::secondOpenRestarts()
{
    FakeClockSimulation sim;
    sim.start();
    sim.runUntil(2500);
    sim.nowNs += 5000000;
    sim.tick(); // pending, not flushed
    sim.received.clear();

    sim.start();
    sim.flushQueue();
    QCOMPARE(sim.received.size(), 1);
    QCOMPARE(sim.received.first().id, 0x705u);
    QCOMPARE(sim.received.first().timestampUs, 0);

    sim.runUntil(100);
    QCOMPARE(sim.framesOf(0x100).size(), 10);
    QCOMPARE(sim.framesOf(0x100).first().data[7], quint8(0));
    QCOMPARE(sim.framesOf(0x100).first().timestampUs, 10000);
    QCOMPARE(payload(sim.framesOf(0x18FEF100, true).first()).toHex(), QByteArray("ff0000ffffffffff"));
}

void TestSimulationBackend::writesWaitForRoomInTheTransmitQueue_data()
{
    QTest::addColumn<int>("dlc");
    QTest::addColumn<bool>("extendedRemote");
    QTest::addColumn<int>("count");
    QTest::addColumn<qint64>("clockUs"); // after the last write
    QTest::addColumn<int>("waits");
    // At 500 kbit/s (2 µs a bit) the boot-up (59 bits) takes the bus until
    // 118 µs; a standard 8-byte frame takes 240 µs, an extended remote frame
    // 144 µs, an empty standard frame 100 µs. The queue holds 32 frames: the
    // 33rd waits until the first has left.
    QTest::newRow("32 frames fill the queue") << 8 << false << 32 << qint64(0) << 0;
    QTest::newRow("the 33rd waits for the first") << 8 << false << 33 << qint64(118 + 240) << 1;
    QTest::newRow("100 standard 8-byte frames") << 8 << false << 100 << qint64(118 + 68 * 240) << 68;
    QTest::newRow("100 extended remote frames") << 0 << true << 100 << qint64(118 + 68 * 144) << 68;
    QTest::newRow("1000 empty standard frames") << 0 << false << 1000 << qint64(118 + 968 * 100) << 968;
}

void TestSimulationBackend::writesWaitForRoomInTheTransmitQueue()
{
    QFETCH(int, dlc);
    QFETCH(bool, extendedRemote);
    QFETCH(int, count);
    QFETCH(qint64, clockUs);
    QFETCH(int, waits);
    FakeClockSimulation sim;
    sim.start();
    CanFrame frame;
    frame.id = 0x321;
    frame.dlc = quint8(dlc);
    frame.extended = extendedRemote;
    frame.rtr = extendedRemote;
    for (int i = 0; i < count; ++i) {
        QString error;
        QVERIFY2(sim.write(frame, &error), qPrintable(error));
    }
    QCOMPARE(sim.nowNs, clockUs * 1000);
    QCOMPARE(sim.waits, waits);
    sim.flushQueue();
    const CanFrameList echoes = sim.framesOf(0x321, extendedRemote);
    QCOMPARE(echoes.size(), count);
    QCOMPARE(echoes.last().timestampUs, clockUs);
}

void TestSimulationBackend::busCarriesAtMostItsBitRate()
{
    // For one second a writer sends as fast as the bus takes its frames,
    // beside the generated traffic; every frame on the bus counts.
    FakeClockSimulation sim;
    sim.start();
    CanFrame frame;
    frame.id = 0x123;
    frame.dlc = 8;
    for (qint64 ms = 1; ms <= 1000; ++ms) {
        sim.nowNs = std::max(sim.nowNs, ms * 1000000);
        sim.tick();
        for (int i = 0; i < 100 && sim.nowNs < (ms + 1) * 1000000; ++i)
            QVERIFY(sim.write(frame, nullptr));
    }
    sim.flushQueue();
    BusStatistics stats;
    stats.count(sim.received);
    // What 500 kbit/s carry until the clock's end, and what was accepted but
    // not yet carried then: the transmit queue and one tick of the
    // generator's eleven messages, none longer than 142 bits.
    const qint64 carried = 500000 * sim.nowNs / 1000000000;
    const qint64 pending = (SimulationBackend::TxQueueFrames + 11) * 142;
    QVERIFY2(stats.busBits <= carried + pending, qPrintable(QStringLiteral("%1 bits in %2 ns").arg(stats.busBits).arg(sim.nowNs)));
    QVERIFY2(stats.busBits >= 490000, qPrintable(QString::number(stats.busBits)));
    QVERIFY(sim.framesOf(0x100).size() >= 99); // the generator's traffic still goes
}

void TestSimulationBackend::starvedWriterIsRefused()
{
    FakeClockSimulation sim;
    sim.start();
    CanFrame mine;
    mine.id = 0x200;
    mine.dlc = 8;
    CanFrame other = mine;
    other.id = 0x201;
    for (int i = 0; i < SimulationBackend::TxQueueFrames; ++i)
        QVERIFY(sim.write(other, nullptr));
    // A second writer takes every place as soon as it comes free.
    sim.whileWaiting = [&] { sim.write(other, nullptr); };
    QString error;
    QVERIFY(!sim.write(mine, &error));
    QCOMPARE(error, QStringLiteral("Sendequeue voll"));
    QVERIFY(sim.nowNs >= qint64(SimulationBackend::MaxTxWaitMs) * 1000000);
    sim.flushQueue();
    QVERIFY(sim.framesOf(0x200).isEmpty());
    // Once the other writer stops, the next write waits for one frame only.
    sim.whileWaiting = nullptr;
    sim.waits = 0;
    QVERIFY(sim.write(mine, &error));
    QCOMPARE(sim.waits, 1);
}

void TestSimulationBackend::realTimerDeliversTraffic()
{
    SimulationBackend sim;
    CanFrameList received;
    connect(&sim, &CanBackend::framesReceived, this,
            [&](const CanFrameList &frames) { received.append(frames); });
    QString error;
    QVERIFY(sim.open(ConnectParams(), &error));
    QCOMPARE(sim.description(), QStringLiteral("Simulation @ 500 kBit/s"));
    QCOMPARE(sim.bitrate(), 500000);
    QTRY_VERIFY_WITH_TIMEOUT(received.size() >= 10, 10000);
    QCOMPARE(received.first().id, 0x705u);
    QCOMPARE(received.first().timestampUs, 0);
    for (int i = 1; i < received.size(); ++i)
        QVERIFY(received.at(i).timestampUs >= received.at(i - 1).timestampUs);

    sim.close();
    sim.flushQueue(); // what was generated before close
    const qsizetype afterClose = received.size();
    QTest::qWait(60);
    QCOMPARE(received.size(), afterClose);
}

void TestSimulationBackend::destroyWhileOpen()
{
    auto sim = std::make_unique<SimulationBackend>();
    QVERIFY(sim->open(ConnectParams(), nullptr));
    QTest::qWait(5);
    sim.reset();
    QTest::qWait(5); // no tick may reach the destroyed object
}

QTEST_GUILESS_MAIN(TestSimulationBackend)
#include "tst_simulationbackend.moc"
