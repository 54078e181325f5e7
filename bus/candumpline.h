#pragma once

#include "canframe.h"

#include <QByteArray>

// The text notations of the Linux CAN tools, read by one parser for the
// text-pipe bus and the trace files: cansend ("605#4008100000000000",
// "1ABCDEF0#11", "123#R", "123##1AABB" for CAN FD) and candump -L
// ("(1733600000.123456) can0 585#4B..." with an optional direction marker
// " R" or " T" at the end).
namespace CanDumpLine {

struct Parsed
{
    CanFrame frame;            // at most the first 8 data bytes; error frames keep their class bits in id
    bool hasTimestamp = false;
    qint64 timestampUs = 0;    // "(seconds.fraction)" as written; may be negative
    char direction = 0;        // 'R' or 'T' when the line ends with a direction marker
    bool fd = false;           // written in the CAN FD notation "id##flags data"
    int length = 0;            // data bytes written: up to 8, up to 64 for CAN FD
};

// Reads one line without its line end (a trailing '\r' and blanks are
// allowed). False for anything that is not one frame in these notations;
// each user decides what it takes of the rest (time stamp, marker, FD).
bool parse(const char *begin, const char *end, Parsed *parsed);

// "123#1122", "1ABCDEF0#R", error frames with the error flag 20000000h.
QByteArray frameText(const CanFrame &frame);
// "(%1.%2) busvista %3\n" with the wall-clock time in microseconds since 1970.
QByteArray logLine(const CanFrame &frame, qint64 epochUs);

// The same into a buffer of at least MaxLogLineBytes; returns the end of
// what was written. For writers of many lines at once.
constexpr int MaxLogLineBytes = 64;
char *putLogLine(char *out, const CanFrame &frame, qint64 epochUs);

} // namespace CanDumpLine
