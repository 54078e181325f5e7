#include "sdotypes.h"

#include <QHash>
#include <QLocale>
#include <QRegularExpression>

#include <cstring>
#include <limits>

namespace Sdo {

namespace {

QString lengthMismatch(DataType type, const QByteArray &data)
{
    return QStringLiteral("%1 Byte: %2 (Länge passt nicht zu %3)")
        .arg(data.size())
        .arg(toHex(data), typeName(type));
}

bool isSigned(DataType type)
{
    return type >= Integer8 && type <= Integer64;
}

// Unsigned 64-bit conversion that fails on empty text, stray characters and overflow.
bool parseUnsigned(const QString &text, int base, quint64 *value)
{
    if (text.isEmpty())
        return false;
    quint64 v = 0;
    for (const QChar c : text) {
        int digit = -1;
        const char16_t u = c.unicode();
        if (u >= '0' && u <= '9')
            digit = u - '0';
        else if (base == 16 && u >= 'a' && u <= 'f')
            digit = u - 'a' + 10;
        else if (base == 16 && u >= 'A' && u <= 'F')
            digit = u - 'A' + 10;
        if (digit < 0 || digit >= base)
            return false;
        if (v > (~quint64(0) - quint64(digit)) / quint64(base))
            return false;
        v = v * quint64(base) + quint64(digit);
    }
    *value = v;
    return true;
}

bool encodeInteger(DataType type, const QString &s, QByteArray *out, QString *error)
{
    const int n = typeSize(type);
    const int m = 8 * n;
    QString t = s;
    bool negative = false;
    if (t.startsWith(QLatin1Char('-'))) {
        negative = true;
        t = t.mid(1).trimmed();
    }
    bool hex = false;
    quint64 v = 0;
    bool parsed = false;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        hex = true;
        parsed = parseUnsigned(t.mid(2), 16, &v);
    } else if (t.endsWith(QLatin1Char('h'), Qt::CaseInsensitive)) {
        hex = true;
        parsed = parseUnsigned(t.left(t.size() - 1), 16, &v);
    } else {
        parsed = parseUnsigned(t, 10, &v);
    }
    auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    if (!parsed || t.isEmpty())
        return fail(QStringLiteral("Ungültige Zahl: \"%1\"").arg(s));

    quint64 bits = v;
    if (!isSigned(type)) {
        if (negative)
            return fail(QStringLiteral("Negative Werte sind für %1 nicht erlaubt.").arg(typeName(type)));
        if (m < 64 && v >= (quint64(1) << m))
            return fail(QStringLiteral("Wert außerhalb des Bereichs 0 … %1.").arg((quint64(1) << m) - 1));
    } else {
        const quint64 max = (quint64(1) << (m - 1)) - 1;
        const qint64 min = m == 64 ? std::numeric_limits<qint64>::min() : -qint64(max) - 1;
        const QString range = QStringLiteral("Wert außerhalb des Bereichs %1 … %2.").arg(min).arg(max);
        if (negative) {
            if (v > max + 1)
                return fail(range);
            bits = ~v + 1;
        } else if (hex) {
            if (m < 64 && v >= (quint64(1) << m))
                return fail(QStringLiteral("Wert passt nicht in %1 Bit.").arg(m));
        } else if (v > max) {
            return fail(range);
        }
    }
    QByteArray bytes(n, '\0');
    for (int i = 0; i < n; ++i)
        bytes[i] = char(quint8(bits >> (8 * i)));
    *out = bytes;
    return true;
}

} // namespace

const QList<TypeInfo> &types()
{
    static const QList<TypeInfo> list = {
        {Unsigned8, "UNSIGNED8", 1},
        {Unsigned16, "UNSIGNED16", 2},
        {Unsigned32, "UNSIGNED32", 4},
        {Unsigned64, "UNSIGNED64", 8},
        {Integer8, "INTEGER8", 1},
        {Integer16, "INTEGER16", 2},
        {Integer32, "INTEGER32", 4},
        {Integer64, "INTEGER64", 8},
        {Real32, "REAL32", 4},
        {VisibleString, "VISIBLE_STRING", 0},
        {Domain, "DOMAIN (Hex-Bytes)", 0},
        {Real64, "REAL64", 8},
    };
    return list;
}

QString typeName(DataType type)
{
    for (const TypeInfo &info : types()) {
        if (info.type == type)
            return QString::fromLatin1(info.name);
    }
    return QString();
}

int typeSize(DataType type)
{
    for (const TypeInfo &info : types()) {
        if (info.type == type)
            return info.size;
    }
    return 0;
}

