// The load and save frame every trace format shares, and the choice of the
// format by ending or content.
#include "traceformat.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace TraceFile {

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

bool cancelled(const Progress &progress, qint64 done, qint64 total, QString *error)
{
    if (!progress || progress(done, total))
        return false;
    if (error)
        *error = tr("Laden abgebrochen.");
    return true;
}

// A mapped file is read in place; progress is reported per chunk.
template <typename Line>
bool forEachMappedLine(const char *data, qint64 size, const Progress &progress, QString *error, Line &line)
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
bool forEachLine(QFile &file, const Progress &progress, QString *error, Line &&line)
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

// timestampUs - startUs, held at the ends of the range instead of wrapping.
qint64 offsetUs(qint64 timestampUs, qint64 startUs)
{
    qint64 offset = 0;
    if (__builtin_sub_overflow(timestampUs, startUs, &offset))
        return timestampUs < startUs ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
    return offset;
}

bool flush(QIODevice &file, QByteArray &out)
{
    const bool ok = file.write(out) == out.size();
    out.resize(0);  // keeps the capacity, unlike clear()
    return ok;
}

// The entries of a source that the format can hold, counted.
class WritableEntries : public Source
{
public:
    WritableEntries(const Source &source, bool holdsStatus) : m_source(source), m_holdsStatus(holdsStatus)
    {
        startTime = source.startTime;
        startUs = source.startUs;
        symbols = source.symbols;
    }
    void forEach(const std::function<void(const TraceEntry &)> &visit) const override
    {
        m_source.forEach([&](const TraceEntry &entry) {
            if (entry.frame.status && !m_holdsStatus) {
                ++droppedStatus;
                return;
            }
            ++count;
            visit(entry);
        });
    }
    mutable qint64 count = 0;
    mutable qint64 droppedStatus = 0;

private:
    const Source &m_source;
    const bool m_holdsStatus;
};

class CountingSink : public Sink
{
public:
    explicit CountingSink(Sink &sink) : m_sink(sink) {}
    void add(const TraceEntry &entry) override
    {
        ++count;
        m_sink.add(entry);
    }
    qint64 count = 0;

private:
    Sink &m_sink;
};

std::unique_ptr<Reader> makeReader(Format format)
{
    switch (format) {
    case Format::Trc: return makeTrcReader();
    case Format::Csv: return makeCsvReader();
    case Format::Asc: return makeAscReader();
    case Format::Blf: return makeBlfReader();
    case Format::Log: return makeLogReader();
    }
    return nullptr;
}

std::unique_ptr<Writer> makeWriter(Format format)
{
    switch (format) {
    case Format::Trc: return makeTrcWriter();
    case Format::Csv: return makeCsvWriter();
    case Format::Asc: return makeAscWriter();
    case Format::Blf: return makeBlfWriter();
    case Format::Log: return makeLogWriter();
    }
    return nullptr;
}

struct Known
{
    Format format;
    const char *ending;
    const char *name;  // of the dialog filter
};
// In the order of the dialogs' filters.
constexpr Known known[] = {{Format::Trc, "trc", QT_TRANSLATE_NOOP("TraceFile", "PCAN-Trace")},
                           {Format::Csv, "csv", QT_TRANSLATE_NOOP("TraceFile", "CSV")},
                           {Format::Asc, "asc", QT_TRANSLATE_NOOP("TraceFile", "Vector ASC")},
                           {Format::Blf, "blf", QT_TRANSLATE_NOOP("TraceFile", "Vector BLF")},
                           {Format::Log, "log", QT_TRANSLATE_NOOP("TraceFile", "candump-Log")}};

} // namespace

QString tr(const char *text)
{
    return QCoreApplication::translate("TraceFile", text);
}

bool startsWith(const char *b, const char *e, const char *literal)
{
    const size_t n = std::strlen(literal);
    return size_t(e - b) >= n && std::memcmp(b, literal, n) == 0;
}

bool LineReader::read(QFile &file, Sink &sink, LoadResult *result, const Progress &progress, QString *error)
{
    return forEachLine(file, progress, error,
                       [&](const char *b, const char *e) { return line(b, e, sink, result, error); })
        && finish(result, error);
}

bool LineWriter::write(QIODevice &file, const Source &source)
{
    QByteArray out;
    out.reserve(WriteChunk + 4096);
    header(out, source);
    bool ok = true;
    source.forEach([&](const TraceEntry &e) {
        if (!ok)
            return;
        entry(out, e, offsetUs(e.frame.timestampUs, source.startUs));
        if (out.size() >= WriteChunk)
            ok = flush(file, out);
    });
    footer(out);
    return ok && flush(file, out);
}

WholeFile::~WholeFile()
{
    if (m_mapped)
        m_file->unmap(m_mapped);
}

bool WholeFile::open(QFile &file, QString *error)
{
    m_file = &file;
    const qint64 total = file.size();
    if (total > 0 && (m_mapped = file.map(0, total))) {
        m_data = m_mapped;
        m_size = total;
        return true;
    }
    // Not mappable (a pipe, a special file): read it whole.
    m_read = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    m_data = reinterpret_cast<const uchar *>(m_read.constData());
    m_size = m_read.size();
    return true;
}

QDateTime wallClockTime(const QDate &date, const QTime &time)
{
    const QDateTime local(date, time, Qt::LocalTime);
    if (local.isValid())
        return local;
    const int offset = QDateTime(date.addDays(-1), time, Qt::LocalTime).offsetFromUtc();
    return QDateTime(date, time, Qt::OffsetFromUTC, offset);
}

