#pragma once

#include <QString>
#include <QStringList>

// Value syntax shared by the symbol file parser and the value entry of the
// signal text functions.
namespace SymSyntax {

// Value of a hexadecimal digit (either case); -1 for any other character.
int hexDigit(QChar c);
// Decimal, "1Fh" or "0x1F", with an optional sign; range of a signed 64-bit integer.
bool parseInteger(QStringView text, qint64 *value);
// As parseInteger without "-": the whole unsigned 64-bit range.
bool parseUnsigned(QStringView text, quint64 *value);
// "true" (any case) or "1".
bool parseBool(QStringView text);
// Trimmed, one pair of enclosing double quotes removed.
QString unquote(const QString &text);
// Splits at white space outside double quotes; quotes are not part of a token.
QStringList splitQuoted(QStringView text);
// Hexadecimal with an optional trailing "h".
bool parseHex(QStringView text, quint64 *value);
// "start,length" in decimal digits only; very large numbers saturate at 2^40
// so that they fail every range check instead of overflowing.
bool parsePosition(QStringView token, qint64 *start, qint64 *length);
// IEEE-754 bit pattern of the value as a single (zero-extended) or a double.
qint64 floatPattern(double value);
qint64 doublePattern(double value);
// Rounds half away from zero, clamped to the signed 64-bit range (NaN gives 0).
qint64 roundToInt64(double value, bool *inRange = nullptr);
// Text written in hexadecimal: ends in "h" or starts with "0x" (after an optional sign).
bool isHexNotation(QStringView text);
// name.toUpper(), the form of the enumeration keys. ASCII names are
// upper-cased directly, which costs a fraction of toUpper's full case
// mapping, and one already in upper case is returned as it is.
QString upperCased(const QString &name);

} // namespace SymSyntax
