// Timing of the trace player at 1x: a generated 60 s trace of cyclic
// messages with periods from 1 ms to 1 s and bursts, played onto the
// simulated bus at 1,000 frames/s and the text-pipe bus at 1,000 and 21,000
// frames/s (the simulated bus carries 500 kbit/s, at most about 4,100
// 8-byte frames/s). The send times come from the transmit echoes' time
// stamps; each frame's lateness is (echo - first echo) - (trace time -
// first trace time). Then the throughput at "max" to the pipe bus writing to
// /dev/null, and to the simulated bus with the bus load it reaches.
//
// Usage: bench_replay [SECONDS] [--normal-priority]
//        bench_replay --write FILE RATE   (only saves the trace)
// --normal-priority leaves the player's thread at the normal priority, to
// see what the raised one is worth.
#include "busstatistics.h"
#include "pipebackend.h"
#include "simulationbackend.h"
#include "platform/timecritical.h"
#include "tracemodel.h"
#include "tracemodelsource.h"
#include "traceplayer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace {

struct Planned
{
    qint64 us;
    quint32 id;
    bool extended;
};

// Cyclic messages of every period from 1 ms to 1 s, each with a random
// phase, plus a burst of rate/100 frames at one instant every 100 ms.
std::vector<Planned> plan(int rate, int seconds)
{
    std::mt19937_64 random(0xB05u + unsigned(rate));
    const int periodsMs[] = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000};
    const double burstRate = rate / 10.0;
    double budget = rate - burstRate;
    std::vector<int> messages;   // period of each cyclic message
    for (int i = 9; i >= 0; --i) {   // one of each period that fits, slowest first
        if (budget >= 1000.0 / periodsMs[i]) {
            messages.push_back(periodsMs[i]);
            budget -= 1000.0 / periodsMs[i];
        }
    }
    const double share = budget / 10.0;
    for (int p : periodsMs) {
        const int extra = int(share / (1000.0 / p));
        for (int k = 0; k < extra; ++k)
            messages.push_back(p);
        budget -= extra * 1000.0 / p;
    }
    while (budget >= 1.0) {
        messages.push_back(1000);
        budget -= 1.0;
    }
    std::vector<Planned> frames;
    const qint64 endUs = qint64(seconds) * 1'000'000;
    for (size_t m = 0; m < messages.size(); ++m) {
        const qint64 periodUs = qint64(messages[m]) * 1000;
        const qint64 phase = qint64(random() % quint64(periodUs));
        const quint32 id = quint32(m < 0x700 ? 0x10 + m : 0x10000 + m);
        for (qint64 t = phase; t < endUs; t += periodUs)
            frames.push_back({t, id, id > 0x7FF});
    }
    const int burst = std::max(1, int(burstRate / 10.0));
    for (qint64 t = 0; t < endUs; t += 100'000) {
        const qint64 at = t + qint64(random() % 100'000);
        for (int k = 0; k < burst; ++k)
            frames.push_back({at, quint32(0x7C0 + k % 32), false});
    }
    std::stable_sort(frames.begin(), frames.end(), [](const Planned &a, const Planned &b) { return a.us < b.us; });
    return frames;
}

// The trace as the window holds it; data bytes 0..3 number the frames.
void fill(TraceModel *model, const std::vector<Planned> &frames)
{
    model->setMaxEntries(int(frames.size()) + 100);
    model->setRecording(true);
    QList<CanFrame> batch;
    for (size_t i = 0; i < frames.size(); ++i) {
        CanFrame frame;
        frame.id = frames[i].id;
        frame.extended = frames[i].extended;
        frame.dlc = 8;
        for (int b = 0; b < 4; ++b)
            frame.data[b] = quint8(i >> (8 * b));
        frame.timestampUs = frames[i].us;
        batch.append(frame);
        if (batch.size() == 65536) {
            model->addFrames(batch);
            batch.clear();
        }
    }
    model->addFrames(batch);
    model->setRecording(false);
}

quint32 number(const CanFrame &frame)
{
    return quint32(frame.data[0]) | quint32(frame.data[1]) << 8 | quint32(frame.data[2]) << 16
        | quint32(frame.data[3]) << 24;
}

double percentile(const std::vector<double> &sorted, double p)
{
    const size_t at = std::min(sorted.size() - 1, size_t(p / 100.0 * double(sorted.size())));
    return sorted[at];
}

