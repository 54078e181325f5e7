// Transmit list files come from users and other machines: any bytes must
// either be refused or give a list that survives a save and reload.
#include "transmitmodel.h"

#include <QJsonArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QJsonArray messages;
    if (!TransmitModel::parseFile(bytes, &messages))
        return 0;
    TransmitModel model;
    model.fromJson(messages);
    for (const TxMessage &m : model.messages()) {
        if (m.frame.dlc > 8 || m.cycleMs < 0 || m.active || m.count != 0)
            std::abort();
    }
    // Whatever was accepted must come back unchanged from its own file.
    const QJsonArray saved = model.toJson();
    QJsonArray reread;
    if (!TransmitModel::parseFile(model.fileContents(), &reread) || reread != saved)
        std::abort();
    TransmitModel again;
    again.fromJson(reread);
    if (again.toJson() != saved)
        std::abort();
    for (int row = 0; row < model.rowCount(); ++row)
        for (int column = 0; column < model.columnCount(); ++column)
            model.data(model.index(row, column));
    return 0;
}
