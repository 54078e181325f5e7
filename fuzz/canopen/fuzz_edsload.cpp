// Random bytes as EDS/DCF file: the reader either fails with a message or
// gives a dictionary whose entries it finds again by address and name, and
// whose DCF it reads back with the same entries.
#include "edsfile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    EdsFile eds;
    QString error;
    QStringList warnings;
    if (!eds.parse(bytes, 5, &error, &warnings)) {
        if (error.isEmpty() || !eds.isEmpty())
            std::abort();
        return 0;
    }
    if (eds.isEmpty() || warnings.size() > 101)
        std::abort();
    // Every entry by address; by name only some, since a name search walks
    // the whole dictionary and a compact array holds up to 254 entries.
    int named = 0;
    for (const EdsFile::Object &object : eds.objects()) {
        for (const EdsFile::Entry &entry : object.entries) {
            if (eds.find(entry.index, entry.subIndex) == nullptr)
                std::abort();
            if (named++ < 32)
                eds.findByName(entry.name);
        }
    }
    EdsFile again;
    if (!again.parse(eds.toDcf({}, 5), 5, &error, nullptr) || again.entryCount() != eds.entryCount())
        std::abort();
    return 0;
}
