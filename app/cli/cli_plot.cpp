// busvista-cli plot: the values of named signals in a trace file, through
// SignalRecorder, as a CSV table or as the plot's picture.
#include "cli.h"

#include "plotcsv.h"
#include "plotdata.h"
#include "plotimage.h"
#include "plotrender.h"
#include "plotstats.h"
#include "signalrecorder.h"
#include "symbolfile.h"
#include "tracefile.h"
#include "tracemodel.h"

#include <QFileInfo>
#include <QFont>
#include <QSaveFile>

#include <charconv>
#include <climits>
#include <cmath>
#include <utility>

namespace {

const char PlotUsage[] = "plot EINGABE --sym DATEI --signal NAME [--signal NAME ...] [--out AUSGABE.csv|.png] "
                         "[--from S] [--to S] [--stats]";

bool isPng(const QString &path)
{
    return path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive);
}

// Seconds since the first plotted frame; a decimal comma is accepted.
bool parseSeconds(const QString &text, double *out)
{
    bool ok = false;
    const double value = QString(text).replace(QLatin1Char(','), QLatin1Char('.')).trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return false;
    *out = value;
    return true;
}

QByteArray shortest(double value)
{
    char buffer[64];
    const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QByteArray(buffer, int(result.ptr - buffer));
}

// One line per signal: name, count, min, max, mean, first, last in the
// window, computed as the plotter's legend computes them.
void printStats(const SignalRecorder &recorder, double from, double to)
{
    QByteArray text = "signal;count;min;max;mean;first;last\n";
    for (const SignalRecorder::Trace &trace : recorder.traces()) {
        const PlotStats::Stats stats = PlotStats::compute(trace, from, to);
        text += trace.ref.displayName().toUtf8() + ';' + QByteArray::number(stats.count);
        for (double value : {stats.min, stats.max, stats.mean, stats.first, stats.last})
            text += ';' + (stats.count > 0 ? shortest(value) : QByteArray());
        text += '\n';
    }
    Cli::out(QString::fromUtf8(text.chopped(1)));
}

bool writePng(const SignalRecorder &recorder, const QString &in, const QString &path, double from, double to)
{
    QString error;
    const QImage chart = PlotRender::renderChart(recorder, QSize(1200, 600), &error, from, to);
    if (chart.isNull()) {
        Cli::err(QStringLiteral("Das Diagramm konnte nicht gezeichnet werden: %1").arg(error));
        return false;
    }
    QList<PlotImage::LegendLine> legend;
    const QList<SignalRecorder::Trace> &traces = recorder.traces();
    for (int i = 0; i < traces.size(); ++i)
        legend.append({PlotData::color(i), PlotData::legendText(traces.at(i), false, nullptr, recorder.symbols().get())});
    const QString window = from > to ? QStringLiteral("Alles")
                                     : QStringLiteral("%1 … %2 s").arg(PlotData::formatValue(from), PlotData::formatValue(to));
    const QString title = QStringLiteral("Busvista – Plotter   %1   Zeitfenster: %2").arg(QFileInfo(in).fileName(), window);
    const QImage image = PlotImage::compose(chart, title, legend, QFont());
    if (!image.save(path, "PNG")) {
        Cli::err(QStringLiteral("Datei kann nicht geschrieben werden: %1").arg(path));
        return false;
    }
    return true;
}