QString LoadResult::notice() const
{
    QStringList parts;
    if (skippedFd > 0)
        parts.append(tr("%1 CAN-FD-Nachrichten übersprungen").arg(skippedFd));
    if (skippedOther > 0)
        parts.append(tr("%1 andere Einträge übersprungen").arg(skippedOther));
    if (damagedAt >= 0)
        parts.append(tr("Datei ab Byte %1 beschädigt, der Rest wurde nicht gelesen").arg(damagedAt));
    return parts.join(QStringLiteral(", "));
}

bool load(const QString &path, Format format, Sink &sink, LoadResult *result, QString *error,
          const Progress &progress)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    LoadResult local;
    CountingSink counting(sink);
    QString failure;
    if (!makeReader(format)->read(file, counting, &local, progress, &failure)) {
        if (error)
            *error = failure;
        return false;
    }
    local.count = counting.count;
    if (local.count == 0) {
        if (error) {
            *error = local.unrecognised > 0
                ? tr("Die Datei enthält keine lesbaren Nachrichten (%1 Zeilen nicht erkannt).").arg(local.unrecognised)
                : tr("Die Datei enthält keine Nachrichten.");
            const QString notice = local.notice();
            if (!notice.isEmpty())
                *error += QLatin1Char(' ') + notice + QLatin1Char('.');
        }
        return false;
    }
    if (result)
        *result = local;
    return true;
}

QString SaveResult::notice() const
{
    return droppedStatus > 0 ? tr("%1 Statuseinträge nicht gespeichert (im Format nicht darstellbar)").arg(droppedStatus)
                             : QString();
}

bool save(const QString &path, Format format, const Source &source, QString *error, SaveResult *result)
{
    // QSaveFile: the file being replaced survives any failure.
    const std::unique_ptr<Writer> writer = makeWriter(format);
    QSaveFile file(path);
    if (!file.open(writer->text() ? QIODevice::WriteOnly | QIODevice::Text : QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const WritableEntries entries(source, writer->holdsStatus());
    if (!writer->write(file, entries) || !file.commit()) {
        file.cancelWriting();
        if (error)
            *error = tr("Schreibfehler");
        return false;
    }
    if (result) {
        result->count = entries.count;
        result->droppedStatus = entries.droppedStatus;
    }
    return true;
}

bool formatOfPath(const QString &path, Format *format)
{
    const QString suffix = QFileInfo(path).suffix();
    for (const Known &k : known) {
        if (suffix.compare(QLatin1String(k.ending), Qt::CaseInsensitive) == 0) {
            *format = k.format;
            return true;
        }
    }
    return false;
}

bool formatOfContent(const QByteArray &head, Format *format)
{
    QByteArrayView text(head);
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    if (text.startsWith("Nr;Zeit_ms;")) {
        *format = Format::Csv;
        return true;
    }
    if (text.startsWith("LOGG")) {
        *format = Format::Blf;
        return true;
    }
    // A PCAN trace opens with its comment header or, without one, with a
    // numbered line "   1)  ...".
    const qsizetype newline = text.indexOf('\n');
    const QByteArrayView first = (newline < 0 ? text : text.first(newline)).trimmed();
    qsizetype digits = 0;
    while (digits < first.size() && first[digits] >= '0' && first[digits] <= '9')
        ++digits;
    if (first.startsWith(';') || (digits > 0 && digits < first.size() && first[digits] == ')')) {
        *format = Format::Trc;
        return true;
    }
    const auto lower = QByteArray(first.data(), first.size()).toLower();
    if (lower.startsWith("date ") || lower.startsWith("base ") || lower.startsWith("begin triggerblock")) {
        *format = Format::Asc;
        return true;
    }
    if (first.startsWith('(') && first.indexOf(')') > 1 && first.indexOf('#') > 0) {
        *format = Format::Log;
        return true;
    }
    return false;
}

bool formatOfFile(const QString &path, Format *format, QString *error)
{
    if (formatOfPath(path, format))
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    if (formatOfContent(file.read(4096), format))
        return true;
    if (error)
        *error = tr("Das Format der Datei ist nicht bekannt.");
    return false;
}

QString ending(Format format)
{
    for (const Known &k : known) {
        if (k.format == format)
            return QLatin1String(k.ending);
    }
    return QString();
}

QString filter(Format format)
{
    for (const Known &k : known) {
        if (k.format == format)
            return QStringLiteral("%1 (*.%2)").arg(tr(k.name), QLatin1String(k.ending));
    }
    return QString();
}

QString saveFilters()
{
    QStringList filters;
    for (const Known &k : known)
        filters.append(filter(k.format));
    return filters.join(QStringLiteral(";;"));
}

QString loadFilters()
{
    QStringList patterns;
    for (const Known &k : known)
        patterns.append(QStringLiteral("*.") + QLatin1String(k.ending));
    return tr("Alle Trace-Dateien (%1)").arg(patterns.join(QLatin1Char(' '))) + QStringLiteral(";;") + saveFilters();
}

bool formatOfFilter(const QString &text, Format *format)
{
    for (const Known &k : known) {
        if (text == filter(k.format)) {
            *format = k.format;
            return true;
        }
    }
    return false;
}

Format formatForSaving(QString *path, const QString &selectedFilter)
{
    Format format = known[0].format;
    const bool byFilter = formatOfFilter(selectedFilter, &format) && format != known[0].format;
    if (!byFilter)
        formatOfPath(*path, &format);
    // A name without ending would later be read by its content alone.
    if (QFileInfo(*path).suffix().isEmpty())
        *path += QLatin1Char('.') + ending(format);
    return format;
}

} // namespace TraceFile
