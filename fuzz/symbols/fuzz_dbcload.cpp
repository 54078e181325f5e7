// Any bytes as a DBC file: the reader must neither crash nor hang, and a
// database it accepts must work for every symbol it holds, also after being
// written as DBC and as symbol file and read back.
#include "dbcfile.h"
#include "exercisedatabase.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    SymbolDatabase db;
    QString error;
    QStringList warnings;
    if (!db.loadData(content, QStringLiteral("fuzz.dbc"), &error, &warnings))
        return 0;
    exerciseDatabase(db);

    QStringList lost;
    SymbolDatabase dbc;
    if (dbc.loadData(DbcFile::write(db, &lost), QStringLiteral("again.dbc"), &error, &warnings))
        exerciseDatabase(dbc);
    SymbolDatabase sym;
    if (sym.loadData(SymFile::write(db, &lost), QStringLiteral("again.sym"), &error, &warnings))
        exerciseDatabase(sym);
    return 0;
}
