#pragma once

#include "tracefile.h"

#include <QByteArray>
#include <QString>

// One line of a trace file, read or written. The readers come in two forms:
// the reference (the line pattern and Qt's number conversions, which define
// what a line means) and a byte scanner for the common line shapes. The
// scanner never rejects a line: when it is not sure, it says so and the
// reference decides. The loaders use read*, which combines both.
namespace TraceLine {

// Column layout of a PCAN trace: version 1.0 has no type column.
enum class TrcLayout { V10, V11 };

enum class Result { Entry, Empty, Unrecognised };

Result readTrcReference(const QString &line, TrcLayout layout, TraceEntry *entry);
Result readCsvReference(const QString &line, TraceEntry *entry);

// True when the line was read; false means "not sure", never "bad".
bool readTrcFast(const char *begin, const char *end, TrcLayout layout, TraceEntry *entry);
bool readCsvFast(const char *begin, const char *end, TraceEntry *entry);

// A line without its line end.
Result readTrc(const char *begin, const char *end, TrcLayout layout, TraceEntry *entry);
Result readCsv(const char *begin, const char *end, TraceEntry *entry);

// Append one line including "\n". offsetUs is timestampUs - startUs.
void appendTrc(QByteArray &out, quint64 number, const CanFrame &frame, qint64 offsetUs);
void appendCsv(QByteArray &out, quint64 number, const CanFrame &frame, qint64 offsetUs,
               const QByteArray &symbol, const QByteArray &signalText);

// The time offset texts with 1 (TRC) and 3 (CSV) digits after the point,
// exactly as QString::number(offsetUs / 1000.0, 'f', digits) gives them.
void appendOffset(QByteArray &out, qint64 offsetUs, int digits);

bool sameEntry(const TraceEntry &a, const TraceEntry &b);

} // namespace TraceLine
