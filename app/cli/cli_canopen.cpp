// busvista-cli sdo / nmt / nodes: the CANopen tools of the SDO panel on any
// bus the command line can open.
#include "cli.h"
#include "clibus.h"

#include "edsfile.h"
#include "heartbeatmonitor.h"
#include "nmt.h"
#include "pipebackend.h"
#include "sdoclient.h"
#include "sdotypes.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSaveFile>
#include <QRegularExpression>
#include <QTimer>

#include <functional>

bool Cli::parseSdoTimeout(const CliOptions &options, int fallback, int *timeoutMs)
{
    *timeoutMs = fallback;
    if (!options.isSet(QStringLiteral("timeout")))
        return true;
    bool ok = false;
    const int value = options.value(QStringLiteral("timeout")).toInt(&ok);
    // The same lower limit as the panel: shorter than a round trip on a
    // loaded bus only produces time-outs and stray late answers.
    if (!ok || value < SdoClient::MinTimeoutMs || value > 600000) {
        options.fail(QStringLiteral("Ungültiger Timeout: %1 (%2 bis 600000 ms)")
                         .arg(options.value(QStringLiteral("timeout")))
                         .arg(SdoClient::MinTimeoutMs));
        return false;
    }
    *timeoutMs = value;
    return true;
}

namespace {

const char SdoUsage[] = "sdo BUS read KNOTEN OBJEKT [--type NAME|auto] [--eds DATEI] [--output DATEI] [--block] [--timeout MS] | "
                        "sdo BUS write KNOTEN OBJEKT (WERT [--type NAME] | --file DATEI) [--eds DATEI] [--block] [--timeout MS]"
                        " (OBJEKT: INDEX:SUB hexadezimal, mit --eds auch der Name aus der EDS)";
const char NmtUsage[] = "nmt BUS start|stop|preop|reset|resetcomm KNOTEN";
const char NodesUsage[] = "nodes BUS --seconds S";

// Ends the event loop when a text-pipe bus runs out of input.
void quitAtEndOfInput(CanBackend *backend, const std::function<void()> &atEnd)
{
    if (auto *pipe = qobject_cast<PipeBackend *>(backend))
        QObject::connect(pipe, &PipeBackend::inputEnded, QCoreApplication::instance(), atEnd);
}

// Node IDs are decimal, or hexadecimal with "0x": "010" is node 10, not 8.
bool parseNode(const QString &text, int min, int *node)
{
    bool ok = false;
    int value = 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) && text.size() > 2)
        value = text.mid(2).toInt(&ok, 16);
    else if (!text.isEmpty() && text.at(0).isDigit())
        value = text.toInt(&ok, 10);
    if (!ok || value < min || value > 127)
        return false;
    *node = value;
    return true;
}

// Watches the transmit echoes of one identifier, so that the bus is closed
// only after the driver has really sent a last frame (NMT command, abort).
class EchoWatch
{
public:
    EchoWatch(CanBackend *backend, quint32 id, quint8 firstByte)
    {
        QObject::connect(backend, &CanBackend::framesReceived, &m_context, [this, id, firstByte](const CanFrameList &frames) {
            for (const CanFrame &frame : frames) {
                if (frame.tx && !frame.extended && frame.id == id && frame.dlc > 0 && frame.data[0] == firstByte)
                    ++m_seen;
            }
            if (m_seen >= m_wanted && m_loop.isRunning())
                m_loop.quit();
        });
    }
    // Waits until `count` echoes came, at most `maxMs`; false on time-out.
    bool wait(int count, int maxMs)
    {
        m_wanted = count;
        if (m_seen >= count)
            return true;
        QTimer::singleShot(maxMs, &m_loop, &QEventLoop::quit);
        m_loop.exec();
        return m_seen >= count;
    }

private:
    QObject m_context;
    QEventLoop m_loop;
    int m_seen = 0;
    int m_wanted = 1;
};

// Time for a driver to put a last frame on the bus and report its echo.
constexpr int EchoWaitMs = 500;

