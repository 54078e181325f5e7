#include "nmt.h"

namespace Nmt {

CanFrame commandFrame(Command command, int node)
{
    CanFrame frame;
    frame.id = 0x000;
    frame.dlc = 2;
    frame.data[0] = command;
    frame.data[1] = quint8(node);
    return frame;
}

bool commandFromName(const QString &name, Command *command)
{
    static const struct
    {
        const char *name;
        Command command;
    } names[] = {
        {"start", Start}, {"stop", Stop}, {"preop", PreOperational}, {"reset", ResetNode}, {"resetcomm", ResetCommunication},
    };
    for (const auto &entry : names) {
        if (name == QLatin1String(entry.name)) {
            *command = entry.command;
            return true;
        }
    }
    return false;
}

} // namespace Nmt