// What the machine itself does to a thread that waits for due times: a
// thread at the player's priority that only sleeps to absolute times 1 ms
// apart and notes how late it wakes. A lateness of the player as large as
// this one's is the machine's, not the player's.
class StallProbe
{
public:
    explicit StallProbe(bool raisePriority)
        : m_thread([this, raisePriority] {
            std::unique_ptr<TimeCriticalThread> priority;
            if (raisePriority)
                priority = std::make_unique<TimeCriticalThread>();
            using Clock = std::chrono::steady_clock;
            Clock::time_point due = Clock::now();
            while (!m_stop.load()) {
                due += std::chrono::milliseconds(1);
                std::this_thread::sleep_until(due);
                const qint64 late = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - due).count();
                m_worstUs = std::max(m_worstUs.load(), late);
                if (late > 1000)
                    due = Clock::now();   // measure each stall once, not the catching up after it
            }
        })
    {
    }
    ~StallProbe() { stop(); }
    // Largest lateness of a wake-up in ms.
    double stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return double(m_worstUs.load()) / 1000.0;
    }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_worstUs{0};
    std::thread m_thread;
};

// Plays the trace at 1x onto `bus` and prints the lateness figures.
void measure(const char *busName, CanBackend &bus, const TraceModel &trace, int rate, bool raisePriority)
{
    std::vector<CanFrame> echoes;
    echoes.reserve(size_t(trace.rowCount()));
    const auto connection = QObject::connect(&bus, &CanBackend::framesReceived, [&](const CanFrameList &frames) {
        for (const CanFrame &frame : frames)
            if (frame.tx)
                echoes.push_back(frame);
    });
    TracePlayer player;
    player.setRaisePriority(raisePriority);
    QObject::connect(&player, &TracePlayer::finished, QCoreApplication::instance(), &QCoreApplication::quit);
    QString error;
    StallProbe probe(raisePriority);
    if (!player.start(std::make_unique<TraceModelSource>(&trace), &bus, ReplayOptions(), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return;
    }
    QCoreApplication::exec();
    const double machineStallMs = probe.stop();
    bus.flushQueue();
    QObject::disconnect(connection);

    const int total = trace.rowCount();
    bool inOrder = int(echoes.size()) == total;
    for (size_t i = 0; inOrder && i < echoes.size(); ++i)
        inOrder = number(echoes[i]) == quint32(i);
    std::vector<double> lateMs;
    lateMs.reserve(echoes.size());
    const qint64 firstTrace = trace.entryAt(0).frame.timestampUs;
    double worstMs = -1;
    qint64 worstAtUs = 0;   // trace time of the worst frame: a stall at the start differs from one in the run
    for (size_t i = 0; i < echoes.size(); ++i) {
        const qint64 planned = trace.entryAt(int(number(echoes[i]))).frame.timestampUs - firstTrace;
        const qint64 actual = echoes[i].timestampUs - echoes[0].timestampUs;
        lateMs.push_back(std::fabs(double(actual - planned)) / 1000.0);
        if (lateMs.back() > worstMs) {
            worstMs = lateMs.back();
            worstAtUs = planned;
        }
    }
    std::sort(lateMs.begin(), lateMs.end());
    if (lateMs.empty())
        lateMs.push_back(0);
    const TracePlayer::Progress done = player.progress();
    std::printf("%-10s %6d frames/s: %d frames, %zu echoed, %s, failed %lld; |actual - planned| p50 %.3f ms, "
                "p99 %.3f ms, max %.3f ms at %.3f s (player's own largest lateness %.3f ms; priority %s)\n",
                busName, rate, total, echoes.size(), inOrder ? "each once in order" : "NOT each once in order",
                qlonglong(done.failed), percentile(lateMs, 50), percentile(lateMs, 99), lateMs.back(),
                worstAtUs / 1e6, double(done.maxLatenessNs) / 1e6, player.priorityRaised() ? "raised" : "normal");
    std::printf("           meanwhile a thread sleeping in 1 ms steps at the same priority woke up to %.3f ms late\n",
                machineStallMs);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qRegisterMetaType<CanFrameList>();
    const QStringList args = app.arguments();
    if (args.size() == 4 && args.at(1) == QLatin1String("--write")) {
        TraceModel trace;
        fill(&trace, plan(args.at(3).toInt(), 60));
        QString error;
        TraceFile::Format format = TraceFile::Format::Log;
        TraceFile::formatOfPath(args.at(2), &format);
        if (!trace.save(args.at(2), format, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        return 0;
    }
    int seconds = 60;
    bool raisePriority = true;
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--normal-priority"))
            raisePriority = false;
        else
            seconds = std::max(1, args.at(i).toInt());
    }

#ifdef Q_OS_WIN
    const QString fifo = QStringLiteral("NUL");
#else
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("in.fifo"));
    ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
    // A writer that never writes: the pipe bus's input stays open.
    QFile holder(fifo);
    holder.open(QIODevice::ReadWrite | QIODevice::Unbuffered);
#endif

    std::printf("Replay at 1x of a %d s trace (periods 1 ms to 1 s, bursts every 100 ms):\n", seconds);
    for (int rate : {1000, 21000}) {
        TraceModel trace;
        fill(&trace, plan(rate, seconds));
        if (rate <= 1000) {
            SimulationBackend bus;
            bus.open(ConnectParams(), nullptr);
            measure("simulation", bus, trace, rate, raisePriority);
            bus.close();
        }
        {
            PipeBackend bus(fifo, QStringLiteral("/dev/null"));
            QString error;
            if (!bus.open(ConnectParams(), &error)) {
                std::fprintf(stderr, "%s\n", qPrintable(error));
                return 1;
            }
            measure("pipe", bus, trace, rate, raisePriority);
            bus.close();
        }
    }

    // Throughput at "max": 2,000,000 frames onto the pipe bus writing to /dev/null.
    TraceModel big;
    std::vector<Planned> frames;
    frames.reserve(2'000'000);
    for (int i = 0; i < 2'000'000; ++i)
        frames.push_back({qint64(i) * 10, quint32(0x100 + i % 0x600), false});
    fill(&big, frames);
    PipeBackend bus(fifo, QStringLiteral("/dev/null"));
    QString error;
    if (!bus.open(ConnectParams(), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    qint64 echoed = 0;
    QObject::connect(&bus, &CanBackend::framesReceived, [&](const CanFrameList &f) { echoed += f.size(); });
    TracePlayer player;
    QObject::connect(&player, &TracePlayer::finished, &app, &QCoreApplication::quit);
    ReplayOptions options;
    options.speed = ReplayOptions::AsFastAsPossible;
    QElapsedTimer clock;
    clock.start();
    if (!player.start(std::make_unique<TraceModelSource>(&big), &bus, options, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QCoreApplication::exec();
    const double elapsedS = double(clock.nsecsElapsed()) / 1e9;
    bus.flushQueue();
    const TracePlayer::Progress done = player.progress();
    std::printf("max to the pipe bus (/dev/null): %lld frames in %.3f s = %.2f million frames/s (echoed %lld)\n",
                qlonglong(done.sent), elapsedS, double(done.sent) / elapsedS / 1e6, qlonglong(echoed));
    bus.close();

    // "max" to the simulated bus: it carries what 500 kbit/s allow, no more.
    TraceModel some;
    frames.resize(20'000);
    fill(&some, frames);
    SimulationBackend simulation;
    simulation.open(ConnectParams(), nullptr);
    BusStatistics stats;
    QObject::connect(&simulation, &CanBackend::framesReceived, [&](const CanFrameList &f) { stats.count(f); });
    TracePlayer simPlayer;
    QObject::connect(&simPlayer, &TracePlayer::finished, &app, &QCoreApplication::quit);
    clock.restart();
    if (!simPlayer.start(std::make_unique<TraceModelSource>(&some), &simulation, options, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QCoreApplication::exec();
    const double simS = double(clock.nsecsElapsed()) / 1e9;
    simulation.flushQueue();
    const TracePlayer::Progress simDone = simPlayer.progress();
    std::printf("max to the simulated bus (500 kbit/s): %lld frames in %.3f s = %.0f frames/s, failed %lld; "
                "%.1f %% of its bits (with its own traffic)\n",
                qlonglong(simDone.sent), simS, double(simDone.sent) / simS, qlonglong(simDone.failed),
                double(stats.busBits) * 100.0 / (500000.0 * simS));
    simulation.close();
    return 0;
}
