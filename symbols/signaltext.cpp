// Text of signal values: formatting for the views and parsing of values the
// user types (the SymbolDatabase operations that turn bits into text and back).
#include "symbolfile.h"

#include "symsyntax.h"

#include <QLocale>
#include <QRegularExpression>
#include <QtAlgorithms>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

const double powersOfTen[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
const double twoTo52 = 4503599627370496.0;

// Distance to the nearest integer from the exact fraction, without a rounding
// call: this runs for every scaled value shown.
bool isIntegral(double x)
{
    const double a = std::fabs(x);
    if (!(a < twoTo52))
        return std::isfinite(x);   // such doubles are whole numbers
    const double fraction = a - double(qint64(a));
    return qMin(fraction, 1.0 - fraction) < qMax(x, 1.0) * 1e-9;
}

// Smallest k in 0..9 for which |x| * 10^k is integral, 9 if none.
int decimalsNeeded(double x)
{
    const double a = std::fabs(x);
    for (int k = 0; k < 10; ++k) {
        if (isIntegral(a * powersOfTen[k]))
            return k;
    }
    return 9;
}

int valueWidth(const SymVariable &variable)
{
    return variable.bits.isEmpty() ? variable.length : int(variable.bits.size());
}

// Data bytes of a String/Raw variable: from startBit / 8 on, length / 8 of them,
// never past the eight data bytes.
QByteArray variableBytes(const SymVariable &variable, const CanFrame &frame)
{
    QByteArray bytes;
    if (variable.length < 8 || variable.startBit < 0)
        return bytes;
    const int first = variable.startBit / 8;
    const int count = variable.length / 8;
    for (int i = 0; i < count && first + i < 8; ++i)
        bytes.append(char(frame.data[first + i]));
    return bytes;
}

// Digits with an optional sign: a whole number typed in decimal.
bool isDecimalInteger(QStringView text)
{
    if (!text.isEmpty() && (text.front() == QLatin1Char('-') || text.front() == QLatin1Char('+')))
        text = text.mid(1);
    return !text.isEmpty()
        && std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Reads a C-locale number after replacing every ',' by '.'.
bool readNumber(QString text, double *value)
{
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (ok)
        *value = v;
    return ok;
}

// Collects text in a stack buffer and makes one exactly sized QString at the
// end: the decoded line is built for every frame, and QString::append costs a
// capacity and sharing check per piece and leaves spare capacity behind.
class TextWriter
{
public:
    TextWriter() = default;
    TextWriter(const TextWriter &) = delete;
    TextWriter &operator=(const TextWriter &) = delete;

    void append(QStringView text)
    {
        reserve(text.size());
        std::memcpy(m_data + m_size, text.utf16(), size_t(text.size()) * sizeof(char16_t));
        m_size += text.size();
    }
    void append(QLatin1String text)
    {
        reserve(text.size());
        for (qsizetype i = 0; i < text.size(); ++i)
            m_data[m_size + i] = char16_t(uchar(text.data()[i]));
        m_size += text.size();
    }
    void append(QLatin1Char c) { append(QChar(c)); }
    void append(QChar c)
    {
        reserve(1);
        m_data[m_size++] = c.unicode();
    }

    QString take()
    {
        if (m_data == m_stack)
            return QString(reinterpret_cast<const QChar *>(m_stack), m_size);
        m_heap.resize(m_size);
        m_heap.squeeze();
        return std::move(m_heap);
    }

private:
    void reserve(qsizetype more)
    {
        if (m_size + more <= m_capacity)
            return;
        const qsizetype capacity = qMax(m_capacity * 2, m_size + more);
        if (m_data == m_stack) {
            m_heap.resize(capacity);
            std::memcpy(m_heap.data(), m_stack, size_t(m_size) * sizeof(char16_t));
        } else {
            m_heap.resize(capacity);
        }
        m_data = reinterpret_cast<char16_t *>(m_heap.data());
        m_capacity = capacity;
    }

    char16_t m_stack[256];
    char16_t *m_data = m_stack;
    qsizetype m_size = 0;
    qsizetype m_capacity = 256;
    QString m_heap;
};

// Exact tie at `places` decimals: value * 10^places ends in exactly .5. With
// value = m * 2^e and m odd that happens only for e == -(places + 1).
bool isExactTie(double value, int places)
{
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = int((bits >> 52) & 0x7FF);
    quint64 mantissa = bits & ((quint64(1) << 52) - 1);
    int exponent;
    if (biased == 0) {
        if (mantissa == 0)
            return false;
        exponent = -1074;
    } else {
        mantissa |= quint64(1) << 52;
        exponent = biased - 1075;
    }
    const int zeros = qCountTrailingZeroBits(mantissa);
    return exponent + zeros == -(places + 1);
}

// Fixed-point digits of the usual scaled signal value without a general
// conversion: value * 10^places, rounded once as a double below 2^52, is off
// from the exact product by at most half its last place, which is a multiple
// of 0.5. So unless that double lies exactly on a half, the nearest integer to
// it is the nearest integer to the exact product: the correctly rounded text.
// False (nothing written) for everything else.
bool appendFixedScaled(TextWriter &out, double value, int places)
{
    if (places > 15)
        return false;
    const double scaled = value * powersOfTen[places];
    if (!(std::fabs(scaled) < twoTo52))
        return false;   // also NaN
    qint64 n = qint64(scaled);
    const double fraction = scaled - double(n);   // exact
    if (fraction == 0.5 || fraction == -0.5)
        return false;
    if (fraction > 0.5)
        ++n;
    else if (fraction < -0.5)
        --n;
    if (n == 0 && value < 0.0)
        return false;   // "-0.0": left to the general conversion
    char buffer[40];
    char *end = buffer + sizeof buffer;
    char *p = end;
    quint64 magnitude = n < 0 ? 0 - quint64(n) : quint64(n);
    for (int i = 0; i < places; ++i) {
        *--p = char('0' + magnitude % 10);
        magnitude /= 10;
    }
    if (places > 0)
        *--p = '.';
    do {
        *--p = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (n < 0)
        *--p = '-';
    out.append(QLatin1String(p, int(end - p)));
    return true;
}

// Same text as QString::number(value, 'f', places), without its allocation in
// the common case. std::to_chars rounds exact ties to even where Qt rounds
// them away from zero, so ties (and odd values) go through Qt.
void appendFixed(TextWriter &out, double value, int places)
{
    if (value == 0.0)
        value = 0.0;   // Qt writes no sign for a negative zero
    if (appendFixedScaled(out, value, places))
        return;
    if (!std::isfinite(value) || places > 17 || std::fabs(value) >= 1e17 || isExactTie(value, places)) {
        out.append(QString::number(value, 'f', places));
        return;
    }
    char buffer[64];
    const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, places);
    out.append(QLatin1String(buffer, int(r.ptr - buffer)));
}

void appendInteger(TextWriter &out, qint64 value)
{
    char buffer[24];
    const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(QLatin1String(buffer, int(r.ptr - buffer)));
}

void appendUnsigned(TextWriter &out, quint64 value)
{
    char buffer[24];
    const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(QLatin1String(buffer, int(r.ptr - buffer)));
}

// Unsigned digits in base 16 (upper case) or 2, left-padded with '0' to `width`, plus a suffix.
void appendDigits(TextWriter &out, quint64 value, int base, int width, char suffix)
{
    const int bitsPerDigit = base == 16 ? 4 : 1;
    char buffer[72];
    char *const end = buffer + sizeof buffer;
    char *p = end;
    *--p = suffix;
    do {
        *--p = "0123456789ABCDEF"[value & quint64(base - 1)];
        value >>= bitsPerDigit;
    } while (value != 0);
    while (end - 1 - p < width && p > buffer)
        *--p = '0';
    out.append(QLatin1String(p, int(end - p)));
}

void appendNumber(TextWriter &out, const SymbolDatabase &db, const SymVariable &variable, double value)
{
    if (variable.decimals >= 0) {
        appendFixed(out, value, variable.decimals);
        return;
    }
    if (variable.type == SymType::Float || variable.type == SymType::Double) {
        if (db.floatDecimalPlaces >= 0) {
            appendFixed(out, value, db.floatDecimalPlaces);
            return;
        }
        const int precision = db.floatPrecision >= 1 ? db.floatPrecision
                                                     : (variable.type == SymType::Double ? 15 : 7);
        out.append(QString::number(value, 'g', precision));
        return;
    }
    const int d = qMax(decimalsNeeded(variable.offset), decimalsNeeded(variable.factor));
    if (d == 0)
        appendFixed(out, value, 0);
    else
        appendFixed(out, value, db.floatDecimalPlaces >= 0 ? db.floatDecimalPlaces : d);
}

void appendFormattedValue(TextWriter &out, const SymbolDatabase &db, const SymVariable &variable, qint64 raw)
{
    if (const SymEnum *e = db.enumFor(variable)) {
        const auto single = e->values.constFind(raw);
        if (single != e->values.constEnd()) {
            out.append(single.value());
            return;
        }
        for (const SymEnumRange &range : e->ranges) {
            if (range.low <= raw && raw <= range.high) {
                out.append(range.text);
                return;
            }
        }
    }
    switch (variable.type) {
    case SymType::String:
    case SymType::Raw:
        return;
    case SymType::Char: {
        const int code = int(raw & 0xFF);
        if ((code >= 32 && code <= 126) || code >= 160) {
            out.append(QChar(code));
            return;
        }
        break;
    }
    case SymType::Float:
    case SymType::Double:
        appendNumber(out, db, variable, SymbolDatabase::physicalFromRaw(variable, raw));
        return;
    default:
        break;
    }

    const int w = qMax(valueWidth(variable), 0);
    quint64 u = quint64(raw);
    if (w < 64)
        u &= (quint64(1) << w) - 1;
    if (variable.displayFormat == 1)
        appendDigits(out, u, 16, (w + 3) / 4, 'h');
    else if (variable.displayFormat == 2)
        appendDigits(out, u, 2, w, 'b');
    else if (variable.factor == 1.0 && variable.offset == 0.0 && !variable.isSigned)
        appendUnsigned(out, quint64(raw));   // 64-bit patterns at 2^63 and above stay positive
    else if (variable.factor == 1.0 && variable.offset == 0.0)
        appendInteger(out, raw);
    else
        appendNumber(out, db, variable, SymbolDatabase::physicalFromRaw(variable, raw));
}

// Control characters of a string value as escapes ("\n", "\x07"): the value
// lands in one-line texts (table cells, CSV cells, the CLI's line per frame)
// that a raw line break or bell would break.
QString visibleControls(const QString &text)
{
    const auto isControl = [](QChar c) { return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F); };
    if (std::none_of(text.cbegin(), text.cend(), isControl))
        return text;
    QString result;
    result.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (!isControl(c)) {
            result.append(c);
            continue;
        }
        switch (c.unicode()) {
        case '\n': result.append(QLatin1String("\\n")); break;
        case '\r': result.append(QLatin1String("\\r")); break;
        case '\t': result.append(QLatin1String("\\t")); break;
        default:
            result.append(QLatin1String("\\x"));
            result.append(QLatin1Char("0123456789ABCDEF"[c.unicode() >> 4]));
            result.append(QLatin1Char("0123456789ABCDEF"[c.unicode() & 15]));
            break;
        }
    }
    return result;
}

} // namespace

