// Cost of one transmit timer tick: 500 rows, 100 of them sending cyclically
// every 1 to 10 ms, on a simulated clock so that every tick has work to do.
#include "simulationbackend.h"
#include "transmitmodel.h"
#include "txschedule.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>

namespace {

void fillList(TransmitModel &model)
{
    for (int i = 0; i < 500; ++i) {
        TxMessage m;
        m.frame.id = quint32(0x100 + i);
        m.frame.dlc = 8;
        m.comment = QStringLiteral("Nachricht %1 mit einem längeren Kommentar").arg(i);
        // Every fifth row cyclic: 1..10 ms; the others manual or switched off.
        if (i % 5 == 0) {
            m.cycleMs = 1 + (i / 5) % 10;
            m.active = true;
        } else if (i % 5 == 1) {
            m.cycleMs = 100;
        }
        model.addMessage(m);
    }
}

template <typename Send>
double microsecondsPerTick(TransmitModel &model, int ticks, Send &&send, long *sends)
{
    TxSchedule schedule(&model);
    schedule.makeAllDue(0);
    *sends = 0;
    const auto start = std::chrono::steady_clock::now();
    for (qint64 now = 0; now < ticks; ++now)
        *sends += schedule.tick(now, send);
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::micro>(end - start).count() / ticks;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int ticks = 200000;

    TransmitModel model;
    fillList(model);
    long sends = 0;
    const double counted = microsecondsPerTick(
        model, ticks, [&](int row) { model.incrementCount(row); return true; }, &sends);
    std::printf("onTxTick, schedule and count only: %.3f us/tick (%.1f sends/tick)\n", counted,
                double(sends) / ticks);

    // With the write of the simulated bus. In the program its 20 ms flush
    // empties the echo queue; here it is emptied about every 20 ticks.
    SimulationBackend backend;
    QString error;
    ConnectParams params;
    params.interface = 1;
    if (!backend.open(params, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    TransmitModel model2;
    fillList(model2);
    int tickNo = 0;
    const double written = microsecondsPerTick(
        model2, ticks,
        [&](int row) {
            if (!backend.write(model2.message(row).frame, nullptr))
                return false;
            model2.incrementCount(row);
            if (++tickNo % 600 == 0)
                backend.clearQueue();
            return true;
        },
        &sends);
    std::printf("onTxTick with simulated write: %.3f us/tick (%.1f sends/tick)\n", written,
                double(sends) / ticks);
    std::printf("budget: 20 us/tick\n");
    return 0;
}
