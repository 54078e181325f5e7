// busvista-cli sdo / nmt / nodes: the CANopen tools of the SDO panel on any
// bus the command line can open.
#include "cli.h"
#include "clibus.h"

#include "heartbeatmonitor.h"
#include "nmt.h"
#include "pipebackend.h"
#include "sdoclient.h"
#include "sdotypes.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTimer>

#include <functional>

namespace {

const char SdoUsage[] = "sdo BUS read KNOTEN INDEX:SUB [--type NAME|auto] [--timeout MS] | "
                        "sdo BUS write KNOTEN INDEX:SUB WERT --type NAME [--timeout MS]";
const char NmtUsage[] = "nmt BUS start|stop|preop|reset|resetcomm KNOTEN";
const char NodesUsage[] = "nodes BUS --seconds S";

// Ends the event loop when a text-pipe bus runs out of input.
void quitAtEndOfInput(CanBackend *backend, const std::function<void()> &atEnd)
{
    if (auto *pipe = qobject_cast<PipeBackend *>(backend))
        QObject::connect(pipe, &PipeBackend::inputEnded, QCoreApplication::instance(), atEnd);
}

bool parseNode(const QString &text, int min, int *node)
{
    bool ok = false;
    const int value = text.toInt(&ok, 0);
    if (!ok || value < min || value > 127)
        return false;
    *node = value;
    return true;
}

bool parseObject(const QString &text, quint16 *index, quint8 *sub)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 2 || parts.at(0).isEmpty() || parts.at(1).isEmpty() || parts.at(0).size() > 4
        || parts.at(1).size() > 2)
        return false;
    bool okIndex = false;
    bool okSub = false;
    const uint i = parts.at(0).toUInt(&okIndex, 16);
    const uint s = parts.at(1).toUInt(&okSub, 16);
    if (!okIndex || !okSub)
        return false;
    *index = quint16(i);
    *sub = quint8(s);
    return true;
}

QString objectText(quint16 index, quint8 sub)
{
    return QStringLiteral("%1:%2").arg(index, 4, 16, QLatin1Char('0')).arg(sub, 2, 16, QLatin1Char('0')).toUpper();
}

int runSdo(const QStringList &arguments)
{
    // A negative value ("-5") is a value, not an option: it goes behind "--".
    QStringList args;
    QStringList negatives;
    static const QRegularExpression negativeNumber(QStringLiteral("^-\\s*[0-9]"));
    for (const QString &arg : arguments)
        (negativeNumber.match(arg).hasMatch() ? negatives : args).append(arg);
    if (!negatives.isEmpty())
        args << QStringLiteral("--") << negatives;

    CliOptions options("sdo");
    options.allowPositional();
    options.add(QStringLiteral("type"), QStringLiteral("Datentyp (UNSIGNED8 … INTEGER64, REAL32, VISIBLE_STRING, DOMAIN); beim Lesen auch auto (Vorgabe)"),
                QStringLiteral("NAME"));
    options.add(QStringLiteral("timeout"), QStringLiteral("Antwort-Timeout je Anfrage in ms (Vorgabe 1000)"), QStringLiteral("MS"));
    CliBus::Choice bus;
    if (const int exit = options.parse(args, &bus); exit >= 0)
        return exit;
    const QStringList positional = options.positional();
    if (positional.size() < 3)
        return options.fail(QStringLiteral("Zu wenige Argumente."));
    const bool write = positional.at(0) == QLatin1String("write");
    if (!write && positional.at(0) != QLatin1String("read"))
        return options.fail(QStringLiteral("read oder write erwartet: %1").arg(positional.at(0)));
    if (positional.size() != (write ? 4 : 3))
        return options.fail(write ? QStringLiteral("Zum Schreiben fehlt der Wert.")
                                  : QStringLiteral("Unerwartetes Argument: %1").arg(positional.at(3)));
    int node = 0;
    if (!parseNode(positional.at(1), 1, &node))
        return options.fail(QStringLiteral("Ungültige Knoten-ID: %1 (1 bis 127)").arg(positional.at(1)));
    quint16 index = 0;
    quint8 sub = 0;
    if (!parseObject(positional.at(2), &index, &sub))
        return options.fail(QStringLiteral("Ungültiges Objekt: %1 (z. B. 1018:01)").arg(positional.at(2)));
    int timeoutMs = 1000;
    if (options.isSet(QStringLiteral("timeout"))) {
        bool ok = false;
        timeoutMs = options.value(QStringLiteral("timeout")).toInt(&ok);
        if (!ok || timeoutMs < 10 || timeoutMs > 600000)
            return options.fail(QStringLiteral("Ungültiger Timeout: %1 (10 bis 600000 ms)").arg(options.value(QStringLiteral("timeout"))));
    }
    const QString typeText = options.value(QStringLiteral("type"));
    bool autoType = !write;
    Sdo::DataType type = Sdo::Domain;
    if (!typeText.isEmpty() && !(typeText == QLatin1String("auto") && !write)) {
        if (!Sdo::typeFromName(typeText, &type))
            return options.fail(QStringLiteral("Unbekannter Datentyp: %1").arg(typeText));
        autoType = false;
    } else if (write) {
        return options.fail(QStringLiteral("Zum Schreiben wird --type gebraucht."));
    }
    QByteArray bytes;
    QString error;
    // A value the type cannot take is refused before anything is sent.
    if (write && !Sdo::encode(type, positional.at(3), &bytes, &error)) {
        Cli::err(error);
        return Cli::Usage;
    }

    std::unique_ptr<CanBackend> backend = CliBus::createBackend(bus);
    if (!backend || !backend->open(bus.params, &error)) {
        Cli::err(error);
        return Cli::Failed;
    }
    SdoClient client;
    client.setTimeoutMs(timeoutMs);
    client.setBackend(backend.get());
    QObject::connect(backend.get(), &CanBackend::framesReceived, &client, &SdoClient::handleFrames);
    SdoClient::Result result;
    bool done = false;
    QObject::connect(&client, &SdoClient::finished, [&](const SdoClient::Result &r) {
        result = r;
        done = true;
        QCoreApplication::quit();
    });
    // The end of a pipe's input ends the transfer as a lost connection.
    quitAtEndOfInput(backend.get(), [&] { client.setBackend(nullptr); });

    const bool started = write ? client.download(node, index, sub, bytes, &error)
                               : client.upload(node, index, sub, &error);
    if (!started) {
        Cli::err(error);
        return Cli::Failed;
    }
    if (!done)
        QCoreApplication::exec();
    backend->close();

    const QString object = objectText(index, sub);
    if (!result.ok) {
        Cli::err(QStringLiteral("%1: %2").arg(object, result.message));
        return Cli::Failed;
    }
    if (write) {
        Cli::out(QStringLiteral("%1 geschrieben (%2 Byte, %3 ms).").arg(object).arg(result.data.size()).arg(result.elapsedMs));
    } else {
        if (autoType)
            type = Sdo::typeFromLength(result.data);
        Cli::out(Sdo::decode(type, result.data));
    }
    std::fflush(stdout);
    return Cli::Ok;
}

