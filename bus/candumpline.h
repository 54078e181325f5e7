#pragma once

#include "canframe.h"

#include <QByteArray>

// The text notations of the Linux CAN tools: cansend ("605#4008100000000000",
// "1ABCDEF0#11", "123#R") and candump -L ("(1733600000.123456) can0 585#4B...").
namespace CanDumpLine {

struct Parsed
{
    CanFrame frame;
    bool hasTimestamp = false;
    qint64 timestampUs = 0; // candump -L only: seconds and microseconds as written
};

// Reads one line without its line end (a trailing '\r' is allowed). False for
// anything that is not one classic frame in either notation.
bool parse(const char *begin, const char *end, Parsed *parsed);

// "123#1122", "1ABCDEF0#R", error frames with the error flag 20000000h.
QByteArray frameText(const CanFrame &frame);
// "(%1.%2) busvista %3\n" with the wall-clock time in microseconds since 1970.
QByteArray logLine(const CanFrame &frame, qint64 epochUs);

} // namespace CanDumpLine
