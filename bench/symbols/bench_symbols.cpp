// Speed of the symbol database on the receive path and of loading:
//   find + decodeText   (every view, per frame)
//   find + physicalValue (the plot, per frame)
//   load of a generated 100,000-line file, with peak memory.
// Figures are per CPU second of this process.
#include "symbolfile.h"

#include <QFile>
#include <QTemporaryDir>

#include <ctime>
#include <cstdio>
#include <random>
#include <vector>

namespace {

// CPU time of this process: the machine is shared, and wall time would count
// the time other processes hold the cores.
struct Clock
{
    using time_point = double;
    static double now()
    {
        timespec t;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
    }
};

double secondsSince(double start)
{
    return Clock::now() - start;
}

long peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// 2,000 symbols with 8 signals each: mixed types, scaling, enumerations,
// Intel and Motorola, a few identifier ranges and multiplexed variants.
QByteArray generateDatabase(int symbols, int *lines)
{
    QByteArray text = "FormatVersion=6.0\nTitle=\"Bench\"\n{ENUMS}\n"
                      "Enum=State(0=\"Off\", 1=\"On\", 2=\"Error\", 3..15=\"Reserved\")\n"
                      "{SENDRECEIVE}\n";
    for (int s = 0; s < symbols; ++s) {
        const bool extended = s % 2 == 1;
        const quint32 id = extended ? 0x18000000u + quint32(s) * 16u : quint32(s % 0x7F0) + 1;
        text += "[Sym" + QByteArray::number(s) + "]\nID=" + QByteArray::number(id, 16) + "h\n";
        if (extended)
            text += "Type=Extended\n";
        text += "Len=8\n";
        text += "Var=Speed unsigned 0,16 /u:km/h /f:0.01\n";
        text += "Var=Temp signed 16,8 /u:degC /o:-40\n";
        text += "Var=State State 24,4\n";
        text += "Var=Flags unsigned 28,4 -b\n";
        text += "Var=Volt unsigned 32,12 -m /f:0.1 /u:V\n";
        text += "Var=Count unsigned 44,4\n";
        text += "Var=Id unsigned 48,8 -h\n";
        text += "Var=Torque signed 56,8 /f:0.5 /u:Nm\n";
    }
    *lines = int(text.count('\n'));
    return text;
}

// Frames of `active` different symbols (spread over the database), random data.
std::vector<CanFrame> makeFrames(const SymbolDatabase &db, int active)
{
    std::mt19937 random(42);
    std::vector<int> chosen;
    for (int i = 0; i < active; ++i)
        chosen.push_back(int(random() % quint32(db.messages.size())));
    std::vector<CanFrame> frames(4096);
    for (CanFrame &frame : frames) {
        const SymMessage &m = db.messages.at(chosen[random() % chosen.size()]);
        frame.id = m.idLow;
        frame.extended = m.extended;
        frame.dlc = 8;
        for (quint8 &b : frame.data)
            b = quint8(random());
    }
    return frames;
}

void benchReceivePath(const SymbolDatabase &db, int active)
{
    const std::vector<CanFrame> frames = makeFrames(db, active);
    const int rounds = 250;
    qsizetype checksum = 0;
    auto start = Clock::now();
    for (int r = 0; r < rounds; ++r) {
        for (const CanFrame &frame : frames)
            checksum += db.decodeText(frame).size();
    }
    double seconds = secondsSince(start);
    const double frameCount = double(rounds) * double(frames.size());
    std::printf("find + decodeText, %d active of 2000 symbols x 8 signals: %.0f frames/s (%.3f us/frame, checksum %lld)\n",
                active, frameCount / seconds, seconds / frameCount * 1e6, static_cast<long long>(checksum));

    const int plotRounds = 2500;
    double sum = 0.0;
    start = Clock::now();
    for (int r = 0; r < plotRounds; ++r) {
        for (const CanFrame &frame : frames) {
            if (const SymMessage *m = db.find(frame))
                sum += db.physicalValue(m->variables.at(4), frame);
        }
    }
    seconds = secondsSince(start);
    const double plotFrames = double(plotRounds) * double(frames.size());
    std::printf("find + physicalValue of one signal, %d active symbols: %.0f frames/s (%.1f ns/frame, checksum %.1f)\n",
                active, plotFrames / seconds, seconds / plotFrames * 1e9, sum);
}

void benchLoad()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.sym"));
    int lines = 0;
    const QByteArray text = generateDatabase(10000, &lines);   // 10,000 symbols x 10 lines
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return;
    file.close();

    const long before = peakKiB();
    SymbolDatabase db;
    QString error;
    QStringList warnings;
    const auto start = Clock::now();
    const bool ok = db.load(path, &error, &warnings);
    const double seconds = secondsSince(start);
    std::printf("load of %d lines (%lld KiB): %s, %.0f lines/s (%.1f ms), %lld symbols, %lld warnings\n", lines,
                static_cast<long long>(text.size() / 1024), ok ? "ok" : qPrintable(error), lines / seconds,
                seconds * 1e3, static_cast<long long>(db.messages.size()), static_cast<long long>(warnings.size()));
    std::printf("peak memory (VmHWM): %ld KiB before load, %ld KiB after\n", before, peakKiB());
}

} // namespace

int main(int argc, char **argv)
{
    // "receive" skips the load figure (for profiling the receive path alone).
    const bool receiveOnly = argc > 1 && qstrcmp(argv[1], "receive") == 0;
    // Loading first, so that the peak memory is not the receive benchmark's.
    if (!receiveOnly)
        benchLoad();

    int lines = 0;
    SymbolDatabase db;
    QString error;
    if (!db.loadData(generateDatabase(2000, &lines), QString(), &error, nullptr)) {
        std::printf("load failed: %s\n", qPrintable(error));
        return 1;
    }
    // Every symbol in turn (worst case for the caches), and a typical bus.
    benchReceivePath(db, 2000);
    benchReceivePath(db, 100);
    return 0;
}
