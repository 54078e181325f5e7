#pragma once

#include "canframe.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class SymbolDatabase;

// One numbered entry of a trace, as a file holds it.
struct TraceEntry
{
    quint64 number = 0;
    CanFrame frame;
};

// Loading and saving traces in every format the program knows. A reader
// hands its entries to a Sink in file order; a writer takes them from a
// Source, oldest first. Which format a file has is decided by its ending
// (any case) and, for a file without a known ending, by its content.
namespace TraceFile {

enum class Format { Trc, Csv, Asc, Blf, Log };

// Bytes read so far and the file size; returning false cancels the load.
using Progress = std::function<bool(qint64 done, qint64 total)>;

class Sink
{
public:
    virtual ~Sink() = default;
    virtual void add(const TraceEntry &entry) = 0;
};

class Source
{
public:
    virtual ~Source() = default;
    // Calls visit for each entry, oldest first.
    virtual void forEach(const std::function<void(const TraceEntry &)> &visit) const = 0;

    QDateTime startTime;  // invalid: the time of saving
    qint64 startUs = 0;   // time stamp that is offset 0 in the file
    std::shared_ptr<const SymbolDatabase> symbols;
};

struct LoadResult
{
    qint64 count = 0;
    qint64 unrecognised = 0;
    qint64 skippedFd = 0;     // CAN FD frames with more than 8 bytes
    qint64 skippedOther = 0;  // objects and events that are no CAN frame
    qint64 damagedAt = -1;    // byte offset where a binary file stopped being readable
    QDateTime startTime;      // invalid when the file names none

    // What the load message adds: "3 CAN-FD-Nachrichten übersprungen"; empty when nothing was left out.
    QString notice() const;
};

struct SaveResult
{
    qint64 count = 0;
    qint64 droppedStatus = 0;  // status entries the format cannot hold

    // What the save message adds; empty when nothing was left out.
    QString notice() const;
};

bool load(const QString &path, Format format, Sink &sink, LoadResult *result, QString *error,
          const Progress &progress = Progress());
bool save(const QString &path, Format format, const Source &source, QString *error, SaveResult *result = nullptr);

// The format of a known ending, any case; false for another ending.
bool formatOfPath(const QString &path, Format *format);
// The format whose first bytes these are; false when none fits.
bool formatOfContent(const QByteArray &head, Format *format);
// Ending first, then content; false with a message when neither says.
bool formatOfFile(const QString &path, Format *format, QString *error);

QString ending(Format format);  // without the dot: "trc"

// File dialog filters: one per format ("PCAN-Trace (*.trc)"); for loading
// "Alle Trace-Dateien" in front.
QString filter(Format format);
QString saveFilters();
QString loadFilters();
// The format a dialog's filter names; false for "Alle Trace-Dateien".
bool formatOfFilter(const QString &filter, Format *format);
// The format to save *path in, chosen with the dialog's filter: the filter's
// format, or the name's known ending while the first (default) filter is
// selected. A name without ending gets the ending of that format.
Format formatForSaving(QString *path, const QString &selectedFilter);

} // namespace TraceFile