QString SymbolDatabase::formatNumber(const SymVariable &variable, double value) const
{
    TextWriter out;
    appendNumber(out, *this, variable, value);
    return out.take();
}

QString SymbolDatabase::formatValue(const SymVariable &variable, qint64 raw) const
{
    TextWriter out;
    appendFormattedValue(out, *this, variable, raw);
    return out.take();
}

QString SymbolDatabase::rawText(const SymVariable &variable, const CanFrame &frame) const
{
    if (variable.isNumeric()) {
        const qint64 r = rawValue(variable, frame);
        if (variable.type == SymType::Float)
            return QString::number(quint64(r) & 0xFFFFFFFFu, 16).toUpper().rightJustified(8, QLatin1Char('0'))
                + QLatin1Char('h');
        if (variable.type == SymType::Double)
            return QString::number(quint64(r), 16).toUpper().rightJustified(16, QLatin1Char('0'))
                + QLatin1Char('h');
        return variable.isSigned ? QString::number(r) : QString::number(quint64(r));
    }
    const QByteArray bytes = variableBytes(variable, frame);
    QString text;
    text.reserve(bytes.size() * 3);
    for (int i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            text.append(QLatin1Char(' '));
        const quint8 b = quint8(bytes.at(i));
        text.append(QLatin1Char("0123456789ABCDEF"[b >> 4]));
        text.append(QLatin1Char("0123456789ABCDEF"[b & 15]));
    }
    return text;
}