int runPlot(const QStringList &args)
{
    CliOptions options("plot");
    options.add(QStringLiteral("sym"), QStringLiteral("Symboldatei"), QStringLiteral("DATEI"));
    options.add(QStringLiteral("signal"), QStringLiteral("Signal, z. B. Motor.Drehzahl oder Motor[Mux1].Temp (mehrfach)"),
                QStringLiteral("NAME"));
    options.add(QStringLiteral("out"), QStringLiteral("Ausgabe: .csv (Werte) oder .png (Diagramm)"), QStringLiteral("DATEI"));
    options.add(QStringLiteral("from"), QStringLiteral("Zeitfenster ab S Sekunden seit dem ersten Wert"), QStringLiteral("S"));
    options.add(QStringLiteral("to"), QStringLiteral("Zeitfenster bis S Sekunden"), QStringLiteral("S"));
    options.add(QStringLiteral("stats"), QStringLiteral("je Signal Anzahl, Min, Max, Mittelwert, erster und letzter Wert im Zeitfenster"));
    options.allowPositional();
    const int parsed = options.parse(args);
    if (parsed >= 0)
        return parsed;
    const QStringList files = options.positional();
    if (files.size() != 1)
        return options.fail(files.isEmpty() ? QStringLiteral("Die Trace-Datei fehlt.")
                                            : QStringLiteral("Nur eine Eingabedatei: %1").arg(files.at(1)));
    const QString in = files.first();
    const QString symPath = options.value(QStringLiteral("sym"));
    const QString out = options.value(QStringLiteral("out"));
    const QStringList names = options.values(QStringLiteral("signal"));
    const bool stats = options.isSet(QStringLiteral("stats"));
    if (symPath.isEmpty() || (out.isEmpty() && !stats) || names.isEmpty())
        return options.fail(QStringLiteral("--sym, --signal und --out (oder --stats) sind nötig."));
    if (!out.isEmpty() && !isPng(out) && !out.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        return options.fail(QStringLiteral("Die Ausgabe muss auf .csv oder .png enden: %1").arg(out));
    double from = -HUGE_VAL;
    double to = HUGE_VAL;
    for (const auto &[name, target] : {std::pair{QStringLiteral("from"), &from}, std::pair{QStringLiteral("to"), &to}}) {
        if (options.isSet(name) && !parseSeconds(options.value(name), target))
            return options.fail(QStringLiteral("--%1 erwartet Sekunden: %2").arg(name, options.value(name)));
    }
    if (from > to)
        return options.fail(QStringLiteral("--from liegt nach --to."));
    const bool windowed = options.isSet(QStringLiteral("from")) || options.isSet(QStringLiteral("to"));

    std::shared_ptr<const SymbolDatabase> db;
    if (!Cli::loadSymbols(symPath, &db))
        return Cli::Failed;
    QStringList unknown;
    const QList<PlotSignalRef> refs = SignalRecorder::signalsNamed(*db, names, &unknown);
    if (!unknown.isEmpty()) {
        Cli::err(QStringLiteral("Unbekannte Signale (nicht in %1 oder nicht darstellbar): %2")
                     .arg(symPath, unknown.join(QStringLiteral(", "))));
        return Cli::Failed;
    }

    TraceModel model;
    QString error;
    int count = 0;
    // By the ending; a file without a known ending by its content.
    TraceFile::Format format = TraceFile::Format::Trc;
    TraceFile::LoadResult result;
    if (!TraceFile::formatOfFile(in, &format, &error) || !model.load(in, format, &error, &count, {}, &result)) {
        Cli::err(error);
        return Cli::Failed;
    }

    SignalRecorder recorder;
    recorder.setMaxPoints(INT_MAX);   // every point is kept
    recorder.setSymbols(db);
    for (const PlotSignalRef &ref : refs)
        recorder.add(ref);
    model.forEachBatch(65536, [&recorder](const QList<CanFrame> &frames) { recorder.handleFrames(frames); });
    const int rows = model.rowCount();

    if (!out.isEmpty()) {
        bool written = false;
        if (isPng(out)) {
            written = windowed ? writePng(recorder, in, out, std::max(from, 0.0), std::min(to, recorder.latest()))
                               : writePng(recorder, in, out, 1.0, 0.0);
        } else {
            PlotCsv::Options csv;
            if (windowed) {
                csv.from = from;
                csv.to = to;
            }
            written = PlotCsv::writeFile(recorder, out, csv, &error);
            if (!written)
                Cli::err(error);
        }
        if (!written)
            return Cli::Failed;
    }
    qint64 points = 0;
    for (const SignalRecorder::Trace &trace : recorder.traces())
        points += trace.points.size();
    Cli::out(QStringLiteral("%1 Nachrichten, %2 Werte").arg(rows).arg(points));
    if (!result.notice().isEmpty())
        Cli::out(result.notice());
    if (stats)
        printStats(recorder, from, to);
    return Cli::Ok;
}

const CliCommand command("plot", PlotUsage, runPlot, PlotRender::createApplication);

} // namespace
