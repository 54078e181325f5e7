#include "traceline.h"
#include "tracescan.h"

#include <QRegularExpression>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace TraceLine {

namespace {

const QRegularExpression &trcPattern(TrcLayout layout)
{
    static const QRegularExpression v11(QStringLiteral(
        "^\\s*(\\d+)\\)\\s+(-?[0-9.]+)\\s+(\\S+)\\s+([0-9A-Fa-f]+)\\s+(\\d+)\\s*(.*?)\\s*$"));
    // Version 1.0 has no type column; with the 1.1 pattern its identifier
    // would land in the type field and the length in the identifier.
    static const QRegularExpression v10(QStringLiteral(
        "^\\s*(\\d+)\\)\\s+(-?[0-9.]+)\\s+([0-9A-Fa-f]+)\\s+(\\d+)\\s*(.*?)\\s*$"));
    return layout == TrcLayout::V10 ? v10 : v11;
}

using TraceScan::hexValue;
using TraceScan::isBlank;
using TraceScan::isDigit;
using TraceScan::writeDecimal;
using TraceScan::writeHex;

// 1..maxDigits decimal digits; stops at the first non-digit.
bool scanDecimal(const char *&p, const char *e, int maxDigits, quint64 *value)
{
    const char *start = p;
    quint64 v = 0;
    while (p < e && isDigit(*p)) {
        v = v * 10 + quint64(*p - '0');
        ++p;
    }
    const auto n = p - start;
    if (n == 0 || n > maxDigits)
        return false;
    *value = v;
    return true;
}

// The whole of [b, e) as -?digits[.digits]; short enough that the
// correctly rounded conversions of Qt and the standard library agree.
bool scanTime(const char *b, const char *e, double *ms)
{
    if (e - b > 40)
        return false;
    const char *p = b;
    if (p < e && *p == '-')
        ++p;
    const char *digits = p;
    while (p < e && isDigit(*p))
        ++p;
    if (p == digits)
        return false;
    if (p < e && *p == '.') {
        const char *fraction = ++p;
        while (p < e && isDigit(*p))
            ++p;
        if (p == fraction)
            return false;
    }
    if (p != e)
        return false;
    // Up to 15 significant digits and a short fraction: mantissa and power
    // of ten are exact doubles, so their quotient is the correctly rounded
    // value, the same one a full conversion gives.
    quint64 mantissa = 0;
    int digitCount = 0;
    int fractionDigits = 0;
    bool inFraction = false;
    for (const char *c = digits; c < e; ++c) {
        if (*c == '.') {
            inFraction = true;
            continue;
        }
        mantissa = mantissa * 10 + quint64(*c - '0');
        if (mantissa)
            ++digitCount;
        fractionDigits += inFraction;
        if (digitCount > 15)
            break;
    }
    if (digitCount <= 15 && fractionDigits <= 22) {
        static const double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        const double value = double(mantissa) / powers[fractionDigits];
        *ms = digits != b ? -value : value;
        return true;
    }
    const auto result = std::from_chars(b, e, *ms, std::chars_format::fixed);
    return result.ec == std::errc() && result.ptr == e;
}


// Data bytes split at blanks, one or two hexadecimal digits each.
bool scanBytes(const char *p, const char *e, CanFrame &frame)
{
    int count = 0;
    while (p < e) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        const int high = hexValue(*p);
        if (high < 0 || count == 8)
            return false;
        ++p;
        int value = high;
        if (p < e && *p != ' ') {
            const int low = hexValue(*p);
            if (low < 0)
                return false;
            value = high << 4 | low;
            ++p;
            if (p < e && *p != ' ')
                return false;
        }
        frame.data[count++] = quint8(value);
    }
    return count >= frame.dlc || frame.rtr;
}

using TraceScan::equals;

char *writeBytes(char *p, const CanFrame &frame)
{
    return TraceScan::writeHexBytes(p, frame.data, frame.dlc > 8 ? 8 : frame.dlc, ' ');
}

