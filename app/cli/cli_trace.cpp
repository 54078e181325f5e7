// busvista-cli record / convert: trace recording of a bus and
// conversion between the trace file formats, through TraceModel.
#include "cli.h"
#include "clibus.h"

#include "symbolfile.h"
#include "tracemodel.h"

#include <QCoreApplication>
#include <QTimer>


namespace {

const char RecordUsage[] = "record BUS --seconds S --out DATEI [--sym DATEI] [--filter TEXT] [--exclude] [--max-entries N]";
const char ConvertUsage[] = "convert EINGABE AUSGABE [--sym DATEI]";


// *notice: what the format could not hold, empty when nothing.
bool save(const TraceModel &model, const QString &path, QString *notice)
{
    // By the ending (any case); another ending is written as PCAN trace.
    TraceFile::Format format = TraceFile::Format::Trc;
    TraceFile::formatOfPath(path, &format);
    QString error;
    TraceFile::SaveResult result;
    if (model.save(path, format, &error, &result)) {
        *notice = result.notice();
        return true;
    }
    Cli::err(error);
    return false;
}

int runConvert(const QStringList &args)
{
    CliOptions options("convert");
    options.add(QStringLiteral("sym"), QStringLiteral("Symboldatei für die Symbolspalte"), QStringLiteral("DATEI"));
    options.allowPositional();
    if (const int exit = options.parse(args); exit >= 0)
        return exit;
    const QStringList files = options.positional();
    if (files.size() != 2)
        return options.fail();
    const QString symPath = options.value(QStringLiteral("sym"));

    TraceModel model;
    if (!symPath.isEmpty()) {
        std::shared_ptr<const SymbolDatabase> db;
        if (!Cli::loadSymbols(symPath, &db))
            return Cli::Failed;
        model.setSymbols(db);
    }
    QString error;
    int count = 0;
    const QString &in = files.at(0);
    TraceFile::Format format = TraceFile::Format::Trc;
    TraceFile::LoadResult result;
    if (!TraceFile::formatOfFile(in, &format, &error) || !model.load(in, format, &error, &count, {}, &result)) {
        Cli::err(error);
        return Cli::Failed;
    }
    QString notice;
    if (!save(model, files.at(1), &notice))
        return Cli::Failed;
    Cli::out(QStringLiteral("%1 Nachrichten").arg(count));
    for (const QString &text : {result.notice(), notice}) {
        if (!text.isEmpty())
            Cli::out(text);
    }
    return Cli::Ok;
}

int runRecord(const QStringList &args)
{
    CliOptions options("record");
    options.addSeconds();
    options.add(QStringLiteral("out"), QStringLiteral("Trace-Datei (.trc oder .csv)"), QStringLiteral("DATEI"));
    options.add(QStringLiteral("sym"), QStringLiteral("Symboldatei für die Symbolspalte"), QStringLiteral("DATEI"));
    options.add(QStringLiteral("filter"), QStringLiteral("CAN-ID-Filter, z. B. 100, 180-1FF"), QStringLiteral("TEXT"));
    options.add(QStringLiteral("exclude"), QStringLiteral("Filter schließt die IDs aus statt ein"));
    options.add(QStringLiteral("max-entries"), QStringLiteral("Höchstzahl der Einträge"), QStringLiteral("N"));
    CliBus::Choice bus;
    if (const int exit = options.parse(args, &bus); exit >= 0)
        return exit;
    const double seconds = options.seconds();
    const QString out = options.value(QStringLiteral("out"));
    if (out.isEmpty())
        return options.fail(QStringLiteral("--out fehlt."));
    const QString symPath = options.value(QStringLiteral("sym"));
    const bool filterGiven = options.isSet(QStringLiteral("filter"));
    const QString filterText = options.value(QStringLiteral("filter"));
    const bool exclude = options.isSet(QStringLiteral("exclude"));
    int maxEntries = TraceModel::DefaultMaxEntries;
    if (options.isSet(QStringLiteral("max-entries"))) {
        bool ok = false;
        maxEntries = options.value(QStringLiteral("max-entries")).toInt(&ok);
        if (!ok || maxEntries < 1)
            return options.fail(QStringLiteral("Ungültige Anzahl: %1").arg(options.value(QStringLiteral("max-entries"))));
    }

    TraceModel model;
    model.setMaxEntries(maxEntries);
    if (filterGiven || exclude) {
        CanIdFilter filter;
        QString error;
        if (!filter.parse(filterText, &error))
            return options.fail(error);
        filter.mode = exclude ? CanIdFilter::Exclude : CanIdFilter::Include;
        filter.enabled = true;
        model.setFilter(filter);
    }
    if (!symPath.isEmpty()) {
        std::shared_ptr<const SymbolDatabase> db;
        if (!Cli::loadSymbols(symPath, &db))
            return Cli::Failed;
        model.setSymbols(db);
    }

    const std::unique_ptr<CanBackend> backend = CliBus::createBackend(bus);
    QObject::connect(backend.get(), &CanBackend::framesReceived, &model, &TraceModel::addFrames);
    model.setRecording(true);
    bool busLost = false;
    if (!CliBus::run(*backend, bus, seconds, {}, &busLost))
        return Cli::Failed;
    model.setRecording(false);

    QString notice;
    if (!save(model, out, &notice))
        return Cli::Failed;
    Cli::out(QStringLiteral("Aufgezeichnet: %1").arg(model.nextNumber() - 1));
    Cli::out(QStringLiteral("Gefiltert: %1").arg(model.droppedByFilter()));
    Cli::out(QStringLiteral("Gespeichert: %1").arg(model.rowCount()));
    if (!notice.isEmpty())
        Cli::out(notice);
    if (busLost) {
        Cli::err(QStringLiteral("Aufzeichnung nach Verlust des Busses vorzeitig beendet; das Empfangene ist in %1 gespeichert.")
                     .arg(out));
        return Cli::Failed;
    }
    return Cli::Ok;
}

const CliCommand recordCommand("record", RecordUsage, runRecord);
const CliCommand convertCommand("convert", ConvertUsage, runConvert);

} // namespace
