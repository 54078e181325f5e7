// busvista-cli bridge: connects the simulated bus to other CAN tools through
// standard input and output in the notations of the Linux CAN tools.
#include "cli.h"

#include "pipebackend.h"
#include "simulationbackend.h"

#include <QCoreApplication>
#include <QTimer>

#include <cmath>

namespace {

const char Usage[] = "bridge --sim [--seconds S]";

int runBridge(const QStringList &args)
{
    CliOptions options("bridge");
    options.add(QStringLiteral("sim"), QStringLiteral("simulierter Bus (der einzige, den die Brücke verbindet)"));
    options.add(QStringLiteral("seconds"), QStringLiteral("spätestens nach S Sekunden enden (sonst am Ende der Eingabe)"),
                QStringLiteral("S"));
    if (const int exit = options.parse(args); exit >= 0)
        return exit;
    if (!options.isSet(QStringLiteral("sim")))
        return options.fail(QStringLiteral("--sim fehlt: nur der simulierte Bus wird unterstützt."));
    double seconds = -1;
    if (options.isSet(QStringLiteral("seconds"))
        && !Cli::parseSeconds(options.value(QStringLiteral("seconds")), &seconds))
        return options.fail(QStringLiteral("Ungültige Dauer: %1").arg(options.value(QStringLiteral("seconds"))));

    // Standard input and output are the other tool's side of a text-pipe bus:
    // what it types is "received" there and sent on to the simulation; what
    // the simulation delivers is "sent" there, that is printed.
    PipeBackend tool(QStringLiteral("-"), QStringLiteral("-"));
    SimulationBackend simulation;
    // A relay must not hold frames for the 20 ms batch: a protocol on the
    // other side waits for each answer (a segmented transfer is one round
    // trip per 7 bytes).
    tool.setDeliverAtOnce(true);
    simulation.setDeliverAtOnce(true);
    QObject::connect(&tool, &CanBackend::framesReceived, &simulation, [&](const CanFrameList &frames) {
        for (const CanFrame &frame : frames) {
            if (!frame.tx)
                simulation.write(frame, nullptr);
        }
        // The node answers at once: hand its answers over without waiting for the next flush.
        simulation.flushQueue();
    });
    QObject::connect(&simulation, &CanBackend::framesReceived, &tool, [&](const CanFrameList &frames) {
        for (const CanFrame &frame : frames) {
            if (!frame.tx) // not the echo of what the bridge wrote itself
                tool.write(frame, nullptr);
        }
    });
    QObject::connect(&tool, &PipeBackend::inputEnded, QCoreApplication::instance(), &QCoreApplication::quit);

    QString error;
    ConnectParams params;
    params.interface = 1;
    if (!tool.open(params, &error) || !simulation.open(params, &error)) {
        Cli::err(error);
        return Cli::Failed;
    }
    if (seconds >= 0)
        QTimer::singleShot(int(std::llround(seconds * 1000)), Qt::PreciseTimer, QCoreApplication::instance(),
                           &QCoreApplication::quit);
    QCoreApplication::exec();
    simulation.close();
    simulation.flushQueue();
    tool.close();
    if (tool.badLines() > 0)
        Cli::err(QStringLiteral("%1 Zeilen nicht lesbar, übersprungen.").arg(tool.badLines()));
    return Cli::Ok;
}

const CliCommand command("bridge", Usage, runBridge);

} // namespace