// Right-aligns [text, end) in a field of `width` blanks at p.
char *writeRightAligned(char *p, const char *text, const char *end, int width)
{
    for (auto n = end - text; n < width; ++n)
        *p++ = ' ';
    std::memcpy(p, text, size_t(end - text));
    return p + (end - text);
}

// No type of the 1.1 format (Rx, Tx, Error, Warng) is made of hexadecimal
// digits; such a "type" is the identifier of a line without type column,
// whose columns the 1.1 pattern would silently shift.
bool allHex(QStringView text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0x7F || hexValue(char(c.unicode())) < 0)
            return false;
    }
    return true;
}

// The data bytes of a line: blank-separated hexadecimal values, at most 8.
bool parseByteParts(const QList<QStringView> &parts, CanFrame &frame)
{
    if (parts.size() > 8)
        return false;
    int count = 0;
    for (const QStringView part : parts) {
        bool ok = false;
        const uint value = part.toUInt(&ok, 16);
        if (!ok || value > 0xFF)
            return false;
        frame.data[count++] = quint8(value);
    }
    if (count < frame.dlc)
        return frame.rtr;
    return true;
}

bool parseBytes(const QString &text, CanFrame &frame)
{
    return parseByteParts(QStringView(text).split(u' ', Qt::SkipEmptyParts), frame);
}

// The data of a bus-state line as the vendor's viewer writes it: the bytes,
// "--" for the bytes it does not show, then a state word ("BUSHEAVY"), which
// the entry does not keep.
bool parseStatusBytes(const QString &text, CanFrame &frame)
{
    auto parts = QStringView(text).split(u' ', Qt::SkipEmptyParts);
    if (!parts.isEmpty() && parts.last().size() > 2 && parts.last() != u"--")
        parts.removeLast();
    while (!parts.isEmpty() && parts.last() == u"--")
        parts.removeLast();
    return parseByteParts(parts, frame);
}

// Time offset in milliseconds from a file to a time stamp in microseconds.
qint64 timestampFromMs(double ms)
{
    if (!(ms > 0))
        return 0;
    const double us = ms * 1000.0 + 0.5;
    // Out of range for the time stamp: keep the latest representable time.
    if (us >= 9223372036854775807.0)
        return std::numeric_limits<qint64>::max();
    return qint64(us);
}

} // namespace

Result readTrcReference(const QString &line, TrcLayout layout, TraceEntry *entry)
{
    if (line.trimmed().isEmpty())
        return Result::Empty;
    const QRegularExpressionMatch match = trcPattern(layout).match(line);
    if (!match.hasMatch())
        return Result::Unrecognised;
    const int shift = layout == TrcLayout::V10 ? -1 : 0;

    CanFrame frame;
    bool ok = false;
    const double ms = match.capturedView(2).toDouble(&ok);
    frame.timestampUs = timestampFromMs(ok ? ms : 0.0);

    const QStringView idText = match.capturedView(4 + shift);
    frame.id = idText.toUInt(&ok, 16);
    if (!ok)
        frame.id = 0;
    frame.extended = idText.size() > 4;

    const int dlc = match.capturedView(5 + shift).toInt(&ok);
    frame.dlc = quint8(ok ? std::min(dlc, 8) : 0);

    if (layout == TrcLayout::V11) {
        const QStringView type = match.capturedView(3);
        if (allHex(type))
            return Result::Unrecognised;
        if (type.size() == 2) {
            frame.tx = type == u"Tx";
        } else if (type.size() == 5) {
            frame.error = type == u"Error";
            frame.status = type == u"Warng";
        }
    }

    const QString data = match.captured(6 + shift);
    // Version 1.0 has no type; its bus-state lines carry the identifier
    // FFFFFFFF, which no CAN frame can have.
    const bool stateLine = frame.status || (layout == TrcLayout::V10 && idText.compare(u"FFFFFFFF", Qt::CaseInsensitive) == 0);
    if (data == QLatin1String("RTR")) {
        frame.rtr = true;
    } else if (!parseBytes(data, frame)) {
        if (!stateLine || !parseStatusBytes(data, frame))
            return Result::Unrecognised;
        frame.status = true;
    }

    const quint64 number = match.capturedView(1).toULongLong(&ok);
    entry->number = ok ? number : 0;
    entry->frame = frame;
    return Result::Entry;
}

