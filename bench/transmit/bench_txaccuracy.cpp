// Sending accuracy on the simulated bus: one 10 ms row driven by the 1 ms
// precise transmit timer, measured from the transmit echoes' timestamps.
#include "simulationbackend.h"
#include "transmitmodel.h"
#include "txschedule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qRegisterMetaType<CanFrameList>();
    const int seconds = argc > 1 ? qMax(1, atoi(argv[1])) : 5;

    TransmitModel model;
    TxMessage m;
    m.frame.id = 0x321;
    m.frame.dlc = 8;
    m.cycleMs = 10;
    model.addMessage(m);

    SimulationBackend backend;
    ConnectParams params;
    params.interface = 1;
    QString error;
    if (!backend.open(params, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    std::vector<qint64> echoUs;
    QObject::connect(&backend, &CanBackend::framesReceived, [&](const CanFrameList &frames) {
        for (const CanFrame &frame : frames)
            if (frame.tx && frame.id == 0x321)
                echoUs.push_back(frame.timestampUs);
    });

    QElapsedTimer clock;
    clock.start();
    TxSchedule schedule(&model);
    auto send = [&](int row) {
        if (!backend.write(model.message(row).frame, nullptr))
            return false;
        model.incrementCount(row);
        return true;
    };
    model.setActive(0, true);
    schedule.makeAllDue(0);

    QTimer txTimer;
    txTimer.setTimerType(Qt::PreciseTimer);
    txTimer.setInterval(1);
    QObject::connect(&txTimer, &QTimer::timeout, [&] { schedule.tick(clock.elapsed(), send); });
    txTimer.start();
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &app, &QCoreApplication::quit);
    app.exec();
    backend.flushQueue();

    if (echoUs.size() < 2) {
        std::fprintf(stderr, "too few echoes: %zu\n", echoUs.size());
        return 1;
    }
    std::vector<double> intervalsMs;
    for (size_t i = 1; i < echoUs.size(); ++i)
        intervalsMs.push_back(double(echoUs[i] - echoUs[i - 1]) / 1000.0);
    std::sort(intervalsMs.begin(), intervalsMs.end());
    auto percentile = [&](double p) {
        const size_t at = std::min(intervalsMs.size() - 1, size_t(p / 100.0 * intervalsMs.size()));
        return intervalsMs[at];
    };
    const double spanS = double(echoUs.back() - echoUs.front()) / 1e6;
    std::printf("10 ms row over %d s: %zu echoes, rate %.2f sends/s (target 100 +/- 2)\n", seconds,
                echoUs.size(), double(echoUs.size() - 1) / spanS);
    std::printf("interval between echoes: p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
                percentile(50), percentile(99), intervalsMs.back());
    return 0;
}
