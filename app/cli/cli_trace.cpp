// busvista-cli record / convert: trace recording of the simulated bus and
// conversion between the trace file formats, through TraceModel.
#include "cli.h"

#include "simulationbackend.h"
#include "symbolfile.h"
#include "tracemodel.h"

#include <QCoreApplication>
#include <QTimer>


namespace {

const char RecordUsage[] = "record --sim --seconds S --out DATEI [--sym DATEI] [--filter TEXT] [--exclude] [--max-entries N]";
const char ConvertUsage[] = "convert EINGABE AUSGABE [--sym DATEI]";

bool isCsv(const QString &path)
{
    return path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
}

bool loadSymbols(const QString &path, std::shared_ptr<const SymbolDatabase> *db)
{
    auto loaded = std::make_shared<SymbolDatabase>();
    QString error;
    if (!loaded->load(path, &error)) {
        Cli::err(error);
        return false;
    }
    *db = std::move(loaded);
    return true;
}

bool save(const TraceModel &model, const QString &path)
{
    QString error;
    if (isCsv(path) ? model.saveCsv(path, &error) : model.saveTrc(path, &error))
        return true;
    Cli::err(error);
    return false;
}

int runConvert(const QStringList &args)
{
    QStringList files;
    QString symPath;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--sym")) {
            if (i + 1 >= args.size())
                return Cli::usageError("convert", QStringLiteral("--sym braucht einen Wert."));
            symPath = args.at(++i);
        } else if (arg.startsWith(QLatin1String("--"))) {
            return Cli::usageError("convert", QStringLiteral("Unbekannte Option: %1").arg(arg));
        } else {
            files.append(arg);
        }
    }
    if (files.size() != 2)
        return Cli::usageError("convert");

    TraceModel model;
    if (!symPath.isEmpty()) {
        std::shared_ptr<const SymbolDatabase> db;
        if (!loadSymbols(symPath, &db))
            return Cli::Failed;
        model.setSymbols(db);
    }
    QString error;
    int count = 0;
    const QString &in = files.at(0);
    if (!(isCsv(in) ? model.loadCsv(in, &error, &count) : model.loadTrc(in, &error, &count))) {
        Cli::err(error);
        return Cli::Failed;
    }
    if (!save(model, files.at(1)))
        return Cli::Failed;
    Cli::out(QStringLiteral("%1 Nachrichten").arg(count));
    return Cli::Ok;
}

int runRecord(const QStringList &args)
{
    bool sim = false;
    double seconds = -1;
    QString out;
    QString symPath;
    QString filterText;
    bool filterGiven = false;
    bool exclude = false;
    int maxEntries = TraceModel::DefaultMaxEntries;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("--sim")) {
            sim = true;
        } else if (arg == QLatin1String("--exclude")) {
            exclude = true;
        } else if (arg == QLatin1String("--seconds") || arg == QLatin1String("--out") || arg == QLatin1String("--sym")
                   || arg == QLatin1String("--filter") || arg == QLatin1String("--max-entries")) {
            if (!hasValue)
                return Cli::usageError("record", QStringLiteral("%1 braucht einen Wert.").arg(arg));
            const QString value = args.at(++i);
            bool ok = true;
            if (arg == QLatin1String("--seconds")) {
                if (!Cli::parseSeconds(value, &seconds))
                    return Cli::usageError("record", QStringLiteral("Ungültige Dauer: %1").arg(value));
            } else if (arg == QLatin1String("--out")) {
                out = value;
            } else if (arg == QLatin1String("--sym")) {
                symPath = value;
            } else if (arg == QLatin1String("--filter")) {
                filterText = value;
                filterGiven = true;
            } else {
                maxEntries = value.toInt(&ok);
                if (!ok || maxEntries < 1)
                    return Cli::usageError("record", QStringLiteral("Ungültige Anzahl: %1").arg(value));
            }
        } else {
            return Cli::usageError("record", QStringLiteral("Unbekannte Option: %1").arg(arg));
        }
    }
    if (!sim)
        return Cli::usageError("record", QStringLiteral("Nur --sim wird unterstützt."));
    if (seconds < 0)
        return Cli::usageError("record", QStringLiteral("--seconds fehlt."));
    if (out.isEmpty())
        return Cli::usageError("record", QStringLiteral("--out fehlt."));

    TraceModel model;
    model.setMaxEntries(maxEntries);
    if (filterGiven || exclude) {
        CanIdFilter filter;
        QString error;
        if (!filter.parse(filterText, &error))
            return Cli::usageError("record", error);
        filter.mode = exclude ? CanIdFilter::Exclude : CanIdFilter::Include;
        filter.enabled = true;
        model.setFilter(filter);
    }
    if (!symPath.isEmpty()) {
        std::shared_ptr<const SymbolDatabase> db;
        if (!loadSymbols(symPath, &db))
            return Cli::Failed;
        model.setSymbols(db);
    }

    SimulationBackend backend;
    QObject::connect(&backend, &CanBackend::framesReceived, &model, &TraceModel::addFrames);
    model.setRecording(true);
    if (!Cli::runSimulation(backend, seconds))
        return Cli::Failed;
    model.setRecording(false);

    if (!save(model, out))
        return Cli::Failed;
    Cli::out(QStringLiteral("Aufgezeichnet: %1").arg(model.nextNumber() - 1));
    Cli::out(QStringLiteral("Gefiltert: %1").arg(model.droppedByFilter()));
    Cli::out(QStringLiteral("Gespeichert: %1").arg(model.rowCount()));
    return Cli::Ok;
}

const CliCommand recordCommand("record", RecordUsage, runRecord);
const CliCommand convertCommand("convert", ConvertUsage, runConvert);

} // namespace
