#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Stateless conversions between the raw bytes of an SDO transfer and text,
// and the German explanations of the SDO abort codes.
namespace Sdo {

enum DataType {
    Unsigned8,
    Unsigned16,
    Unsigned32,
    Unsigned64,
    Integer8,
    Integer16,
    Integer32,
    Integer64,
    Real32,
    VisibleString,
    Domain,
    Real64, // IEEE 754 double; after the others, so stored type numbers keep their meaning
};

struct TypeInfo
{
    DataType type;
    const char *name; // Latin-1 display name
    int size;         // payload bytes on the bus; 0: variable length
};

const QList<TypeInfo> &types();
QString typeName(DataType type);
int typeSize(DataType type);
// Looks a type up by its display name ("UNSIGNED16"); false if unknown.
bool typeFromName(const QString &name, DataType *type);
bool isIntegerType(DataType type);

// Guess for an upload whose type the user left open.
DataType typeFromLength(const QByteArray &data);

QString toHex(const QByteArray &data);
QString decode(DataType type, const QByteArray &data);
// On failure returns false, leaves *out untouched and stores the message.
bool encode(DataType type, const QString &text, QByteArray *out, QString *error);
// The value text a form field takes for these bytes: the decimal number for
// integer types, the whole decoded text otherwise.
QString valueText(DataType type, const QByteArray &data);

QString abortText(quint32 code);

// The CRC of SDO block transfers (CCITT polynomial 0x1021, start value 0);
// `crc` continues an earlier part.
quint16 crc16(const QByteArray &data, quint16 crc = 0);

// "0x%1", upper-case digits zero-filled to `width`, lower-case prefix.
QString hexNumber(quint64 value, int width);

} // namespace Sdo
