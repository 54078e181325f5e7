#include "simulationbackend.h"

#include "busstatistics.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

constexpr quint32 BootUpId = 0x705;
constexpr quint32 SdoRequestId = 0x605;
constexpr quint32 NmtId = 0x000;
constexpr qint64 RemoteAnswerDelayUs = 200;
// A tick later than this behind a due time no longer catches up.
constexpr qint64 MaxCatchUpMs = 1000;
// One-element seed sequence: every backend object repeats the same random bytes.
constexpr quint32 RandomSeed[] = {0x00C0FFEE};

void putBigEndian16(CanFrame &frame, int at, unsigned value)
{
    frame.data[at] = quint8(value >> 8);
    frame.data[at + 1] = quint8(value);
}

void putLittleEndian16(CanFrame &frame, int at, unsigned value)
{
    frame.data[at] = quint8(value);
    frame.data[at + 1] = quint8(value >> 8);
}

// A 300-step cycle (15 s at 50 ms): idle, rising edge, plateau, falling edge.
void rampProfile(CanFrame &frame, quint64 count, unsigned offset)
{
    const unsigned phase = unsigned((offset + count) % 300);
    unsigned value = 0;
    quint8 mode = 0xC0;
    if (phase >= 100 && phase <= 184) {
        value = (phase - 99) * 1000 / 85;
        mode = 0xC4;
    } else if (phase >= 185 && phase <= 214) {
        value = 1000;
    } else if (phase >= 215) {
        value = (300 - phase) * 1000 / 85;
        mode = 0xC8;
    }
    frame.data[0] = value >= 200 ? 0x11 : 0x10;
    frame.data[1] = mode;
    putLittleEndian16(frame, 2, value);
}

} // namespace

SimulationBackend::SimulationBackend(QObject *parent)
    : CanBackend(parent)
    , m_random(RandomSeed)
{
    m_tickTimer.setTimerType(Qt::PreciseTimer);
    m_tickTimer.setInterval(1);
    connect(&m_tickTimer, &QTimer::timeout, this, &SimulationBackend::tick);
}

SimulationBackend::~SimulationBackend()
{
    m_tickTimer.stop();
}

bool SimulationBackend::open(const ConnectParams &, QString *)
{
    close();
    buildMessages();
    buildDictionary();
    m_nmtState = NmtOperational;
    m_otherNmtStates = {{0x10, NmtPreOperational}, {0x14, NmtOperational}, {0x15, NmtOperational}};
    m_clock.start();
    clearQueue();
    {
        std::lock_guard<std::mutex> lock(m_busLock);
        m_busFreeNs = 0;
        m_txHead = 0;
        m_txCount = 0;
    }

    CanFrame bootUp;
    bootUp.id = BootUpId;
    bootUp.dlc = 1;
    bootUp.data[0] = 0x00;
    bootUp.timestampUs = 0;
    put(bootUp);

    m_open = true;
    m_tickTimer.start();
    return true;
}

void SimulationBackend::close()
{
    m_tickTimer.stop();
    m_open = false;
}

bool SimulationBackend::isOpen() const
{
    return m_open;
}

bool SimulationBackend::write(const CanFrame &frame, QString *error)
{
    if (!m_open) {
        if (error)
            *error = notConnectedText();
        return false;
    }

    CanFrame echo = frame;
    echo.tx = true;
    echo.error = false;
    echo.status = false;
    if (echo.dlc > 8)
        echo.dlc = 8;
    if (!takeTxSlot(echo, error))
        return false;

    // One reading for echo and answer, so the answer is exactly 200 µs later.
    const qint64 nowUs = elapsedNs() / 1000;
    echo.timestampUs = nowUs;
    enqueue(echo);

    if (!frame.rtr) {
        // Only what the node answers needs the state lock: a replayed data
        // frame must not wait for a generator tick that the system preempted.
        if (frame.extended || (frame.id != SdoRequestId && frame.id != NmtId))
            return true;
        std::lock_guard<std::mutex> lock(m_stateLock);
        if (frame.id == SdoRequestId)
            handleSdoRequest(frame);
        else
            handleNmtCommand(frame);
        return true;
    }

    std::lock_guard<std::mutex> lock(m_stateLock);
    for (const SimMessage &message : m_messages) {
        if (message.frame.id == frame.id && message.frame.extended == frame.extended) {
            CanFrame answer = message.frame;
            answer.tx = false;
            answer.rtr = false;
            answer.timestampUs = nowUs + RemoteAnswerDelayUs;
            put(answer);
            break;
        }
    }
    return true;
}

unsigned SimulationBackend::busStatus()
{
    return 0;
}

QString SimulationBackend::description() const
{
    return tr("Simulation @ 500 kBit/s");
}

int SimulationBackend::bitrate() const
{
    return 500000;
}

void SimulationBackend::tick()
{
    const qint64 nowMs = elapsedNs() / 1000000;
    std::lock_guard<std::mutex> lock(m_stateLock);
    // Far behind (the GUI thread was blocked for long): one send now, then
    // one period later; a catch-up burst of that length would flood the bus.
    for (SimMessage &message : m_messages) {
        if (!message.enabled || nowMs - message.nextDueMs <= MaxCatchUpMs)
            continue;
        message.generator(message.frame, message.count++);
        message.frame.timestampUs = elapsedNs() / 1000;
        put(message.frame);
        message.nextDueMs = nowMs + message.periodMs;
    }
    // A tick that came late (a busy machine) still produces every send that
    // fell due, stamped with its due time and in time order, so the declared
    // rates hold.
    for (;;) {
        SimMessage *next = nullptr;
        for (SimMessage &message : m_messages) {
            if (message.enabled && message.nextDueMs <= nowMs && (!next || message.nextDueMs < next->nextDueMs))
                next = &message;
        }
        if (!next)
            break;
        next->generator(next->frame, next->count++);
        next->frame.timestampUs = next->nextDueMs * 1000;
        put(next->frame);
        next->nextDueMs += next->periodMs;
    }
}