bool typeFromName(const QString &name, DataType *type)
{
    for (const TypeInfo &info : types()) {
        const QString full = QString::fromLatin1(info.name);
        // "DOMAIN" alone names the hex-byte type as well.
        if (name == full || name == full.section(QLatin1Char(' '), 0, 0)) {
            *type = info.type;
            return true;
        }
    }
    return false;
}

bool isIntegerType(DataType type)
{
    return type >= Unsigned8 && type <= Integer64;
}

DataType typeFromLength(const QByteArray &data)
{
    switch (data.size()) {
    case 0:
        return Domain;
    case 1:
        return Unsigned8;
    case 2:
        return Unsigned16;
    case 4:
        return Unsigned32;
    default:
        break;
    }
    // Longer values are text when every byte up to the trailing zeros is
    // printable, Latin-1 letters included (the panel writes text as Latin-1);
    // an 8-byte value that is not text is a number.
    qsizetype end = data.size();
    while (end > 0 && data.at(end - 1) == '\0')
        --end;
    bool printable = end > 0;
    for (qsizetype i = 0; i < end && printable; ++i) {
        const auto c = quint8(data.at(i));
        printable = (c >= 32 && c <= 126) || c >= 160;
    }
    if (printable)
        return VisibleString;
    return data.size() == 8 ? Unsigned64 : Domain;
}

QString toHex(const QByteArray &data)
{
    if (data.isEmpty())
        return QString();
    return QString::fromLatin1(data.toHex(' ').toUpper());
}

QString hexNumber(quint64 value, int width)
{
    return QStringLiteral("0x%1").arg(value, width, 16, QLatin1Char('0')).toUpper().replace(
        QLatin1String("0X"), QLatin1String("0x"));
}

QString decode(DataType type, const QByteArray &data)
{
    switch (type) {
    case VisibleString: {
        const qsizetype zero = data.indexOf('\0');
        return QString::fromLatin1(zero < 0 ? data : data.left(zero));
    }
    case Domain:
        return toHex(data);
    case Real32: {
        if (data.size() != 4)
            return lengthMismatch(type, data);
        quint32 raw = 0;
        for (int i = 0; i < 4; ++i)
            raw |= quint32(quint8(data.at(i))) << (8 * i);
        float value = 0;
        std::memcpy(&value, &raw, sizeof value);
        return QString::number(double(value), 'g', 7);
    }
    case Real64: {
        if (data.size() != 8)
            return lengthMismatch(type, data);
        quint64 raw = 0;
        for (int i = 0; i < 8; ++i)
            raw |= quint64(quint8(data.at(i))) << (8 * i);
        double value = 0;
        std::memcpy(&value, &raw, sizeof value);
        return QString::number(value, 'g', 15);
    }
    default:
        break;
    }
    const int size = typeSize(type);
    if (size == 0 || data.size() != size)
        return lengthMismatch(type, data);
    quint64 raw = 0;
    for (int i = 0; i < size; ++i)
        raw |= quint64(quint8(data.at(i))) << (8 * i);
    const QString hex = hexNumber(raw, 2 * size);
    if (!isSigned(type))
        return QStringLiteral("%1 (%2)").arg(raw).arg(hex);
    qint64 value = 0;
    if (size == 8) {
        std::memcpy(&value, &raw, sizeof value);
    } else {
        const int bits = 8 * size;
        if (raw & (quint64(1) << (bits - 1)))
            raw |= ~quint64(0) << bits;
        std::memcpy(&value, &raw, sizeof value);
    }
    return QStringLiteral("%1 (%2)").arg(value).arg(hex);
}

QString valueText(DataType type, const QByteArray &data)
{
    if (!isIntegerType(type))
        return decode(type, data);
    // A number of the wrong length has no value to recall.
    if (data.size() != typeSize(type))
        return QString();
    return decode(type, data).section(QLatin1Char(' '), 0, 0);
}

