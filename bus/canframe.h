#pragma once

#include <QList>
#include <QMetaType>
#include <cstdint>

// One classic CAN 2.0 frame: received, transmitted, simulated or loaded from a trace.
struct CanFrame
{
    quint32 id = 0;          // without flag bits: 0..0x7FF standard, 0..0x1FFFFFFF extended
    quint8 dlc = 0;          // 0..8
    quint8 data[8] = {};     // only the first dlc bytes are payload
    bool extended = false;
    bool rtr = false;
    bool error = false;      // error frame reported by the controller
    bool status = false;     // status notification of the driver, not seen on the bus
    bool tx = false;         // transmit echo of a frame this program sent
    qint64 timestampUs = 0;  // microseconds since the connection was opened
};

using CanFrameList = QList<CanFrame>;

Q_DECLARE_METATYPE(CanFrame)