QString SymbolDatabase::valueText(const SymVariable &variable, const CanFrame &frame) const
{
    if (variable.type == SymType::String) {
        QByteArray bytes = variableBytes(variable, frame);
        const int zero = int(bytes.indexOf('\0'));
        if (zero >= 0)
            bytes.truncate(zero);
        return visibleControls(QString::fromLatin1(bytes));
    }
    if (variable.type == SymType::Raw)
        return rawText(variable, frame);
    return formatValue(variable, rawValue(variable, frame));
}

QString SymbolDatabase::decodeText(const CanFrame &frame) const
{
    const SymMessage *message = find(frame);
    if (!message || frame.rtr || message->decodeMode == 2)
        return QString();
    // Built in place: this runs for every frame in every view.
    TextWriter line;
    {
        bool first = true;
        for (const SymVariable &variable : message->variables) {
            if (variable.decodeMode == 2)
                continue;
            // Coverage and bits in one look at the variable's position.
            quint64 bits = 0;
            const int lastByte = readVariable(variable, frame, &bits);
            if (lastByte < 0)
                continue;
            if (!first)
                line.append(QLatin1String("; "));
            first = false;
            if (variable.decodeMode != 1 && message->decodeMode != 1) {
                line.append(variable.name);
                line.append(QLatin1Char('='));
            }
            if (lastByte >= frame.dlc) {
                line.append(MissingText);   // beyond a short frame's data
                continue;
            }
            if (variable.isNumeric())
                appendFormattedValue(line, *this, variable, signExtended(variable, bits));
            else
                line.append(valueText(variable, frame));
            if (!variable.unit.isEmpty()) {
                line.append(QLatin1Char(' '));
                line.append(variable.unit);
            }
        }
    }
    return line.take();
}