bool encode(DataType type, const QString &text, QByteArray *out, QString *error)
{
    const QString s = text.trimmed();
    auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    switch (type) {
    case VisibleString:
        if (s.isEmpty())
            return fail(QStringLiteral("Bitte einen Text eingeben."));
        *out = text.toLatin1();
        return true;
    case Domain: {
        static const QRegularExpression separators(QStringLiteral("[\\s,;:-]"));
        static const QRegularExpression hexDigits(QStringLiteral("^[0-9A-Fa-f]+$"));
        QString digits = s;
        digits.remove(separators);
        if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            digits.remove(0, 2);
        if (digits.isEmpty() || digits.size() % 2 != 0 || !hexDigits.match(digits).hasMatch())
            return fail(QStringLiteral("Bitte Bytes hexadezimal eingeben, z. B. \"01 02 AB\"."));
        *out = QByteArray::fromHex(digits.toLatin1());
        return true;
    }
    case Real64: {
        QString copy = s;
        copy.replace(QLatin1Char(','), QLatin1Char('.'));
        bool ok = false;
        const double value = QLocale::c().toDouble(copy, &ok);
        if (!ok)
            return fail(QStringLiteral("Ungültige Gleitkommazahl: \"%1\"").arg(s));
        quint64 raw = 0;
        std::memcpy(&raw, &value, sizeof raw);
        QByteArray bytes(8, '\0');
        for (int i = 0; i < 8; ++i)
            bytes[i] = char(quint8(raw >> (8 * i)));
        *out = bytes;
        return true;
    }
    case Real32: {
        QString copy = s;
        copy.replace(QLatin1Char(','), QLatin1Char('.'));
        bool ok = false;
        const float value = QLocale::c().toFloat(copy, &ok);
        if (!ok)
            return fail(QStringLiteral("Ungültige Gleitkommazahl: \"%1\"").arg(s));
        quint32 raw = 0;
        std::memcpy(&raw, &value, sizeof raw);
        QByteArray bytes(4, '\0');
        for (int i = 0; i < 4; ++i)
            bytes[i] = char(quint8(raw >> (8 * i)));
        *out = bytes;
        return true;
    }
    default:
        break;
    }
    if (!isIntegerType(type))
        return fail(QStringLiteral("Unbekannter Datentyp."));
    return encodeInteger(type, s, out, error);
}

QString abortText(quint32 code)
{
    static const QHash<quint32, const char *> texts = {
        {0x05030000, "Toggle-Bit nicht alterniert"},
        {0x05040000, "SDO-Protokoll-Timeout"},
        {0x05040001, "Ungültiger oder unbekannter Client/Server-Befehl"},
        {0x05040002, "Ungültige Blockgröße"},
        {0x05040003, "Ungültige Sequenznummer"},
        {0x05040004, "CRC-Fehler"},
        {0x05040005, "Kein Speicher verfügbar"},
        {0x06010000, "Zugriff auf das Objekt nicht unterstützt"},
        {0x06010001, "Objekt ist nur schreibbar (Lesen nicht möglich)"},
        {0x06010002, "Objekt ist nur lesbar (Schreiben nicht möglich)"},
        {0x06020000, "Objekt existiert nicht im Objektverzeichnis"},
        {0x06040041, "Objekt kann nicht in ein PDO gemappt werden"},
        {0x06040042, "Anzahl/Länge der gemappten Objekte überschreitet die PDO-Länge"},
        {0x06040043, "Allgemeine Parameter-Inkompatibilität"},
        {0x06040047, "Allgemeine interne Inkompatibilität im Gerät"},
        {0x06060000, "Zugriff wegen Hardwarefehler fehlgeschlagen"},
        {0x06070010, "Datentyp passt nicht, Länge des Serviceparameters stimmt nicht"},
        {0x06070012, "Datentyp passt nicht, Serviceparameter zu lang"},
        {0x06070013, "Datentyp passt nicht, Serviceparameter zu kurz"},
        {0x06090011, "Subindex existiert nicht"},
        {0x06090030, "Ungültiger Wert (nur beim Schreiben)"},
        {0x06090031, "Wert zu groß (nur beim Schreiben)"},
        {0x06090032, "Wert zu klein (nur beim Schreiben)"},
        {0x06090036, "Maximalwert ist kleiner als Minimalwert"},
        {0x060A0023, "Ressource nicht verfügbar: SDO-Verbindung"},
        {0x08000000, "Allgemeiner Fehler"},
        {0x08000020, "Daten können nicht übertragen oder gespeichert werden"},
        {0x08000021, "Daten können wegen lokaler Steuerung nicht übertragen/gespeichert werden"},
        {0x08000022, "Daten können wegen des Gerätezustands nicht übertragen/gespeichert werden"},
        {0x08000023, "Objektverzeichnis-Erzeugung fehlgeschlagen oder kein Objektverzeichnis vorhanden"},
        {0x08000024, "Keine Daten verfügbar"},
    };
    const QString hex = hexNumber(code, 8);
    const auto found = texts.constFind(code);
    if (found == texts.constEnd())
        return QStringLiteral("Unbekannter Abort-Code %1").arg(hex);
    return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(*found), hex);
}

quint16 crc16(const QByteArray &data, quint16 crc)
{
    // Polynomial x^16 + x^12 + x^5 + 1, MSB first, no final XOR.
    for (const char c : data) {
        crc ^= quint16(quint8(c)) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

} // namespace Sdo