bool parseObject(const QString &text, quint16 *index, quint8 *sub)
{
    QString plain = text;
    if (plain.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        plain.remove(0, 2);
    const QStringList parts = plain.split(QLatin1Char(':'));
    if (parts.size() != 2 || parts.at(0).isEmpty() || parts.at(1).isEmpty() || parts.at(0).size() > 4
        || parts.at(1).size() > 2)
        return false;
    bool okIndex = false;
    bool okSub = false;
    const uint i = parts.at(0).toUInt(&okIndex, 16);
    QString subText = parts.at(1);
    if (subText.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        subText.remove(0, 2);
    const uint s = subText.toUInt(&okSub, 16);
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
    options.add(QStringLiteral("type"), QStringLiteral("Datentyp (UNSIGNED8 … INTEGER64, REAL32, REAL64, VISIBLE_STRING, DOMAIN); "
                                                       "beim Lesen auch auto (Vorgabe ohne EDS)"),
                QStringLiteral("NAME"));
    options.add(QStringLiteral("timeout"), QStringLiteral("Antwort-Timeout je Anfrage in ms (Vorgabe 1000)"), QStringLiteral("MS"));
    options.add(QStringLiteral("eds"), QStringLiteral("EDS- oder DCF-Datei des Knotens: Objektnamen, Datentypen, Zugriffsrechte"),
                QStringLiteral("DATEI"));
    options.add(QStringLiteral("block"), QStringLiteral("Blocktransfer (mit CRC); lehnt der Knoten ab, segmentiert"));
    options.add(QStringLiteral("file"), QStringLiteral("Schreiben: die Bytes dieser Datei als Wert"), QStringLiteral("DATEI"));
    options.add(QStringLiteral("output"), QStringLiteral("Lesen: die gelesenen Bytes in diese Datei schreiben"),
                QStringLiteral("DATEI"));
    CliBus::Choice bus;
    if (const int exit = options.parse(args, &bus); exit >= 0)
        return exit;
    const QStringList positional = options.positional();
    if (positional.size() < 3)
        return options.fail(QStringLiteral("Zu wenige Argumente."));
    const bool write = positional.at(0) == QLatin1String("write");
    if (!write && positional.at(0) != QLatin1String("read"))
        return options.fail(QStringLiteral("read oder write erwartet: %1").arg(positional.at(0)));
    const bool fromFile = options.isSet(QStringLiteral("file"));
    if (fromFile && !write)
        return options.fail(QStringLiteral("--file gilt nur beim Schreiben."));
    if (write && options.isSet(QStringLiteral("output")))
        return options.fail(QStringLiteral("--output gilt nur beim Lesen."));
    const int wanted = write && !fromFile ? 4 : 3;
    if (positional.size() < wanted)
        return options.fail(QStringLiteral("Zum Schreiben fehlt der Wert."));
    if (positional.size() > wanted)
        return options.fail(QStringLiteral("Unerwartetes Argument: %1").arg(positional.at(wanted)));
    int node = 0;
    if (!parseNode(positional.at(1), 1, &node))
        return options.fail(QStringLiteral("Ungültige Knoten-ID: %1 (1 bis 127)").arg(positional.at(1)));
    EdsFile eds;
    const EdsFile::Entry *entry = nullptr;
    if (options.isSet(QStringLiteral("eds"))) {
        QString error;
        if (!eds.load(options.value(QStringLiteral("eds")), node, &error)) {
            Cli::err(error);
            return Cli::Failed;
        }
    }
    quint16 index = 0;
    quint8 sub = 0;
    if (parseObject(positional.at(2), &index, &sub)) {
        entry = eds.find(index, sub);
    } else if (!eds.isEmpty()) {
        entry = eds.findByName(positional.at(2));
        if (!entry)
            return options.fail(QStringLiteral("Objekt %1 steht nicht (eindeutig) in der EDS.").arg(positional.at(2)));
        index = entry->index;
        sub = entry->subIndex;
    } else {
        return options.fail(QStringLiteral("Ungültiges Objekt: %1 (z. B. 1018:01, Namen nur mit --eds)").arg(positional.at(2)));
    }
    int timeoutMs = 1000;
    if (!Cli::parseSdoTimeout(options, 1000, &timeoutMs))
        return Cli::Usage;
    const QString typeText = options.value(QStringLiteral("type"));
    bool autoType = !write;
    Sdo::DataType type = Sdo::Domain;
    if (!typeText.isEmpty() && !(typeText == QLatin1String("auto") && !write)) {
        if (!Sdo::typeFromName(typeText, &type))
            return options.fail(QStringLiteral("Unbekannter Datentyp: %1").arg(typeText));
        autoType = false;
    } else if (entry && typeText.isEmpty() && EdsFile::sdoType(entry->dataType, &type)) {
        autoType = false; // the data sheet's type
    } else if (write && !fromFile) {
        return options.fail(QStringLiteral("Zum Schreiben wird --type gebraucht."));
    }
    if (write && entry && !EdsFile::isWritable(*entry)) {
        Cli::err(QStringLiteral("%1 (%2) ist laut EDS nur lesbar (%3).")
                     .arg(objectText(index, sub), entry->name, entry->accessType));
        return Cli::Usage;
    }
    QByteArray bytes;
    QString error;
    if (fromFile) {
        QFile file(options.value(QStringLiteral("file")));
        if (!file.open(QIODevice::ReadOnly)) {
            Cli::err(QStringLiteral("%1 kann nicht gelesen werden: %2").arg(file.fileName(), file.errorString()));
            return Cli::Failed;
        }
        if (file.size() > SdoClient::MaxUploadBytes) {
            Cli::err(QStringLiteral("%1 ist zu groß für ein Objekt (höchstens %2 Byte).")
                         .arg(file.fileName())
                         .arg(SdoClient::MaxUploadBytes));
            return Cli::Failed;
        }
        bytes = file.readAll();
        type = Sdo::Domain;
    } else if (write && !Sdo::encode(type, positional.at(3), &bytes, &error)) {
        // A value the type cannot take is refused before anything is sent.
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
    client.setBlockTransfer(options.isSet(QStringLiteral("block")));
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
    EchoWatch abortEcho(backend.get(), 0x600 + quint32(node), 0x80);

    const bool started = write ? client.download(node, index, sub, bytes, &error)
                               : client.upload(node, index, sub, &error);
    if (!started) {
        Cli::err(error);
        return Cli::Failed;
    }
    if (!done)
        QCoreApplication::exec();
    if (client.abortSent() && backend->isOpen())
        abortEcho.wait(1, EchoWaitMs);
    backend->close();

    const QString object = objectText(index, sub);
    if (!result.ok) {
        Cli::err(QStringLiteral("%1: %2").arg(object, result.message));
        return Cli::Failed;
    }
    if (write) {
        Cli::out(QStringLiteral("%1 geschrieben (%2 Byte, %3 ms).").arg(object).arg(result.data.size()).arg(result.elapsedMs));
    } else if (options.isSet(QStringLiteral("output"))) {
        QSaveFile file(options.value(QStringLiteral("output")));
        if (!file.open(QIODevice::WriteOnly) || file.write(result.data) != result.data.size() || !file.commit()) {
            Cli::err(QStringLiteral("%1 kann nicht geschrieben werden: %2").arg(file.fileName(), file.errorString()));
            return Cli::Failed;
        }
        Cli::out(QStringLiteral("%1 gelesen (%2 Byte, %3 ms) und in %4 gespeichert.")
                     .arg(object)
                     .arg(result.data.size())
                     .arg(result.elapsedMs)
                     .arg(file.fileName()));
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
    EchoWatch echo(backend.get(), 0x000, quint8(command));
    const bool sent = backend->write(Nmt::commandFrame(command, node), &error);
    if (sent)
        echo.wait(1, EchoWaitMs);
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
