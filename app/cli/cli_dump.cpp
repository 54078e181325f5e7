// busvista-cli dump: prints the traffic of a bus, received through the same
// queue and flush as in the main window.
#include "cli.h"

#include "frametext.h"
#include "clibus.h"

#include <QCoreApplication>
#include <QHash>
#include <QTimer>

#include <vector>

namespace {

const char Usage[] = "dump BUS --seconds S [--summary]";

struct IdentifierSummary
{
    QString text;
    qint64 count = 0;
    qint64 firstUs = 0;
    qint64 lastUs = 0;
};

QString frameLine(const CanFrame &frame)
{
    return QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6")
        .arg(frame.timestampUs / 1000.0, 0, 'f', 3)
        .arg(frame.tx ? QStringLiteral("Tx") : QStringLiteral("Rx"))
        .arg(FrameText::identifier(frame))
        .arg(FrameText::kind(frame))
        .arg(frame.dlc)
        .arg(FrameText::data(frame));
}

// Mean cycle time of an identifier seen only once is undefined: "-".
QString meanCycleText(const IdentifierSummary &entry)
{
    if (entry.count < 2)
        return QStringLiteral("-");
    const double meanMs = double(entry.lastUs - entry.firstUs) / 1000.0 / double(entry.count - 1);
    return QString::number(meanMs, 'f', 1);
}

int runDump(const QStringList &args)
{
    CliOptions options("dump");
    options.addSeconds();
    options.add(QStringLiteral("summary"), QStringLiteral("je Identifier Anzahl und mittlere Zykluszeit statt jeder Nachricht"));
    CliBus::Choice bus;
    if (const int exit = options.parse(args, &bus); exit >= 0)
        return exit;
    const double seconds = options.seconds();
    const bool summary = options.isSet(QStringLiteral("summary"));

    std::vector<IdentifierSummary> identifiers;
    QHash<quint64, std::size_t> indexOf;
    auto onFrames = [&](const CanFrameList &frames) {
        for (const CanFrame &frame : frames) {
            if (!summary) {
                Cli::out(frameLine(frame));
                continue;
            }
            const quint64 key = quint64(frame.id) | (frame.extended ? Q_UINT64_C(1) << 32 : 0);
            auto found = indexOf.constFind(key);
            if (found == indexOf.constEnd()) {
                found = indexOf.insert(key, identifiers.size());
                identifiers.push_back({FrameText::identifier(frame), 0, frame.timestampUs, 0});
            }
            IdentifierSummary &entry = identifiers[*found];
            ++entry.count;
            entry.lastUs = frame.timestampUs;
        }
    };

    const std::unique_ptr<CanBackend> backend = CliBus::createBackend(bus);
    QObject::connect(backend.get(), &CanBackend::framesReceived, onFrames);
    if (!CliBus::run(*backend, bus, seconds))
        return Cli::Failed;

    for (const IdentifierSummary &entry : identifiers)
        Cli::out(QStringLiteral("%1\t%2\t%3").arg(entry.text).arg(entry.count).arg(meanCycleText(entry)));
    std::fflush(stdout);
    return Cli::Ok;
}

const CliCommand command("dump", Usage, runDump);

} // namespace
