// Entries per second of saving and loading 1,000,000 entries as Vector ASC,
// Vector BLF and candump log; the formats to run may be named as arguments.
#include "benchtrace.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    constexpr int Entries = 1000000;
    QTemporaryDir dir;
    TraceModel model;
    recordBenchTrace(model, Entries);

    // The formats named on the command line ("blf asc"), else all three.
    QList<TraceFile::Format> formats;
    for (const QString &name : app.arguments().mid(1)) {
        TraceFile::Format format;
        if (TraceFile::formatOfPath(QStringLiteral("x.") + name, &format))
            formats.append(format);
    }
    if (formats.isEmpty())
        formats = {TraceFile::Format::Asc, TraceFile::Format::Blf, TraceFile::Format::Log};
    for (TraceFile::Format format : formats) {
        const QString path = dir.filePath(QStringLiteral("bench.") + TraceFile::ending(format));
        const QByteArray name = TraceFile::ending(format).toLatin1();
        QString error;
        int count = 0;
        auto report = [&](const char *what, std::chrono::steady_clock::time_point start, double cpuStart, bool ok) {
            const double s = BenchUtil::seconds(start);
            const double cpu = BenchUtil::cpuSeconds() - cpuStart;
            std::printf("%s %s: %.2f million entries/s wall (%.0f ms), %.2f million entries/s CPU (%.0f ms)%s\n", what,
                        name.constData(), Entries / s / 1e6, s * 1000, Entries / cpu / 1e6, cpu * 1000,
                        ok ? "" : qPrintable(QStringLiteral(" FAILED: ") + error));
        };
        double cpuStart = BenchUtil::cpuSeconds();
        auto start = std::chrono::steady_clock::now();
        report("save", start, cpuStart, model.save(path, format, &error));
        std::printf("  file size %.1f MB\n", QFileInfo(path).size() / 1e6);
        TraceModel loaded;
        loaded.setMaxEntries(Entries);
        cpuStart = BenchUtil::cpuSeconds();
        start = std::chrono::steady_clock::now();
        report("load", start, cpuStart, loaded.load(path, format, &error, &count) && count == Entries);
    }
    return 0;
}
