// Any bytes as a DBC file: the reader must neither crash nor hang, and a
// database it accepts must work for every symbol it holds, also after being
// written as DBC and as symbol file and read back.
#include "dbcfile.h"
#include "symbolfile.h"

#include <cstddef>
#include <cstdint>

namespace {

void exercise(const SymbolDatabase &db)
{
    for (const SymMessage &message : db.messages) {
        CanFrame frame = db.defaultFrame(message);
        SymbolDatabase::insertMux(message, frame);
        (void)db.find(frame);
        (void)db.decodeText(frame);
        for (const SymSignalValue &value : db.decode(message, frame))
            (void)value.text.size();
        for (const SymVariable &variable : message.variables) {
            QString entryError;
            CanFrame edited = frame;
            (void)db.applyText(variable, db.valueText(variable, frame), edited, &entryError);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    SymbolDatabase db;
    QString error;
    QStringList warnings;
    if (!db.loadData(content, QStringLiteral("fuzz.dbc"), &error, &warnings))
        return 0;
    exercise(db);

    QStringList lost;
    SymbolDatabase dbc;
    if (dbc.loadData(DbcFile::write(db, &lost), QStringLiteral("again.dbc"), &error, &warnings))
        exercise(dbc);
    SymbolDatabase sym;
    if (sym.loadData(SymFile::write(db, &lost), QStringLiteral("again.sym"), &error, &warnings))
        exercise(sym);
    return 0;
}
