#pragma once

#include "symbolfile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// DBC databases, the format most CAN networks are described in, read into and
// written from the same SymbolDatabase as the symbol files.
namespace DbcFile {

// True when content named `path` is a DBC file: the name ends in ".dbc" (any
// case), or the first word of the content is a DBC keyword (VERSION, NS_, BS_,
// BU_, BO_).
bool isDbc(const QString &path, const QByteArray &content);

// Reads a DBC file into `out`, which must be empty. Faulty statements are
// skipped with a warning "Zeile %1, Spalte %2: %3"; the load fails only when
// the content holds no DBC statement at all. Indices are not built here.
bool read(const QByteArray &content, SymbolDatabase *out, QString *error, QStringList *warnings);

} // namespace DbcFile
