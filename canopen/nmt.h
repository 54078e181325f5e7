#pragma once

#include "canframe.h"

#include <QString>

// NMT master commands (frame 0x000: command byte, node ID; node 0 = all).
namespace Nmt {

enum Command : quint8 {
    Start = 0x01,
    Stop = 0x02,
    PreOperational = 0x80,
    ResetNode = 0x81,
    ResetCommunication = 0x82,
};

CanFrame commandFrame(Command command, int node);
// The command line's names: start, stop, preop, reset, resetcomm.
bool commandFromName(const QString &name, Command *command);

} // namespace Nmt
