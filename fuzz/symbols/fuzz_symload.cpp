// Any bytes as a symbol file: the parser must neither crash nor hang, and a
// database it accepts must work for every symbol it holds.
#include "exercisedatabase.h"

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

    exerciseDatabase(db);
    return 0;
}
