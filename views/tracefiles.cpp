// The trace model's file operations: PCAN trace (.trc) and CSV.
#include "tracemodel.h"

#include "traceline.h"
#include "symbolfile.h"

#include <QFile>
#include <QHash>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr qint64 ReadChunk = 4 << 20;
constexpr qsizetype WriteChunk = 1 << 20;

// Calls line(begin, end) for each line of [start, end), without its line
// end ("\n" or "\r\n"); line() returns false to stop. Only when atEnd may the
// last line lack its line end; otherwise *rest is where the unfinished one begins.
template <typename Line>
bool forEachLineIn(const char *start, const char *end, bool atEnd, const char **rest, Line &line)
{
    while (const char *newline = static_cast<const char *>(std::memchr(start, '\n', size_t(end - start)))) {
        const char *lineEnd = newline > start && newline[-1] == '\r' ? newline - 1 : newline;
        if (!line(start, lineEnd))
            return false;
        start = newline + 1;
    }
    if (atEnd && start < end) {
        const char *lineEnd = end[-1] == '\r' ? end - 1 : end;
        if (!line(start, lineEnd))
            return false;
        start = end;
    }
    *rest = start;
    return true;
}

bool cancelled(const TraceModel::Progress &progress, qint64 done, qint64 total, QString *error)
{
    if (!progress || progress(done, total))
        return false;
    if (error)
        *error = TraceModel::tr("Laden abgebrochen.");
    return true;
}

// A mapped file is read in place; progress is reported per chunk.
template <typename Line>
bool forEachMappedLine(const char *data, qint64 size, const TraceModel::Progress &progress, QString *error,
                       Line &line)
{
    const char *start = data;
    const char *end = data + size;
    if (size >= 3 && std::memcmp(start, "\xEF\xBB\xBF", 3) == 0)
        start += 3;
    while (start < end) {
        // Chunk boundary just behind a line end, so no line is split.
        const char *limit = end - start > ReadChunk ? start + ReadChunk : end;
        if (limit < end) {
            const char *newline = static_cast<const char *>(std::memchr(limit, '\n', size_t(end - limit)));
            limit = newline ? newline + 1 : end;
        }
        const char *rest = nullptr;
        if (!forEachLineIn(start, limit, limit == end, &rest, line))
            return false;
        start = limit;
        if (start < end && cancelled(progress, start - data, size, error))
            return false;
    }
    return true;
}

// Each line of the file, without a leading UTF-8 byte-order mark; progress
// is reported, and may cancel, once per chunk.
template <typename Line>
bool forEachLine(QFile &file, const TraceModel::Progress &progress, QString *error, Line &&line)
{
    const qint64 total = file.size();
    if (total > 0) {
        if (uchar *mapped = file.map(0, total)) {
            const bool ok = forEachMappedLine(reinterpret_cast<const char *>(mapped), total, progress, error, line);
            file.unmap(mapped);
            return ok;
        }
    }
    // Not mappable (a pipe, a special file): read it in chunks.
    qint64 done = 0;
    std::vector<char> buffer;
    size_t held = 0;
    bool first = true;
    for (;;) {
        if (buffer.size() < held + size_t(ReadChunk))
            buffer.resize(std::max(buffer.size() * 2, held + size_t(ReadChunk)));
        const qint64 got = file.read(buffer.data() + held, ReadChunk);
        if (got < 0) {
            if (error)
                *error = file.errorString();
            return false;
        }
        done += got;
        held += size_t(got);
        const char *start = buffer.data();
        const char *end = start + held;
        if (first && held >= 3 && std::memcmp(start, "\xEF\xBB\xBF", 3) == 0)
            start += 3;
        first = false;
        if (!forEachLineIn(start, end, got == 0, &start, line))
            return false;
        if (got == 0)
            return true;
        held = size_t(end - start);
        std::memmove(buffer.data(), start, held);
        if (cancelled(progress, done, total, error))
            return false;
    }
}

bool startsWith(const char *b, const char *e, const char *literal)
{
    const size_t n = std::strlen(literal);
    return size_t(e - b) >= n && std::memcmp(b, literal, n) == 0;
}

