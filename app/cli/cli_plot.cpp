// busvista-cli plot: the values of named signals in a trace file, through
// SignalRecorder, as a CSV table or as the plot's picture.
#include "cli.h"

#include "plotdata.h"
#include "plotimage.h"
#include "plotrender.h"
#include "signalrecorder.h"
#include "symbolfile.h"
#include "tracemodel.h"

#include <QFileInfo>
#include <QFont>
#include <QSaveFile>

#include <charconv>
#include <climits>

namespace {

const char PlotUsage[] = "plot EINGABE --sym DATEI --signal NAME [--signal NAME ...] --out AUSGABE.csv|.png";

bool isPng(const QString &path)
{
    return path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive);
}

void appendNumber(QByteArray &out, double value, bool fixedSix)
{
    char buffer[64];
    const std::to_chars_result result = fixedSix
        ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6)
        : std::to_chars(buffer, buffer + sizeof buffer, value);   // shortest text that reads back exactly
    out.append(buffer, int(result.ptr - buffer));
}

bool writeCsv(const SignalRecorder &recorder, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        Cli::err(QStringLiteral("Datei kann nicht geschrieben werden: %1 (%2)").arg(path, file.errorString()));
        return false;
    }
    QByteArray chunk = "time_s;signal;value\n";
    for (const SignalRecorder::Trace &trace : recorder.traces()) {
        const QByteArray name = trace.ref.displayName().toUtf8();
        for (const QPointF &point : trace.points) {
            appendNumber(chunk, point.x(), true);
            chunk.append(';');
            chunk.append(name);
            chunk.append(';');
            appendNumber(chunk, point.y(), false);
            chunk.append('\n');
            if (chunk.size() > (1 << 20)) {
                file.write(chunk);
                chunk.clear();
            }
        }
    }
    file.write(chunk);
    if (!file.commit()) {
        Cli::err(QStringLiteral("Datei kann nicht geschrieben werden: %1 (%2)").arg(path, file.errorString()));
        return false;
    }
    return true;
}

bool writePng(const SignalRecorder &recorder, const QString &in, const QString &path)
{
    QString error;
    const QImage chart = PlotRender::renderChart(recorder, QSize(1200, 600), &error);
    if (chart.isNull()) {
        Cli::err(QStringLiteral("Das Diagramm konnte nicht gezeichnet werden: %1").arg(error));
        return false;
    }
    QList<PlotImage::LegendLine> legend;
    const QList<SignalRecorder::Trace> &traces = recorder.traces();
    for (int i = 0; i < traces.size(); ++i)
        legend.append({PlotData::color(i), PlotData::legendText(traces.at(i), false, nullptr)});
    const QString title = QStringLiteral("Busvista – Plotter   %1   Zeitfenster: Alles").arg(QFileInfo(in).fileName());
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
    if (symPath.isEmpty() || out.isEmpty() || names.isEmpty())
        return options.fail(QStringLiteral("--sym, --signal und --out sind nötig."));
    if (!isPng(out) && !out.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        return options.fail(QStringLiteral("Die Ausgabe muss auf .csv oder .png enden: %1").arg(out));

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
    const bool csvIn = in.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
    if (!(csvIn ? model.loadCsv(in, &error, &count) : model.loadTrc(in, &error, &count))) {
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

    if (!(isPng(out) ? writePng(recorder, in, out) : writeCsv(recorder, out)))
        return Cli::Failed;
    qint64 points = 0;
    for (const SignalRecorder::Trace &trace : recorder.traces())
        points += trace.points.size();
    Cli::out(QStringLiteral("%1 Nachrichten, %2 Werte").arg(rows).arg(points));
    return Cli::Ok;
}

const CliCommand command("plot", PlotUsage, runPlot, PlotRender::createApplication);

} // namespace
