// Any bytes as a symbol file: the parser must neither crash nor hang, and a
// database it accepts must work for every symbol it holds.
#include "symbolfile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    SymbolDatabase db;
    QString error;
    QStringList warnings;
    if (!db.loadData(content, QStringLiteral("fuzz.sym"), &error, &warnings))
        return 0;

    for (const SymMessage &message : std::as_const(db.messages)) {
        CanFrame frame = db.defaultFrame(message);
        SymbolDatabase::insertMux(message, frame);
        (void)db.find(frame);
        (void)db.decodeText(frame);
        for (const SymSignalValue &value : db.decode(message, frame))
            (void)value.text.size();
        for (const SymVariable &variable : message.variables) {
            (void)db.physicalValue(variable, frame);
            (void)db.rawText(variable, frame);
            QString entryError;
            CanFrame edited = frame;
            (void)db.applyText(variable, db.valueText(variable, frame), edited, &entryError);
        }
    }
    return 0;
}
