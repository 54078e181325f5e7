#pragma once

#include "canframe.h"

#include <QString>

// Where a replay takes its entries from: the trace shown in the window, or a
// file streamed from disk. The player reads it from its own thread, one pass
// after the other; between rewind() and the end of a pass nothing else may
// change what the source reads.
class ReplaySource
{
public:
    virtual ~ReplaySource() = default;

    // Goes back to the first entry; called before every pass. False with
    // *error when the entries cannot be read (again).
    virtual bool rewind(QString *error) = 0;
    // The next entry in recorded order and its trace time (microseconds from
    // the start of the trace). False at the end of the pass; *error is set
    // only when reading failed.
    virtual bool next(CanFrame *frame, qint64 *traceUs, QString *error) = 0;
    // Entries of one pass, or -1 while unknown (a file still being read).
    virtual qint64 size() const { return -1; }
};