Result readCsvReference(const QString &line, TraceEntry *entry)
{
    if (line.trimmed().isEmpty())
        return Result::Empty;
    const auto fields = QStringView(line).split(u';');
    if (fields.size() < 8)
        return Result::Unrecognised;
    bool ok = false;
    const quint64 number = fields[0].toULongLong(&ok, 10);
    if (!ok)
        return Result::Unrecognised;
    const double ms = fields[1].toDouble(&ok);
    if (!ok)
        return Result::Unrecognised;
    const int dlc = fields[6].toInt(&ok, 10);
    if (!ok || dlc < 0 || dlc > 8)
        return Result::Unrecognised;

    CanFrame frame;
    frame.timestampUs = timestampFromMs(ms);
    frame.dlc = quint8(dlc);
    frame.tx = fields[2] == u"Tx";
    const QStringView type = fields[5];
    frame.error = type == u"Error";
    frame.status = type == u"Status";
    frame.extended = type.startsWith(u"Ext");
    frame.rtr = type.endsWith(u"RTR");

    QStringView idText = fields[3];
    if (idText.endsWith(u'h'))
        idText.chop(1);
    if (!frame.status) {
        frame.id = idText.toUInt(&ok, 16);
        if (!ok)
            frame.id = 0;
    }

    if (!frame.rtr && !parseBytes(fields[7].toString(), frame))
        return Result::Unrecognised;

    entry->number = number;
    entry->frame = frame;
    return Result::Entry;
}

bool readTrcFast(const char *b, const char *e, TrcLayout layout, TraceEntry *entry)
{
    // Every byte is checked by the scanner of its column, so control
    // characters and UTF-8 anywhere make it unsure.
    const char *p = b;
    while (p < e && isBlank(*p))
        ++p;
    quint64 number = 0;
    if (!scanDecimal(p, e, 19, &number) || p == e || *p != ')')
        return false;
    ++p;

    auto token = [&](const char **start) {
        // At least one blank, then a token up to the next blank.
        if (p == e || !isBlank(*p))
            return false;
        while (p < e && isBlank(*p))
            ++p;
        *start = p;
        while (p < e && !isBlank(*p))
            ++p;
        return p > *start;
    };

    CanFrame frame;
    const char *t = nullptr;
    double ms = 0;
    if (!token(&t) || !scanTime(t, p, &ms))
        return false;
    frame.timestampUs = timestampFromMs(ms);

    if (layout == TrcLayout::V11) {
        if (!token(&t))
            return false;
        bool typeIsHex = true;
        for (const char *c = t; c < p; ++c) {
            if (*c < 0x21 || *c > 0x7E)
                return false;
            typeIsHex = typeIsHex && hexValue(*c) >= 0;
        }
        if (typeIsHex)
            return false;
        if (p - t == 2) {
            frame.tx = equals(t, p, "Tx");
        } else if (p - t == 5) {
            frame.error = equals(t, p, "Error");
            frame.status = equals(t, p, "Warng");
        }
    }

    quint32 id = 0;
    if (!token(&t) || !TraceScan::parseHex(t, p, &id))
        return false;
    frame.id = id;
    frame.extended = p - t > 4;

    // The length follows after blanks; the data may follow it directly.
    if (p == e || !isBlank(*p))
        return false;
    while (p < e && isBlank(*p))
        ++p;
    quint64 dlc = 0;
    if (!scanDecimal(p, e, 9, &dlc))
        return false;
    frame.dlc = quint8(dlc > 8 ? 8 : dlc);

    while (p < e && isBlank(*p))
        ++p;
    while (e > p && isBlank(e[-1]))
        --e;
    if (equals(p, e, "RTR"))
        frame.rtr = true;
    else if (!scanBytes(p, e, frame))
        return false;

    entry->number = number;
    entry->frame = frame;
    return true;
}

