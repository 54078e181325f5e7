// The PE check reads a file the user picked as a driver library: any bytes
// must give either 0 or the machine field that the header really holds.
#include "dllloader.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

quint16 expected(const QByteArray &bytes)
{
    if (bytes.size() < 64 || !bytes.startsWith("MZ"))
        return 0;
    const quint32 offset = qFromLittleEndian<quint32>(bytes.constData() + 60);
    if (qint64(offset) + 6 > bytes.size())
        return 0;
    if (bytes.mid(offset, 4) != QByteArray("PE\0\0", 4))
        return 0;
    return qFromLittleEndian<quint16>(bytes.constData() + offset + 4);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("input.dll"));
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(bytes);
    file.close();
    if (DllLoader::peMachine(path) != expected(bytes))
        std::abort();
    return 0;
}
