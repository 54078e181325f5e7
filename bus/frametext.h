#pragma once

#include "canframe.h"

#include <QString>

// The frame texts shared by the receive list, trace, transmit list, CSV file and CLI.
namespace FrameText {

// "123h" (3 digits, standard) or "18FEF100h" (8 digits, extended), upper case.
QString identifier(const CanFrame &frame);
QString identifier(quint32 id, bool extended);
// "Std"/"Ext" plus " RTR", or "Error", or "Status".
QString kind(const CanFrame &frame);
// "11 22 AA", or "Remote Request" for a remote frame.
QString data(const CanFrame &frame);

} // namespace FrameText