bool SymbolDatabase::parseValue(const SymVariable &variable, const QString &text, qint64 *raw,
                                QString *error) const
{
    const QString s = text.trimmed();
    const bool isFloat = variable.type == SymType::Float;
    const bool isDouble = variable.type == SymType::Double;
    if (!variable.isNumeric()) {
        if (error)
            *error = tr("%1: Wert kann nicht als Zahl angegeben werden").arg(variable.name);
        return false;
    }

    qint64 value = 0;
    bool matched = false;
    bool fromEnum = false;
    bool physicalKnown = false;   // Float/Double typed as a number
    double physical = 0.0;

    if (const SymEnum *e = enumFor(variable)) {
        for (auto it = e->values.constBegin(); it != e->values.constEnd() && !matched; ++it) {
            if (s.compare(it.value(), Qt::CaseInsensitive) == 0) {
                value = it.key();
                matched = true;
            }
        }
        for (const SymEnumRange &range : e->ranges) {
            if (matched)
                break;
            if (s.compare(range.text, Qt::CaseInsensitive) == 0) {
                value = range.low;
                matched = true;
            }
        }
        fromEnum = matched;
    }

    QString entry = s;
    if (!matched && variable.type == SymType::Char) {
        // A quoted character always means its code, also a quoted digit.
        const bool quoted = entry.size() == 3 && entry.front() == QLatin1Char('\'')
            && entry.back() == QLatin1Char('\'');
        if (quoted)
            entry = entry.mid(1, 1);
        if (entry.size() == 1 && (quoted || !entry.front().isDigit())) {
            const int code = entry.front().unicode();
            value = code > 255 ? 0 : code;
            matched = true;
        }
    }

    if (!matched && (isFloat || isDouble)) {
        double number = 0.0;
        if (readNumber(entry, &number)) {
            // "nan" and "inf" would slip past every limit check.
            if (!std::isfinite(number)) {
                if (error)
                    *error = tr("Ungültiger Wert für %1: \"%2\"").arg(variable.name, s);
                return false;
            }
            physical = number;
            const double scaled = (number - variable.offset) / variable.factor;
            value = isFloat ? SymSyntax::floatPattern(scaled) : SymSyntax::doublePattern(scaled);
            matched = true;
            physicalKnown = true;
        }
    }

    const int w = valueWidth(variable);
    // An unsigned 64-bit variable takes raw values up to 2^64 - 1, kept as the bit pattern.
    const bool unsigned64 = !isFloat && !isDouble && !variable.isSigned && w >= 64;
    const auto outOfRange = [&](const QString &rawText) {
        if (error) {
            *error = tr("%1: Rohwert %2 außerhalb des Bereichs %3…%4")
                         .arg(variable.name, rawText,
                              unsigned64 ? QStringLiteral("0") : QString::number(std::numeric_limits<qint64>::min()),
                              unsigned64 ? QString::number(std::numeric_limits<quint64>::max())
                                         : QString::number(std::numeric_limits<qint64>::max()));
        }
        return false;
    };

    if (!matched && variable.displayFormat == 2
        && (entry.endsWith(QLatin1Char('b')) || entry.endsWith(QLatin1Char('B')))) {
        bool ok = false;
        const QStringView digits = QStringView(entry).chopped(1);
        const qint64 v = unsigned64 ? qint64(digits.toULongLong(&ok, 2)) : digits.toLongLong(&ok, 2);
        if (ok) {
            value = v;
            matched = true;
        }
    }

    if (!matched
        && (entry.endsWith(QLatin1Char('h'), Qt::CaseInsensitive)
            || entry.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))) {
        if (unsigned64) {
            quint64 u = 0;
            matched = SymSyntax::parseUnsigned(entry, &u);
            value = qint64(u);
        } else {
            matched = SymSyntax::parseInteger(entry, &value);
        }
    }

    // A whole number without scaling is the raw value itself: read exactly,
    // since a double keeps only 53 bits of it.
    if (!matched && variable.factor == 1.0 && variable.offset == 0.0 && isDecimalInteger(entry)) {
        const bool negative = entry.startsWith(QLatin1Char('-'));
        if (unsigned64 && !negative) {
            quint64 u = 0;
            if (!SymSyntax::parseUnsigned(entry, &u))
                return outOfRange(entry);
            value = qint64(u);
        } else if (!SymSyntax::parseInteger(entry, &value)) {
            return outOfRange(entry);
        }
        matched = true;
    }

    if (!matched) {
        double number = 0.0;
        if (!readNumber(entry, &number) || !std::isfinite(number)) {
            if (error)
                *error = tr("Ungültiger Wert für %1: \"%2\"").arg(variable.name, s);
            return false;
        }
        const double scaled = (number - variable.offset) / variable.factor;
        const auto scaledText = [scaled] {
            return std::fabs(scaled) < 1e21 ? QString::number(scaled, 'f', 0) : QString::number(scaled, 'g', 17);
        };
        const double r = std::round(scaled);
        if (unsigned64 && r >= 9223372036854775808.0 && r < 18446744073709551616.0) {
            value = qint64(quint64(r));
        } else {
            bool inRange = true;
            value = SymSyntax::roundToInt64(scaled, &inRange);
            // Beyond the 64-bit range no bit pattern holds the value.
            if (!inRange)
                return outOfRange(scaledText());
        }
    }

    if (!isFloat && !isDouble && w >= 1 && w <= 63) {
        // Shifting the largest value down stays in range for every width up
        // to 63; 2^w - 1 would overflow for an unsigned 63-bit variable.
        constexpr qint64 largest = std::numeric_limits<qint64>::max();
        const qint64 upper = variable.isSigned ? largest >> (64 - w) : largest >> (63 - w);
        const qint64 lower = variable.isSigned ? -upper - 1 : 0;
        if (value < lower || value > upper) {
            if (error)
                *error = tr("%1: Rohwert %2 außerhalb des Bereichs %3…%4")
                             .arg(variable.name, QString::number(value), QString::number(lower),
                                  QString::number(upper));
            return false;
        }
    }

    if (!physicalKnown)
        physical = physicalFromRaw(variable, value);

    if (!fromEnum && ((variable.hasMin && physical < variable.minimum)
                      || (variable.hasMax && physical > variable.maximum))) {
        if (error)
            *error = tr("%1: Wert %2 außerhalb des Bereichs %3…%4")
                         .arg(variable.name,
                              QString::number(physical, 'g', QLocale::FloatingPointShortest),
                              variable.hasMin ? QString::number(variable.minimum, 'g', 6)
                                              : QStringLiteral("-∞"),
                              variable.hasMax ? QString::number(variable.maximum, 'g', 6)
                                              : QStringLiteral("∞"));
        return false;
    }

    if (raw)
        *raw = value;
    return true;
}

