// busvista-cli scan: finds the CANopen nodes of a bus by their device type,
// as the SDO panel's "Knoten suchen" does.
#include "cli.h"
#include "clibus.h"

#include "nodescanner.h"
#include "pipebackend.h"
#include "sdoclient.h"

#include <QCoreApplication>

namespace {

const char Usage[] = "scan BUS [--timeout MS] [--parallel N]";

int runScan(const QStringList &args)
{
    CliOptions options("scan");
    options.add(QStringLiteral("timeout"), QStringLiteral("Antwort-Timeout je Knoten in ms (Vorgabe 100)"), QStringLiteral("MS"));
    options.add(QStringLiteral("parallel"), QStringLiteral("Knoten, die zugleich gefragt werden (1 bis 127, Vorgabe 16)"),
                QStringLiteral("N"));
    CliBus::Choice bus;
    if (const int exit = options.parse(args, &bus); exit >= 0)
        return exit;
    int timeoutMs = 100;
    if (!Cli::parseSdoTimeout(options, 100, &timeoutMs))
        return Cli::Usage;
    int parallel = 16;
    if (options.isSet(QStringLiteral("parallel"))) {
        bool ok = false;
        parallel = options.value(QStringLiteral("parallel")).toInt(&ok);
        if (!ok || parallel < 1 || parallel > 127)
            return options.fail(QStringLiteral("Ungültige Anzahl: %1 (1 bis 127)").arg(options.value(QStringLiteral("parallel"))));
    }
    std::unique_ptr<CanBackend> backend = CliBus::createBackend(bus);
    QString error;
    if (!backend || !backend->open(bus.params, &error)) {
        Cli::err(error);
        return Cli::Failed;
    }
    NodeScanner scanner;
    scanner.setBackend(backend.get());
    scanner.setTimeoutMs(timeoutMs);
    scanner.setParallel(parallel);
    QObject::connect(backend.get(), &CanBackend::framesReceived, &scanner, &NodeScanner::handleFrames);
    bool cancelled = false;
    QObject::connect(&scanner, &NodeScanner::finished, [&](bool wasCancelled) {
        cancelled = wasCancelled;
        QCoreApplication::quit();
    });
    // The end of a pipe's input ends the scan with what was found so far.
    if (auto *pipe = qobject_cast<PipeBackend *>(backend.get()))
        QObject::connect(pipe, &PipeBackend::inputEnded, &scanner, &NodeScanner::cancel);
    if (!scanner.start(1, 127, &error)) {
        Cli::err(error);
        return Cli::Failed;
    }
    if (scanner.isRunning())
        QCoreApplication::exec();
    backend->close();
    for (const NodeScanner::Node &node : scanner.nodes()) {
        const QString type = node.deviceTypeRead ? NodeScanner::deviceTypeText(node.deviceType)
                                                 : QStringLiteral("1000h nicht lesbar (0x%1)")
                                                       .arg(node.abortCode, 8, 16, QLatin1Char('0'));
        Cli::out(QStringLiteral("%1\t%2\t%3").arg(node.nodeId).arg(type, node.name));
    }
    if (cancelled)
        Cli::err(QStringLiteral("Suche vorzeitig beendet."));
    std::fflush(stdout);
    return Cli::Ok;
}

const CliCommand command("scan", Usage, runScan);

} // namespace
