#pragma once

#include <QTemporaryFile>

#include <cstddef>
#include <cstdint>

// One temporary file per fuzzer process, rewritten for every input.
inline QString writeFuzzFile(const uint8_t *data, size_t size, const char *suffix)
{
    static QTemporaryFile *file = [suffix] {
        auto *f = new QTemporaryFile(QStringLiteral("fuzz_XXXXXX") + QLatin1String(suffix));
        f->open();
        return f;
    }();
    file->resize(0);
    file->seek(0);
    file->write(reinterpret_cast<const char *>(data), qint64(size));
    file->flush();
    return file->fileName();
}

// A second per-process file name, for saving what was loaded.
inline QString fuzzOutputPath(const char *suffix)
{
    static const QString path = [suffix] {
        QTemporaryFile f(QStringLiteral("fuzz_out_XXXXXX") + QLatin1String(suffix));
        f.setAutoRemove(false);
        f.open();
        return f.fileName();
    }();
    return path;
}
