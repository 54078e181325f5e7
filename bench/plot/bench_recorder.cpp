// Speed of SignalRecorder::handleFrames: 4 plotted signals of different
// symbols among 200 identifiers; memory of one signal fed 10 million frames
// (thinning keeps it bounded); memory per point of 10 signals kept at the
// largest setting, 20,000,000 points each ("BENCH_SMALL" set: 2,000,000).
// Speed figures per CPU second of this process.
#include "../views/benchutil.h"

#include "signalrecorder.h"
#include "symbolfile.h"

#include <QFile>

#include <cstdio>

namespace {

std::shared_ptr<const SymbolDatabase> database()
{
    QByteArray text = "FormatVersion=6.0\n{RECEIVE}\n";
    for (int s = 0; s < 200; ++s) {
        text += "[Sym" + QByteArray::number(s) + "]\nID=" + QByteArray::number(0x100 + s, 16)
            + "h\nLen=8\nVar=A unsigned 0,16 /f:0.1\nVar=B signed 16,8 /o:-40\n";
    }
    auto db = std::make_shared<SymbolDatabase>();
    QString error;
    if (!db->loadData(text, QStringLiteral("bench.sym"), &error))
        std::fprintf(stderr, "%s\n", qPrintable(error));
    return db;
}

QList<CanFrame> batch(int size, qint64 *timeUs, int identifiers)
{
    QList<CanFrame> frames;
    frames.reserve(size);
    for (int i = 0; i < size; ++i) {
        CanFrame frame;
        frame.id = quint32(0x100 + i % identifiers);
        frame.dlc = 8;
        frame.data[0] = quint8(i);
        frame.data[1] = quint8(i >> 8);
        frame.data[2] = quint8(i >> 3);
        frame.timestampUs = (*timeUs += 50);
        frames.append(frame);
    }
    return frames;
}

// Resident memory of this process now (VmRSS), bytes.
qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

} // namespace

int main()
{
    const auto db = database();
    {
        SignalRecorder recorder;
        recorder.setSymbols(db);
        recorder.add({"Sym3", "", "A"});
        recorder.add({"Sym50", "", "B"});
        recorder.add({"Sym120", "", "A"});
        recorder.add({"Sym199", "", "B"});
        qint64 time = 0;
        const QList<CanFrame> frames = batch(100000, &time, 200);
        const int rounds = 200;
        const double start = BenchUtil::cpuSeconds();
        for (int r = 0; r < rounds; ++r)
            recorder.handleFrames(frames);
        const double spent = BenchUtil::cpuSeconds() - start;
        std::printf("SignalRecorder::handleFrames, 4 of 200 identifiers plotted: %.2f million frames/s "
                    "(%d frames in %.3f s CPU)\n",
                    rounds * 100000 / spent / 1e6, rounds * 100000, spent);
    }
    {
        SignalRecorder recorder;
        recorder.setSymbols(db);
        recorder.add({"Sym0", "", "A"});
        qint64 time = 0;
        const QList<CanFrame> frames = batch(100000, &time, 1);
        const double start = BenchUtil::cpuSeconds();
        for (int r = 0; r < 100; ++r)
            recorder.handleFrames(frames);
        const double spent = BenchUtil::cpuSeconds() - start;
        std::printf("One signal fed 10,000,000 frames: %.2f million frames/s, %lld points kept, "
                    "peak memory %.1f MiB\n",
                    10.0 / spent, qlonglong(recorder.traces().at(0).points.size()),
                    double(BenchUtil::peakMemoryBytes()) / (1 << 20));
    }
    {
        const int signalCount = 10;
        const int perSignal = qEnvironmentVariableIsSet("BENCH_SMALL") ? 2000000 : SignalRecorder::MaxMaxPoints;
        SignalRecorder recorder;
        recorder.setMaxPoints(SignalRecorder::MaxMaxPoints);
        recorder.setSymbols(db);
        for (int s = 0; s < signalCount; ++s)
            recorder.add({QStringLiteral("Sym%1").arg(s), QString(), QStringLiteral("A")});
        qint64 time = 0;
        QList<CanFrame> frames = batch(100000, &time, signalCount);
        const qint64 before = residentBytes();
        const double start = BenchUtil::cpuSeconds();
        for (int r = 0; r < perSignal / (100000 / signalCount); ++r) {
            for (CanFrame &frame : frames) {
                frame.timestampUs += 5000000;   // 100,000 frames take 5 s
                frame.data[0] = quint8(frame.data[0] + 1);
            }
            recorder.handleFrames(frames);
        }
        const double spent = BenchUtil::cpuSeconds() - start;
        const qint64 after = residentBytes();
        qint64 points = 0;
        for (const SignalRecorder::Trace &trace : recorder.traces())
            points += trace.points.size();
        std::printf("%d signals x %d points kept: %.1f bytes per point resident (%.0f MiB for %lld points; "
                    "%.1f bytes per point allocated), fed at %.2f million frames/s\n",
                    signalCount, perSignal, double(after - before) / double(points),
                    double(after - before) / (1 << 20), qlonglong(points),
                    double(recorder.memoryBytes()) / double(points), double(points) / spent / 1e6);
    }
    return 0;
}
