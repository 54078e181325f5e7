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

// A DBC file of the database. What DBC cannot hold is named in `warnings`.
QByteArray write(const SymbolDatabase &db, QStringList *warnings);

// A DBC identifier for a name: letters, digits and "_", not starting with a digit.
QString identifier(const QString &name);

} // namespace DbcFile

namespace SymFile {

// A symbol file (format 6.0) of the database. What the format cannot hold is
// named in `warnings`.
QByteArray write(const SymbolDatabase &db, QStringList *warnings);

// False with the reason when the database makes no symbol file that loads
// again: a symbol file needs at least one symbol.
bool canWrite(const SymbolDatabase &db, QString *error);

} // namespace SymFile
