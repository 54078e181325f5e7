// busvista-cli plot of a 1,000,000-frame TRC trace to CSV, 4 signals of 20
// messages: frames per second of the whole run (loading the trace, the
// recorder, writing the CSV), wall clock and CPU time of the child process.
#include "tracemodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <deque>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {

double childCpuSeconds()
{
#ifdef Q_OS_UNIX
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#else
    return 0.0;
#endif
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString sym = dir.filePath(QStringLiteral("bench.sym"));
    {
        QFile file(sym);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write("FormatVersion=6.0\n{RECEIVE}\n");
        for (int s = 0; s < 20; ++s) {
            file.write("[Sym" + QByteArray::number(s) + "]\nID=" + QByteArray::number(0x100 + s, 16)
                       + "h\nLen=8\nVar=A unsigned 0,16 /f:0.1\nVar=B signed 16,8 /o:-40\n");
        }
    }

    const int frames = 1000000;
    const QString trc = dir.filePath(QStringLiteral("bench.trc"));
    {
        std::deque<TraceModel::Entry> entries;
        for (int i = 0; i < frames; ++i) {
            TraceModel::Entry entry;
            entry.number = quint64(i) + 1;
            entry.frame.id = quint32(0x100 + i % 20);
            entry.frame.dlc = 8;
            const int value = int(1000 * std::sin(i * 0.001));
            entry.frame.data[0] = quint8(value);
            entry.frame.data[1] = quint8(value >> 8);
            entry.frame.data[2] = quint8(i);
            entry.frame.timestampUs = qint64(i) * 250;
            entries.push_back(entry);
        }
        TraceModel model;
        model.replaceEntries(std::move(entries), QDateTime::currentDateTime());
        QString error;
        if (!model.saveTrc(trc, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }

    const QString csv = dir.filePath(QStringLiteral("out.csv"));
    QProcess cli;
    const double cpuBefore = childCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    cli.start(QStringLiteral(BUSVISTA_CLI),
              {QStringLiteral("plot"), trc, QStringLiteral("--sym"), sym, QStringLiteral("--signal"),
               QStringLiteral("Sym3.A"), QStringLiteral("--signal"), QStringLiteral("Sym7.B"), QStringLiteral("--signal"),
               QStringLiteral("Sym11.A"), QStringLiteral("--signal"), QStringLiteral("Sym19.B"), QStringLiteral("--out"),
               csv});
    if (!cli.waitForFinished(600000) || cli.exitCode() != 0) {
        std::fprintf(stderr, "busvista-cli plot failed: %s\n", cli.readAllStandardError().constData());
        return 1;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const double cpu = childCpuSeconds() - cpuBefore;
    qint64 rows = -1;   // without the header
    QFile written(csv);
    if (written.open(QIODevice::ReadOnly))
        rows = written.readAll().count('\n') - 1;
    std::printf("busvista-cli plot, %d-frame TRC trace (%lld MB), 4 signals to CSV (%lld rows): "
                "%.2f million frames/s (%.2f s wall clock, %.2f s CPU)\n",
                frames, qlonglong(QFile(trc).size() >> 20), qlonglong(rows),
                frames / seconds / 1e6, seconds, cpu);
    return 0;
}
