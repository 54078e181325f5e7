// busvista-cli send: sends a transmit list on the simulated bus, the cyclic
// rows through the same schedule as the main window's transmit timer.
#include "cli.h"

#include "frametext.h"
#include "simulationbackend.h"
#include "transmitmodel.h"
#include "txschedule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>


namespace {

const char Usage[] = "send --sim --list DATEI.cxt --seconds S";

int runSend(const QStringList &args)
{
    bool sim = false;
    QString listPath;
    double seconds = -1;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--sim")) {
            sim = true;
        } else if (arg == QLatin1String("--list")) {
            if (i + 1 >= args.size())
                return Cli::usageError("send", QStringLiteral("--list braucht einen Wert."));
            listPath = args.at(++i);
        } else if (arg == QLatin1String("--seconds")) {
            if (i + 1 >= args.size())
                return Cli::usageError("send", QStringLiteral("--seconds braucht einen Wert."));
            if (!Cli::parseSeconds(args.at(++i), &seconds))
                return Cli::usageError("send", QStringLiteral("Ungültige Dauer: %1").arg(args.at(i)));
        } else {
            return Cli::usageError("send", QStringLiteral("Unbekannte Option: %1").arg(arg));
        }
    }
    if (!sim)
        return Cli::usageError("send", QStringLiteral("Nur --sim wird unterstützt."));
    if (listPath.isEmpty())
        return Cli::usageError("send", QStringLiteral("--list fehlt."));
    if (seconds < 0)
        return Cli::usageError("send", QStringLiteral("--seconds fehlt."));

    TransmitModel model;
    QString error;
    if (!model.loadFile(listPath, &error)) {
        Cli::err(error);
        return Cli::Failed;
    }

    SimulationBackend backend;
    auto sendRow = [&](int row) {
        if (!backend.write(model.message(row).frame, nullptr))
            return false;
        model.incrementCount(row);
        return true;
    };

    QElapsedTimer clock;
    TxSchedule schedule(&model);
    QTimer txTimer;
    txTimer.setTimerType(Qt::PreciseTimer);
    txTimer.setInterval(1);
    QObject::connect(&txTimer, &QTimer::timeout, [&] { schedule.tick(clock.elapsed(), sendRow); });

    const bool ran = Cli::runSimulation(backend, seconds, [&] {
        // Rows without a cycle time go out once; the others start cyclic sending.
        for (int row = 0; row < model.rowCount(); ++row) {
            if (model.message(row).cycleMs > 0)
                model.setActive(row, true);
            else
                sendRow(row);
        }
        clock.start();
        schedule.makeAllDue(0);
        txTimer.start();
        schedule.tick(clock.elapsed(), sendRow);
    });
    txTimer.stop();
    if (!ran)
        return Cli::Failed;

    for (int row = 0; row < model.rowCount(); ++row) {
        const TxMessage &m = model.message(row);
        Cli::out(QStringLiteral("%1\t%2").arg(FrameText::identifier(m.frame)).arg(m.count));
    }
    return Cli::Ok;
}

const CliCommand command("send", Usage, runSend);

} // namespace
