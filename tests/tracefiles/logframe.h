#pragma once

#include "canframe.h"

// A frame as the log format tests build them: data bytes seed, 2 × seed, ...
// up to the length (none for a remote request).
inline CanFrame logFrame(quint32 id, bool ext, bool rtr, bool error, bool tx, int dlc, qint64 us, quint8 seed)
{
    CanFrame f;
    f.id = id;
    f.extended = ext;
    f.rtr = rtr;
    f.error = error;
    f.tx = tx;
    f.dlc = quint8(dlc);
    for (int i = 0; i < dlc && i < 8 && !rtr; ++i)
        f.data[i] = quint8(seed * (i + 1));
    f.timestampUs = us;
    return f;
}
