#pragma once

#include "canframe.h"

#include <initializer_list>

// A standard data frame with the given bytes, as the view tests build them.
inline CanFrame frame(quint32 id, std::initializer_list<quint8> bytes, qint64 us = 0)
{
    CanFrame f;
    f.id = id;
    f.dlc = quint8(bytes.size());
    int i = 0;
    for (quint8 b : bytes)
        f.data[i++] = b;
    f.timestampUs = us;
    return f;
}
