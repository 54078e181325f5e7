#include "symbolcell.h"

#include "symbolfile.h"

namespace SymbolCell {

QVariant text(const SymbolDatabase *symbols, const CanFrame &frame, bool decoded, bool toolTip)
{
    const SymMessage *message = symbols ? symbols->find(frame) : nullptr;
    if (!message)
        return QVariant();
    if (!decoded)
        return message->displayName();
    QString signalText = symbols->decodeText(frame);
    if (toolTip)
        signalText.replace(QLatin1String("; "), QLatin1String("\n"));
    return signalText;
}

} // namespace SymbolCell
