#include "plotcsv.h"

#include "signalrecorder.h"

#include <QDir>
#include <QSaveFile>

#include <charconv>

namespace PlotCsv {

namespace {

void appendNumber(QByteArray &out, double value, bool fixedSix)
{
    char buffer[64];
    const std::to_chars_result result = fixedSix
        ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6)
        : std::to_chars(buffer, buffer + sizeof buffer, value);   // shortest text that reads back exactly
    if (result.ec == std::errc())
        out.append(buffer, int(result.ptr - buffer));
    else   // beyond 64 characters in fixed notation: the shortest form
        out.append(QByteArray::number(value, 'g', 17));
}

bool flush(QIODevice *device, QByteArray &chunk, QString *error)
{
    if (device->write(chunk) != chunk.size()) {
        if (error)
            *error = QStringLiteral("Schreiben fehlgeschlagen: %1").arg(device->errorString());
        return false;
    }
    chunk.clear();
    return true;
}

} // namespace

bool write(const SignalRecorder &recorder, QIODevice *device, const Options &options, QString *error)
{
    const QList<SignalRecorder::Trace> &traces = recorder.traces();
    QList<int> order = options.traces;
    if (order.isEmpty()) {
        for (int i = 0; i < traces.size(); ++i)
            order.append(i);
    }
    const bool all = options.from > options.to;
    QByteArray chunk = "time_s;signal;value\n";
    for (int index : std::as_const(order)) {
        if (index < 0 || index >= traces.size())
            continue;
        const SignalRecorder::Trace &trace = traces.at(index);
        const QByteArray name = trace.ref.displayName().toUtf8();
        int first = 0;
        int last = int(trace.points.size());
        if (!all) {
            // The range search takes one neighbour on each side: drop those.
            const auto range = SignalRecorder::visibleRange(trace, options.from, options.to);
            first = range.first;
            last = range.second;
        }
        for (int i = first; i < last; ++i) {
            const QPointF &point = trace.points.at(i);
            if (!all && (point.x() < options.from || point.x() > options.to))
                continue;
            appendNumber(chunk, point.x() + options.timeOffset, true);
            chunk.append(';');
            chunk.append(name);
            chunk.append(';');
            appendNumber(chunk, point.y(), false);
            chunk.append('\n');
            if (chunk.size() > (1 << 20) && !flush(device, chunk, error))
                return false;
        }
    }
    return flush(device, chunk, error);
}

bool writeFile(const SignalRecorder &recorder, const QString &path, const Options &options, QString *error)
{
    QSaveFile file(path);
    QString reason;
    if (!file.open(QIODevice::WriteOnly))
        reason = file.errorString();
    else if (!write(recorder, &file, options, &reason))
        file.cancelWriting();
    else if (!file.commit())
        reason = file.errorString();
    if (reason.isEmpty())
        return true;
    if (error)
        *error = QStringLiteral("Datei kann nicht geschrieben werden: %1 (%2)").arg(QDir::toNativeSeparators(path), reason);
    return false;
}

} // namespace PlotCsv
