// Reading speed of the text-pipe bus: a 1,000,000-line candump -L log read from
// a file into a recording trace, as `busvista-cli record --pipe FILE /dev/null` does.
#include "pipebackend.h"
#include "tracemodel.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    constexpr int Lines = 1000000;
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        QByteArray text;
        char line[96];
        for (int i = 0; i < Lines; ++i) {
            const int n = i % 3 == 0
                              ? std::snprintf(line, sizeof line, "(1733600000.%06d) can0 %03X#%016llX\n", i % 1000000,
                                              i % 0x800, 0x1122334455667788ULL + unsigned(i))
                              : std::snprintf(line, sizeof line, "(1733600001.%06d) can0 %08X#%08X\n", i % 1000000,
                                              0x18FEF100 + i % 16, unsigned(i));
            text.append(line, n);
        }
        file.write(text);
    }

    PipeBackend bus(path, QStringLiteral("/dev/null"));
    TraceModel trace;
    trace.setMaxEntries(Lines);
    trace.setRecording(true);
    QObject::connect(&bus, &CanBackend::framesReceived, &trace, &TraceModel::addFrames);
    QObject::connect(&bus, &PipeBackend::inputEnded, &app, &QCoreApplication::quit);
    const auto start = std::chrono::steady_clock::now();
    QString error;
    if (!bus.open(ConnectParams(), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QCoreApplication::exec();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("text-pipe bus, candump -L file into the trace: %.2f million lines/s (%lld frames, %lld unreadable, %.3f s)\n",
                Lines / s / 1e6, static_cast<long long>(bus.framesRead()), static_cast<long long>(bus.badLines()), s);
    return 0;
}