int runNmt(const QStringList &args)
{
    CliOptions options("nmt");
    options.allowPositional();
    CliBus::Choice bus;
    if (const int exit = options.parse(args, &bus); exit >= 0)
        return exit;
    const QStringList positional = options.positional();
    if (positional.size() != 2)
        return options.fail(QStringLiteral("Befehl und Knoten-ID erwartet."));
    Nmt::Command command = Nmt::Start;
    if (!Nmt::commandFromName(positional.at(0), &command))
        return options.fail(QStringLiteral("Unbekannter NMT-Befehl: %1").arg(positional.at(0)));
    int node = 0;
    if (!parseNode(positional.at(1), 0, &node))
        return options.fail(QStringLiteral("Ungültige Knoten-ID: %1 (0 = alle, 1 bis 127)").arg(positional.at(1)));
    std::unique_ptr<CanBackend> backend = CliBus::createBackend(bus);
    QString error;
    if (!backend || !backend->open(bus.params, &error)) {
        Cli::err(error);
        return Cli::Failed;
    }
    const bool sent = backend->write(Nmt::commandFrame(command, node), &error);
    backend->close();
    if (!sent) {
        Cli::err(QStringLiteral("NMT-Befehl konnte nicht gesendet werden: %1").arg(error));
        return Cli::Failed;
    }
    return Cli::Ok;
}

int runNodes(const QStringList &args)
{
    CliOptions options("nodes");
    options.add(QStringLiteral("seconds"), QStringLiteral("Dauer in Sekunden"), QStringLiteral("S"));
    CliBus::Choice bus;
    if (const int exit = options.parse(args, &bus); exit >= 0)
        return exit;
    double seconds = -1;
    if (!options.isSet(QStringLiteral("seconds")))
        return options.fail(QStringLiteral("--seconds fehlt."));
    if (!Cli::parseSeconds(options.value(QStringLiteral("seconds")), &seconds))
        return options.fail(QStringLiteral("Ungültige Dauer: %1").arg(options.value(QStringLiteral("seconds"))));
    std::unique_ptr<CanBackend> backend = CliBus::createBackend(bus);
    if (!backend)
        return Cli::Failed;
    HeartbeatMonitor monitor;
    QObject::connect(backend.get(), &CanBackend::framesReceived,
                     [&monitor](const CanFrameList &frames) { monitor.handleFrames(frames); });
    if (!CliBus::run(*backend, bus, seconds))
        return Cli::Failed;
    for (const HeartbeatMonitor::Node &node : monitor.nodes()) {
        const QString interval = node.intervalUs > 0 ? QString::number((node.intervalUs + 500) / 1000)
                                                     : QStringLiteral("–");
        Cli::out(QStringLiteral("%1\t%2\t%3\t%4")
                     .arg(node.nodeId)
                     .arg(HeartbeatMonitor::stateText(node.state), interval)
                     .arg(node.count));
    }
    std::fflush(stdout);
    return Cli::Ok;
}

const CliCommand sdoCommand("sdo", SdoUsage, runSdo);
const CliCommand nmtCommand("nmt", NmtUsage, runNmt);
const CliCommand nodesCommand("nodes", NodesUsage, runNodes);

} // namespace
