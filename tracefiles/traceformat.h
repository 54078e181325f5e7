#pragma once

#include "tracefile.h"

#include <QByteArray>
#include <QFile>

#include <memory>

class QIODevice;

// The one small interface behind TraceFile::load and save: each format is a
// Reader and, where it can be written, a Writer. Text formats derive from
// LineReader and LineWriter, which share the line walker and the chunked
// output; a binary format reads and writes the file as a whole.
namespace TraceFile {

class Reader
{
public:
    virtual ~Reader() = default;
    // False with *error when the file is not readable as this format or the
    // load was cancelled; what went to the sink is then thrown away.
    virtual bool read(QFile &file, Sink &sink, LoadResult *result, const Progress &progress, QString *error) = 0;
};

class Writer
{
public:
    virtual ~Writer() = default;
    // Text formats are written with the platform's line ends.
    virtual bool text() const { return false; }
    // Formats of bus logs have no place for the driver's status entries;
    // the save leaves them out and says how many.
    virtual bool holdsStatus() const { return false; }
    // False on a write error.
    virtual bool write(QIODevice &out, const Source &source) = 0;
};

class LineReader : public Reader
{
public:
    bool read(QFile &file, Sink &sink, LoadResult *result, const Progress &progress, QString *error) final;

protected:
    // One line without its line end; false stops the load with *error.
    virtual bool line(const char *begin, const char *end, Sink &sink, LoadResult *result, QString *error) = 0;
    // After the last line; false with *error for a file that is not of this format.
    virtual bool finish(LoadResult *, QString *) { return true; }
};

class LineWriter : public Writer
{
public:
    bool text() const final { return true; }
    bool write(QIODevice &out, const Source &source) final;

protected:
    virtual void header(QByteArray &, const Source &) {}
    // offsetUs is timestampUs - startUs, held at the ends of the range.
    virtual void entry(QByteArray &out, const TraceEntry &entry, qint64 offsetUs) = 0;
    virtual void footer(QByteArray &) {}
};

// The whole file in memory: mapped where the file allows it, else read.
class WholeFile
{
public:
    WholeFile() = default;
    WholeFile(const WholeFile &) = delete;
    WholeFile &operator=(const WholeFile &) = delete;
    ~WholeFile();
    bool open(QFile &file, QString *error);
    const uchar *data() const { return m_data; }
    qint64 size() const { return m_size; }

private:
    QFile *m_file = nullptr;
    uchar *m_mapped = nullptr;
    QByteArray m_read;
    const uchar *m_data = nullptr;
    qint64 m_size = 0;
};

// A wall-clock time of the local zone. One inside a daylight-saving gap
// names no instant; it keeps its date and time with the offset in force the
// day before, so that it is written back as it was read.
QDateTime wallClockTime(const QDate &date, const QTime &time);

// The message of a reader, in the context of the trace files.
QString tr(const char *text);

std::unique_ptr<Reader> makeTrcReader();
std::unique_ptr<Writer> makeTrcWriter();
std::unique_ptr<Reader> makeCsvReader();
std::unique_ptr<Writer> makeCsvWriter();
std::unique_ptr<Reader> makeAscReader();
std::unique_ptr<Writer> makeAscWriter();
std::unique_ptr<Reader> makeBlfReader();
std::unique_ptr<Writer> makeBlfWriter();
std::unique_ptr<Reader> makeLogReader();
std::unique_ptr<Writer> makeLogWriter();

bool startsWith(const char *begin, const char *end, const char *literal);

} // namespace TraceFile
