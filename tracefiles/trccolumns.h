#pragma once

#include "tracefile.h"

#include <QByteArray>

// Lines of PCAN traces 1.2 to 2.1, whose columns are named by letters:
// N number, O time offset (ms), T type, B bus, I identifier, d direction,
// R reserved, L length code, l data length, D data.
namespace TrcColumns {

enum class Kind { Entry, Empty, Fd, Other, Bad };

// The columns of a version without a ";$COLUMNS=" line.
QByteArray columnsOf(int major, int minor);
// The letters of a ";$COLUMNS=" value; empty when unusable.
QByteArray parseColumns(const char *begin, const char *end);
Kind readLine(const char *begin, const char *end, const QByteArray &columns, TraceEntry *entry);

} // namespace TrcColumns