bool SymbolDatabase::textToBytes(const SymVariable &variable, const QString &text, QByteArray *bytes,
                                 QString *error)
{
    const int n = qMax(variable.length, 0) / 8;
    QByteArray result;
    if (variable.type == SymType::String) {
        result = text.toLatin1();
        if (result.size() > n) {
            if (error)
                *error = tr("%1: Zeichenkette zu lang (max. %2 Zeichen)").arg(variable.name).arg(n);
            return false;
        }
    } else if (variable.type == SymType::Raw) {
        QString digits = text;
        digits.remove(QRegularExpression(QStringLiteral("\\s")));
        if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            digits.remove(0, 2);
        static const QRegularExpression hexOnly(QStringLiteral("^[0-9A-Fa-f]*$"));
        if (!hexOnly.match(digits).hasMatch() || digits.size() % 2 != 0) {
            if (error)
                *error = tr("%1: Rohdaten müssen als Hex-Bytes angegeben werden (z. B. 12 AB 05)")
                             .arg(variable.name);
            return false;
        }
        result = QByteArray::fromHex(digits.toLatin1());
        if (result.size() > n) {
            if (error)
                *error = tr("%1: Rohdaten zu lang für %2 Bits").arg(variable.name).arg(variable.length);
            return false;
        }
    } else {
        if (error)
            *error = tr("Ungültiger Wert für %1: \"%2\"").arg(variable.name, text.trimmed());
        return false;
    }
    result.append(QByteArray(n - result.size(), '\0'));
    if (bytes)
        *bytes = result;
    return true;
}

bool SymbolDatabase::applyText(const SymVariable &variable, const QString &text, CanFrame &frame,
                               QString *error) const
{
    if (variable.bits.isEmpty()) {
        if (error)
            *error = tr("%1: virtuelle Variable ohne Position").arg(variable.name);
        return false;
    }
    if (!variable.isNumeric()) {
        QByteArray bytes;
        if (!textToBytes(variable, text, &bytes, error))
            return false;
        const int first = variable.startBit / 8;
        for (int i = 0; i < bytes.size() && first >= 0 && first + i < 8; ++i)
            frame.data[first + i] = quint8(bytes.at(i));
    } else {
        qint64 raw = 0;
        if (!parseValue(variable, text, &raw, error))
            return false;
        insert(variable.bits, quint64(raw), frame);
    }
    const int lastByte = readVariable(variable, frame, nullptr);
    if (lastByte >= frame.dlc)
        frame.dlc = quint8(lastByte + 1);
    return true;
}