bool readCsvFast(const char *b, const char *e, TraceEntry *entry)
{
    const char *field[9];
    const char *fieldEnd[9];
    int count = 0;
    const char *p = b;
    while (count < 8) {
        const char *sep = static_cast<const char *>(std::memchr(p, ';', size_t(e - p)));
        field[count] = p;
        fieldEnd[count] = sep ? sep : e;
        ++count;
        if (!sep)
            break;
        p = sep + 1;
    }
    // Fields behind the eighth (the signal text, which may hold ";") are not read.
    if (count < 8)
        return false;

    quint64 number = 0;
    const char *q = field[0];
    if (!scanDecimal(q, fieldEnd[0], 19, &number) || q != fieldEnd[0])
        return false;
    double ms = 0;
    if (!scanTime(field[1], fieldEnd[1], &ms))
        return false;
    quint64 dlc = 0;
    q = field[6];
    if (!scanDecimal(q, fieldEnd[6], 9, &dlc) || q != fieldEnd[6] || dlc > 8)
        return false;

    CanFrame frame;
    frame.timestampUs = timestampFromMs(ms);
    frame.dlc = quint8(dlc);
    frame.tx = equals(field[2], fieldEnd[2], "Tx");
    const char *type = field[5];
    const char *typeEnd = fieldEnd[5];
    frame.error = equals(type, typeEnd, "Error");
    frame.status = equals(type, typeEnd, "Status");
    frame.extended = typeEnd - type >= 3 && std::memcmp(type, "Ext", 3) == 0;
    frame.rtr = typeEnd - type >= 3 && std::memcmp(typeEnd - 3, "RTR", 3) == 0;

    if (!frame.status) {
        const char *idEnd = fieldEnd[3];
        if (idEnd > field[3] && idEnd[-1] == 'h')
            --idEnd;
        quint32 id = 0;
        if (!TraceScan::parseHex(field[3], idEnd, &id))
            return false;
        frame.id = id;
    }

    if (!frame.rtr && !scanBytes(field[7], fieldEnd[7], frame))
        return false;

    entry->number = number;
    entry->frame = frame;
    return true;
}

Result readTrc(const char *begin, const char *end, TrcLayout layout, TraceEntry *entry)
{
    if (readTrcFast(begin, end, layout, entry))
        return Result::Entry;
    return readTrcReference(QString::fromUtf8(begin, end - begin), layout, entry);
}

Result readCsv(const char *begin, const char *end, TraceEntry *entry)
{
    if (readCsvFast(begin, end, entry))
        return Result::Entry;
    return readCsvReference(QString::fromUtf8(begin, end - begin), entry);
}

namespace {

// Writes the offset text to buf (at least 64 bytes); returns its end.
char *writeOffset(char *buf, qint64 offsetUs, int digits)
{
    // Integer formatting is exact where the double offset/1000 rounds to the
    // same text; ties at one digit, negative and huge offsets go through Qt.
    const bool integerPath = offsetUs >= 0 && offsetUs < 1000000000000000LL
        && (digits == 3 || (digits == 1 && offsetUs % 100 != 50));
    if (!integerPath) {
        const QByteArray text = QString::number(double(offsetUs) / 1000.0, 'f', digits).toLatin1();
        const auto n = std::min<qsizetype>(text.size(), 60);
        std::memcpy(buf, text.constData(), size_t(n));
        return buf + n;
    }
    char *p = buf;
    if (digits == 3) {
        p = writeDecimal(p, quint64(offsetUs) / 1000);
        *p++ = '.';
        const int fraction = int(offsetUs % 1000);
        *p++ = char('0' + fraction / 100);
        *p++ = char('0' + fraction / 10 % 10);
        *p++ = char('0' + fraction % 10);
    } else {
        const quint64 tenths = (quint64(offsetUs) + 50) / 100;
        p = writeDecimal(p, tenths / 10);
        *p++ = '.';
        *p++ = char('0' + tenths % 10);
    }
    return p;
}

} // namespace

