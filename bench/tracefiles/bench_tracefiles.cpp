// Lines per second of saveTrc, loadTrc, saveCsv and loadCsv at 1,000,000 entries.
#include "benchtrace.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    constexpr int Entries = 1000000;
    QTemporaryDir dir;
    TraceModel model;
    recordBenchTrace(model, Entries);

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