qint64 SimulationBackend::elapsedNs() const
{
    return m_clock.isValid() ? m_clock.nsecsElapsed() : 0;
}

void SimulationBackend::waitUntil(qint64 untilNs)
{
    const qint64 leftNs = untilNs - elapsedNs();
    if (leftNs > 0)
        std::this_thread::sleep_for(std::chrono::nanoseconds(leftNs));
}

qint64 SimulationBackend::occupyLocked(const CanFrame &frame, qint64 earliestNs)
{
    const qint64 bitNs = 1000000000LL / bitrate();
    m_busFreeNs = std::max(earliestNs, m_busFreeNs) + BusStatistics::frameBits(frame) * bitNs;
    return m_busFreeNs;
}

void SimulationBackend::put(const CanFrame &frame)
{
    {
        std::lock_guard<std::mutex> lock(m_busLock);
        occupyLocked(frame, frame.timestampUs * 1000);
    }
    enqueue(frame);
}

bool SimulationBackend::takeTxSlot(const CanFrame &frame, QString *error)
{
    std::unique_lock<std::mutex> lock(m_busLock);
    const qint64 giveUpNs = elapsedNs() + qint64(MaxTxWaitMs) * 1000000;
    for (;;) {
        const qint64 nowNs = elapsedNs();
        // Frames whose last bit has passed have left the queue.
        while (m_txCount > 0 && m_txEnds[size_t(m_txHead)] <= nowNs) {
            m_txHead = (m_txHead + 1) % TxQueueFrames;
            --m_txCount;
        }
        if (m_txCount < TxQueueFrames) {
            const qint64 end = occupyLocked(frame, nowNs);
            m_txEnds[size_t((m_txHead + m_txCount) % TxQueueFrames)] = end;
            ++m_txCount;
            return true;
        }
        // Another writer may take every place that comes free.
        if (nowNs >= giveUpNs) {
            if (error)
                *error = statusText(TxQueueFull);
            return false;
        }
        // Room comes when the oldest frame has left; waiting outside the
        // lock lets the generator and a second writer go on meanwhile.
        const qint64 untilNs = m_txEnds[size_t(m_txHead)];
        lock.unlock();
        waitUntil(untilNs);
        lock.lock();
    }
}

void SimulationBackend::buildMessages()
{
    m_messages.clear();
    m_messages.reserve(11);
    auto add = [this](quint32 id, bool extended, quint8 dlc, int periodMs,
                      std::function<void(CanFrame &, quint64)> generator) {
        SimMessage message;
        message.frame.id = id;
        message.frame.extended = extended;
        message.frame.dlc = dlc;
        message.periodMs = periodMs;
        message.nextDueMs = periodMs;
        message.generator = std::move(generator);
        m_messages.push_back(std::move(message));
    };
    add(0x100, false, 8, 10, [](CanFrame &frame, quint64 n) {
        const int v = int((std::sin(0.005 * double(n)) * 0.5 + 0.5) * 2200 + 800);
        putBigEndian16(frame, 0, unsigned(v));
        frame.data[2] = quint8((n / 500) % 5 + 90);
        frame.data[7] = quint8(n % 256);
    });
    add(0x1A0, false, 4, 20, [](CanFrame &frame, quint64 n) {
        const int v = int((std::sin(0.002 * double(n)) * 0.5 + 0.5) * 100 * 100);
        putBigEndian16(frame, 0, unsigned(v));
        frame.data[3] = quint8(n % 16);
    });
    add(0x2F0, false, 2, 100, [](CanFrame &frame, quint64 n) {
        frame.data[0] = quint8((n / 20) % 8);
        frame.data[1] = 0xA5;
    });
    add(0x351, false, 8, 50, [this](CanFrame &frame, quint64) {
        for (quint8 &byte : frame.data)
            byte = quint8(m_random.generate() >> 24);
    });
    add(0x18FEF100, true, 8, 100, [](CanFrame &frame, quint64 n) {
        for (quint8 &byte : frame.data)
            byte = 0xFF;
        putLittleEndian16(frame, 1, unsigned(n % 65536));
    });
    add(0x705, false, 1, 1000, [this](CanFrame &frame, quint64) { frame.data[0] = m_nmtState; });
    add(0x192, false, 4, 50, [](CanFrame &frame, quint64 n) { rampProfile(frame, n, 0); });
    add(0x1A2, false, 4, 50, [](CanFrame &frame, quint64 n) { rampProfile(frame, n, 100); });
    // The other heartbeat producers: NMT slaves without SDO server.
    const auto otherNode = [this](int node) {
        return [this, node](CanFrame &frame, quint64) { frame.data[0] = m_otherNmtStates.value(node); };
    };
    add(0x714, false, 1, 1000, otherNode(0x14));
    add(0x715, false, 1, 1000, otherNode(0x15));
    add(0x710, false, 1, 500, otherNode(0x10));
}