void appendOffset(QByteArray &out, qint64 offsetUs, int digits)
{
    char buf[64];
    out.append(buf, writeOffset(buf, offsetUs, digits) - buf);
}

void appendTrc(QByteArray &out, quint64 number, const CanFrame &frame, qint64 offsetUs)
{
    char buf[192];
    char field[64];
    char *p = writeRightAligned(buf, field, writeDecimal(field, number), 6);
    *p++ = ')';
    *p++ = ' ';
    p = writeRightAligned(p, field, writeOffset(field, offsetUs, 1), 11);
    const char *type = frame.status ? "Warng " : frame.error ? "Error " : frame.tx ? "Tx    " : "Rx    ";
    std::memcpy(p, "  ", 2);
    p += 2;
    std::memcpy(p, type, 6);  // five characters plus the blank before the identifier
    p += 6;
    p = writeRightAligned(p, field, writeHex(field, frame.id, frame.extended ? 8 : 4), 8);
    *p++ = ' ';
    *p++ = ' ';
    p = writeDecimal(p, frame.dlc);
    *p++ = ' ';
    *p++ = ' ';
    if (frame.rtr) {
        std::memcpy(p, "RTR", 3);
        p += 3;
    } else {
        p = writeBytes(p, frame);
    }
    *p++ = '\n';
    out.append(buf, p - buf);
}

void appendCsv(QByteArray &out, quint64 number, const CanFrame &frame, qint64 offsetUs,
               const QByteArray &symbol, const QByteArray &signalText)
{
    // One append per line where the texts are short: each append costs
    // about as much as formatting the numbers.
    constexpr qsizetype ShortText = 64;
    char buf[192 + 2 * ShortText];
    const auto text = [&](char *p, const QByteArray &t) {
        if (t.size() <= ShortText) {
            std::memcpy(p, t.constData(), size_t(t.size()));
            return p + t.size();
        }
        out.append(buf, p - buf);
        out.append(t);
        return buf;
    };
    char *p = writeDecimal(buf, number);
    *p++ = ';';
    p = writeOffset(p, offsetUs, 3);
    std::memcpy(p, frame.tx ? ";Tx;" : ";Rx;", 4);
    p += 4;
    if (frame.status) {
        std::memcpy(p, "Status", 6);
        p += 6;
    } else {
        p = writeHex(p, frame.id, frame.extended ? 8 : 3);
        *p++ = 'h';
    }
    *p++ = ';';
    p = text(p, symbol);
    *p++ = ';';
    if (frame.status) {
        std::memcpy(p, "Status", 6);
        p += 6;
    } else if (frame.error) {
        std::memcpy(p, "Error", 5);
        p += 5;
    } else {
        std::memcpy(p, frame.extended ? "Ext" : "Std", 3);
        p += 3;
        if (frame.rtr) {
            std::memcpy(p, " RTR", 4);
            p += 4;
        }
    }
    *p++ = ';';
    p = writeDecimal(p, frame.dlc);
    *p++ = ';';
    if (frame.rtr) {
        std::memcpy(p, "Remote Request", 14);
        p += 14;
    } else {
        p = writeBytes(p, frame);
    }
    *p++ = ';';
    *p++ = '"';
    if (signalText.contains('"')) {
        QByteArray quoted = signalText;
        p = text(p, quoted.replace("\"", "\"\""));
    } else {
        p = text(p, signalText);
    }
    *p++ = '"';
    *p++ = '\n';
    out.append(buf, p - buf);
}

bool sameEntry(const TraceEntry &a, const TraceEntry &b)
{
    const CanFrame &x = a.frame;
    const CanFrame &y = b.frame;
    return a.number == b.number && x.id == y.id && x.dlc == y.dlc && std::memcmp(x.data, y.data, 8) == 0
        && x.extended == y.extended && x.rtr == y.rtr && x.error == y.error && x.status == y.status
        && x.tx == y.tx && x.timestampUs == y.timestampUs;
}

} // namespace TraceLine