// OLE dates count wall-clock days from 30 December 1899, so both ends are
// taken as wall time of the same zone (no historic offset changes).
const QDateTime &oleEpoch()
{
    static const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
    return epoch;
}

QDateTime startTimeFromOle(double days, bool *ok)
{
    const double ms = days * 86400000.0 + 0.5;
    *ok = std::isfinite(ms) && std::fabs(ms) < 1e15;
    if (!*ok)
        return QDateTime();
    const QDateTime wall = oleEpoch().addMSecs(qint64(ms));
    return QDateTime(wall.date(), wall.time(), Qt::LocalTime);
}

double oleFromStartTime(const QDateTime &time)
{
    const QDateTime wall(time.date(), time.time(), Qt::UTC);
    return double(oleEpoch().msecsTo(wall)) / 86400000.0;
}

bool failWrite(QSaveFile &file, QString *error)
{
    file.cancelWriting();
    if (error)
        *error = TraceModel::tr("Schreibfehler");
    return false;
}

bool flush(QSaveFile &file, QByteArray &out)
{
    const bool ok = file.write(out) == out.size();
    out.resize(0);  // keeps the capacity, unlike clear()
    return ok;
}

// timestampUs - startUs, held at the ends of the range instead of wrapping.
qint64 offsetUs(qint64 timestampUs, qint64 startUs)
{
    qint64 offset = 0;
    if (__builtin_sub_overflow(timestampUs, startUs, &offset))
        return timestampUs < startUs ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
    return offset;
}

} // namespace

template <typename WriteLine>
bool TraceModel::saveFile(const QString &path, const QByteArray &header, QString *error, WriteLine &&writeLine) const
{
    // QSaveFile: the file being replaced survives any failure.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    QByteArray out;
    out.reserve(WriteChunk + 4096);
    out += header;
    for (const Stored &stored : m_entries) {
        const CanFrame frame = unpack(stored);
        writeLine(out, stored.number, frame, offsetUs(frame.timestampUs, m_startUs));
        if (out.size() >= WriteChunk && !flush(file, out))
            return failWrite(file, error);
    }
    if (!flush(file, out) || !file.commit())
        return failWrite(file, error);
    return true;
}

template <typename ReadLine>
bool TraceModel::loadFile(const QString &path, const char *header, const QDateTime &startTime, QString *error,
                          int *count, const Progress &progress, ReadLine &&readLine)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    std::deque<Stored> entries;
    qint64 unrecognised = 0;
    bool headerPending = header != nullptr;
    QString failure;
    Entry entry;

    const bool read = forEachLine(file, progress, &failure, [&](const char *b, const char *e) {
        if (headerPending) {
            headerPending = !startsWith(b, e, header);
            return !headerPending;
        }
        TraceLine::Result result = TraceLine::Result::Empty;
        if (!readLine(b, e, &entry, &result, &failure))
            return false;
        if (result == TraceLine::Result::Entry)
            entries.push_back(pack(entry.number, entry.frame));
        else if (result == TraceLine::Result::Unrecognised)
            ++unrecognised;
        return true;
    });
    // Only the CSV format has a header; a file without it, even an empty
    // one, is not one of ours.
    if (headerPending && failure.isEmpty())
        failure = tr("Das ist keine mit Busvista gespeicherte CSV-Datei.");
    if (!read || headerPending) {
        if (error)
            *error = failure;
        return false;
    }
    if (entries.empty()) {
        if (error)
            *error = unrecognised > 0
                ? tr("Die Datei enthält keine lesbaren Nachrichten (%1 Zeilen nicht erkannt).").arg(unrecognised)
                : tr("Die Datei enthält keine Nachrichten.");
        return false;
    }
    if (count)
        *count = int(entries.size());
    replaceStored(std::move(entries), startTime);
    return true;
}

