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
#include <vector>

namespace {

constexpr qint64 ReadChunk = 4 << 20;
constexpr qsizetype WriteChunk = 1 << 20;

// Calls line(begin, end) for each line of the file, without its line end
// ("\n" or "\r\n") and without a leading UTF-8 byte-order mark. line()
// returns false to stop. Reports progress once per chunk.
// Lines of [begin, end); the last one may lack its line end.
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

} // namespace

bool TraceModel::saveTrc(const QString &path, QString *error) const
{
    // QSaveFile: the file being replaced survives any failure.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QDateTime start = m_startTime.isValid() ? m_startTime : QDateTime::currentDateTime();
    QByteArray out;
    out.reserve(WriteChunk + 4096);
    out += ";$FILEVERSION=1.1\n";
    out += ";$STARTTIME=" + QByteArray::number(oleFromStartTime(start), 'f', 10) + '\n';
    out += ";\n";
    out += ";   Start time: " + start.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss.zzz")).toUtf8() + '\n';
    out += ";   Generated by Busvista\n"
           ";-------------------------------------------------------------------------------\n"
           ";   Message Number\n"
           ";   |         Time Offset (ms)\n"
           ";   |         |        Type\n"
           ";   |         |        |        ID (hex)\n"
           ";   |         |        |        |     Data Length\n"
           ";   |         |        |        |     |   Data Bytes (hex) ...\n"
           ";   |         |        |        |     |   |\n"
           ";---+--   ----+----  --+--  ----+---  +  -+ -- -- -- -- -- -- --\n";

    for (const Stored &stored : m_entries) {
        const CanFrame frame = unpack(stored);
        qint64 offsetUs = 0;
        if (__builtin_sub_overflow(frame.timestampUs, m_startUs, &offsetUs))
            offsetUs = frame.timestampUs < m_startUs ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
        TraceLine::appendTrc(out, stored.number, frame, offsetUs);
        if (out.size() >= WriteChunk && !flush(file, out))
            return failWrite(file, error);
    }
    if (!flush(file, out) || !file.commit())
        return failWrite(file, error);
    return true;
}

bool TraceModel::saveCsv(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    QByteArray out;
    out.reserve(WriteChunk + 4096);
    out += "Nr;Zeit_ms;Richtung;ID;Symbol;Typ;DLC;Daten;Signale\n";

    // A ";" in a symbol name would shift the columns that the reader relies
    // on; it is written as ",". Line ends would split the line.
    QHash<const SymMessage *, QByteArray> names;
    const QByteArray none;
    for (const Stored &stored : m_entries) {
        const CanFrame frame = unpack(stored);
        qint64 offsetUs = 0;
        if (__builtin_sub_overflow(frame.timestampUs, m_startUs, &offsetUs))
            offsetUs = frame.timestampUs < m_startUs ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
        const SymMessage *message = m_symbols ? m_symbols->find(frame) : nullptr;
        if (!message) {
            TraceLine::appendCsv(out, stored.number, frame, offsetUs, none, none);
        } else {
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
            TraceLine::appendCsv(out, stored.number, frame, offsetUs, name.value(), signalText.toUtf8());
        }
        if (out.size() >= WriteChunk && !flush(file, out))
            return failWrite(file, error);
    }
    if (!flush(file, out) || !file.commit())
        return failWrite(file, error);
    return true;
}

bool TraceModel::loadTrc(const QString &path, QString *error, int *count, const Progress &progress)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    std::deque<Stored> entries;
    QDateTime start;
    qint64 unrecognised = 0;
    // A file without a version line is read as version 1.0.
    TraceLine::TrcLayout layout = TraceLine::TrcLayout::V10;
    QString failure;
    Entry entry;

    const bool read = forEachLine(file, progress, &failure, [&](const char *b, const char *e) {
        if (b < e && *b == ';') {
            if (startsWith(b, e, ";$FILEVERSION=")) {
                const QString version = QString::fromUtf8(b + 14, e - b - 14).trimmed();
                bool ok = false;
                if (version.section(QLatin1Char('.'), 0, 0).toInt(&ok) != 1 || !ok) {
                    failure = tr("Dieses PCAN-Trace-Format (Version %1) wird nicht unterstützt.").arg(version);
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
            return true;
        }
        switch (TraceLine::readTrc(b, e, layout, &entry)) {
        case TraceLine::Result::Entry:
            entries.push_back(pack(entry.number, entry.frame));
            break;
        case TraceLine::Result::Unrecognised:
            ++unrecognised;
            break;
        case TraceLine::Result::Empty:
            break;
        }
        return true;
    });
    if (!read) {
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
    replaceStored(std::move(entries), start);
    return true;
}

bool TraceModel::loadCsv(const QString &path, QString *error, int *count, const Progress &progress)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    std::deque<Stored> entries;
    qint64 unrecognised = 0;
    bool header = true;
    QString failure;
    Entry entry;

    const bool read = forEachLine(file, progress, &failure, [&](const char *b, const char *e) {
        if (header) {
            header = false;
            if (!startsWith(b, e, "Nr;Zeit_ms;")) {
                failure = tr("Das ist keine mit Busvista gespeicherte CSV-Datei.");
                return false;
            }
            return true;
        }
        switch (TraceLine::readCsv(b, e, &entry)) {
        case TraceLine::Result::Entry:
            entries.push_back(pack(entry.number, entry.frame));
            break;
        case TraceLine::Result::Unrecognised:
            ++unrecognised;
            break;
        case TraceLine::Result::Empty:
            break;
        }
        return true;
    });
    if (read && header)
        failure = tr("Das ist keine mit Busvista gespeicherte CSV-Datei.");
    if (!read || header) {
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
    replaceStored(std::move(entries), QDateTime());
    return true;
}
