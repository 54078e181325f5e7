#pragma once

#include "canframe.h"

#include <QVariant>

class SymbolDatabase;

// The symbol and signal cells that the receive list and the trace show alike.
namespace SymbolCell {

// The message name (decoded false) or the decoded signal text, which a tool
// tip shows one signal per line. Invalid when no database is set or it knows
// no message for the frame.
QVariant text(const SymbolDatabase *symbols, const CanFrame &frame, bool decoded, bool toolTip);

} // namespace SymbolCell