bool TraceModel::saveTrc(const QString &path, QString *error) const
{
    const QDateTime start = m_startTime.isValid() ? m_startTime : QDateTime::currentDateTime();
    QByteArray header;
    header += ";$FILEVERSION=1.1\n";
    header += ";$STARTTIME=" + QByteArray::number(oleFromStartTime(start), 'f', 10) + '\n';
    header += ";\n";
    header += ";   Start time: " + start.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss.zzz")).toUtf8() + '\n';
    header += ";   Generated by Busvista\n"
              ";-------------------------------------------------------------------------------\n"
              ";   Message Number\n"
              ";   |         Time Offset (ms)\n"
              ";   |         |        Type\n"
              ";   |         |        |        ID (hex)\n"
              ";   |         |        |        |     Data Length\n"
              ";   |         |        |        |     |   Data Bytes (hex) ...\n"
              ";   |         |        |        |     |   |\n"
              ";---+--   ----+----  --+--  ----+---  +  -+ -- -- -- -- -- -- --\n";
    return saveFile(path, header, error, &TraceLine::appendTrc);
}

bool TraceModel::saveCsv(const QString &path, QString *error) const
{
    // A ";" in a symbol name would shift the columns that the reader relies
    // on; it is written as ",". Line ends would split the line.
    QHash<const SymMessage *, QByteArray> names;
    const QByteArray none;
    return saveFile(path, QByteArrayLiteral("Nr;Zeit_ms;Richtung;ID;Symbol;Typ;DLC;Daten;Signale\n"), error,
                    [&](QByteArray &out, quint64 number, const CanFrame &frame, qint64 offset) {
                        const SymMessage *message = m_symbols ? m_symbols->find(frame) : nullptr;
                        if (!message) {
                            TraceLine::appendCsv(out, number, frame, offset, none, none);
                            return;
                        }
                        auto name = names.find(message);
                        if (name == names.end()) {
                            QString text = message->displayName();
                            text.replace(QLatin1Char(';'), QLatin1Char(','));
                            text.replace(QLatin1Char('\r'), QLatin1Char(' '));
                            text.replace(QLatin1Char('\n'), QLatin1Char(' '));
                            name = names.insert(message, text.toUtf8());
                        }
                        QString signalText = m_symbols->decodeText(frame);
                        signalText.replace(QLatin1Char('\r'), QLatin1Char(' '));
                        signalText.replace(QLatin1Char('\n'), QLatin1Char(' '));
                        TraceLine::appendCsv(out, number, frame, offset, name.value(), signalText.toUtf8());
                    });
}

bool TraceModel::loadTrc(const QString &path, QString *error, int *count, const Progress &progress)
{
    QDateTime start;
    // A file without a version line is read as version 1.0.
    TraceLine::TrcLayout layout = TraceLine::TrcLayout::V10;
    return loadFile(path, nullptr, start, error, count, progress,
                    [&](const char *b, const char *e, Entry *entry, TraceLine::Result *result, QString *failure) {
                        if (b == e || *b != ';') {
                            *result = TraceLine::readTrc(b, e, layout, entry);
                            return true;
                        }
                        if (startsWith(b, e, ";$FILEVERSION=")) {
                            const QString version = QString::fromUtf8(b + 14, e - b - 14).trimmed();
                            bool ok = false;
                            if (version.section(QLatin1Char('.'), 0, 0).toInt(&ok) != 1 || !ok) {
                                *failure = tr("Dieses PCAN-Trace-Format (Version %1) wird nicht unterstützt.").arg(version);
                                return false;
                            }
                            const QString minor = version.section(QLatin1Char('.'), 1, 1);
                            const bool zero = minor.isEmpty() || (minor.toInt(&ok) == 0 && ok);
                            layout = zero ? TraceLine::TrcLayout::V10 : TraceLine::TrcLayout::V11;
                        } else if (startsWith(b, e, ";$STARTTIME=")) {
                            bool ok = false;
                            const double days = QString::fromUtf8(b + 12, e - b - 12).trimmed().toDouble(&ok);
                            if (ok) {
                                const QDateTime time = startTimeFromOle(days, &ok);
                                if (ok)
                                    start = time;
                            }
                        }
                        return true;  // a comment never counts as unrecognised
                    });
}

bool TraceModel::loadCsv(const QString &path, QString *error, int *count, const Progress &progress)
{
    return loadFile(path, "Nr;Zeit_ms;", QDateTime(), error, count, progress,
                    [](const char *b, const char *e, Entry *entry, TraceLine::Result *result, QString *) {
                        *result = TraceLine::readCsv(b, e, entry);
                        return true;
                    });
}
