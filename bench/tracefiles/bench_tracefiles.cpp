// Lines per second of saveTrc, loadTrc, saveCsv and loadCsv at 1,000,000 entries.
#include "../views/benchutil.h"
#include "tracemodel.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    constexpr int Entries = 1000000;
    QTemporaryDir dir;
    TraceModel model;
    model.setMaxEntries(Entries);
    model.setRecording(true);
    QList<CanFrame> batch = BenchUtil::traffic(1000, 200);
    for (int i = 0; i < Entries / 1000; ++i) {
        for (CanFrame &frame : batch) {
            frame.timestampUs += 10317;  // fractional milliseconds in the time column
            frame.extended = frame.id % 7 == 0;
            frame.dlc = quint8(frame.id % 9);
        }
        model.addFrames(batch);
    }

    const QString trc = dir.filePath(QStringLiteral("bench.trc"));
    const QString csv = dir.filePath(QStringLiteral("bench.csv"));
    QString error;
    int count = 0;
    double cpuStart = 0;
    auto report = [&](const char *what, std::chrono::steady_clock::time_point start, bool ok) {
        const double s = BenchUtil::seconds(start);
        const double cpu = BenchUtil::cpuSeconds() - cpuStart;
        std::printf("%s: %.2f million lines/s wall (%.0f ms), %.2f million lines/s CPU (%.0f ms)%s\n", what,
                    Entries / s / 1e6, s * 1000, Entries / cpu / 1e6, cpu * 1000,
                    ok ? "" : qPrintable(QStringLiteral(" FAILED: ") + error));
    };
    cpuStart = BenchUtil::cpuSeconds();
    auto start = std::chrono::steady_clock::now();
    report("saveTrc", start, model.saveTrc(trc, &error));
    TraceModel loaded;
    cpuStart = BenchUtil::cpuSeconds();
    start = std::chrono::steady_clock::now();
    report("loadTrc", start, loaded.loadTrc(trc, &error, &count) && count == Entries);
    cpuStart = BenchUtil::cpuSeconds();
    start = std::chrono::steady_clock::now();
    report("saveCsv", start, model.saveCsv(csv, &error));
    cpuStart = BenchUtil::cpuSeconds();
    start = std::chrono::steady_clock::now();
    report("loadCsv", start, loaded.loadCsv(csv, &error, &count) && count == Entries);
    return 0;
}
