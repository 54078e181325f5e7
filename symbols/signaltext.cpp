// Text of signal values: formatting for the views and parsing of values the
// user types (the SymbolDatabase operations that turn bits into text and back).
#include "symbolfile.h"

#include "symsyntax.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

const double powersOfTen[10] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

bool isIntegral(double x)
{
    return std::fabs(x - std::round(x)) < qMax(x, 1.0) * 1e-9;
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

int largestSlot(const QList<quint8> &bits)
{
    int largest = -1;
    for (quint8 slot : bits)
        largest = qMax(largest, int(slot));
    return largest;
}

double floatFromPattern(quint64 pattern)
{
    const quint32 low = quint32(pattern);
    float single;
    std::memcpy(&single, &low, sizeof single);
    return double(single);
}

double doubleFromPattern(quint64 pattern)
{
    double value;
    std::memcpy(&value, &pattern, sizeof value);
    return value;
}

qint64 floatPattern(double value)
{
    const float single = float(value);
    quint32 pattern;
    std::memcpy(&pattern, &single, sizeof pattern);
    return qint64(quint64(pattern));
}

qint64 doublePattern(double value)
{
    quint64 pattern;
    std::memcpy(&pattern, &value, sizeof pattern);
    return qint64(pattern);
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

} // namespace

QString SymbolDatabase::formatNumber(const SymVariable &variable, double value) const
{
    if (variable.decimals >= 0)
        return QString::number(value, 'f', variable.decimals);
    if (variable.type == SymType::Float || variable.type == SymType::Double) {
        if (floatDecimalPlaces >= 0)
            return QString::number(value, 'f', floatDecimalPlaces);
        const int precision = floatPrecision >= 1 ? floatPrecision
                                                  : (variable.type == SymType::Double ? 15 : 7);
        return QString::number(value, 'g', precision);
    }
    const int d = qMax(decimalsNeeded(variable.offset), decimalsNeeded(variable.factor));
    if (d == 0)
        return QString::number(value, 'f', 0);
    return QString::number(value, 'f', floatDecimalPlaces >= 0 ? floatDecimalPlaces : d);
}

QString SymbolDatabase::formatValue(const SymVariable &variable, qint64 raw) const
{
    if (const SymEnum *e = enumFor(variable)) {
        QString text;
        if (e->textFor(raw, &text))
            return text;
    }
    switch (variable.type) {
    case SymType::String:
    case SymType::Raw:
        return QString();
    case SymType::Char: {
        const int code = int(raw & 0xFF);
        if ((code >= 32 && code <= 126) || code >= 160)
            return QString(QChar(code));
        break;
    }
    case SymType::Float:
        return formatNumber(variable, floatFromPattern(quint64(raw)) * variable.factor + variable.offset);
    case SymType::Double:
        return formatNumber(variable, doubleFromPattern(quint64(raw)) * variable.factor + variable.offset);
    default:
        break;
    }

    const int w = valueWidth(variable);
    quint64 u = quint64(raw);
    if (w < 64)
        u &= w <= 0 ? 0 : (quint64(1) << w) - 1;
    if (variable.displayFormat == 1)
        return QString::number(u, 16).toUpper().rightJustified((qMax(w, 0) + 3) / 4, QLatin1Char('0'))
            + QLatin1Char('h');
    if (variable.displayFormat == 2)
        return QString::number(u, 2).rightJustified(qMax(w, 0), QLatin1Char('0')) + QLatin1Char('b');
    if (variable.factor == 1.0 && variable.offset == 0.0)
        return QString::number(raw);
    return formatNumber(variable, double(raw) * variable.factor + variable.offset);
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
        return QString::number(r);
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
        return QString::fromLatin1(bytes);
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
    QString line;
    for (const SymVariable &variable : message->variables) {
        if (variable.decodeMode == 2 || variable.bits.isEmpty())
            continue;
        if (largestSlot(variable.bits) / 8 >= frame.dlc)
            continue;
        if (!line.isEmpty())
            line.append(QLatin1String("; "));
        if (variable.decodeMode != 1 && message->decodeMode != 1) {
            line.append(variable.name);
            line.append(QLatin1Char('='));
        }
        line.append(valueText(variable, frame));
        if (!variable.unit.isEmpty()) {
            line.append(QLatin1Char(' '));
            line.append(variable.unit);
        }
    }
    return line;
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
            physical = number;
            const double scaled = (number - variable.offset) / variable.factor;
            value = isFloat ? floatPattern(scaled) : doublePattern(scaled);
            matched = true;
            physicalKnown = true;
        }
    }

    if (!matched && variable.displayFormat == 2
        && (entry.endsWith(QLatin1Char('b')) || entry.endsWith(QLatin1Char('B')))) {
        bool ok = false;
        const qint64 v = QStringView(entry).chopped(1).toLongLong(&ok, 2);
        if (ok) {
            value = v;
            matched = true;
        }
    }

    if (!matched
        && (entry.endsWith(QLatin1Char('h'), Qt::CaseInsensitive)
            || entry.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))) {
        matched = SymSyntax::parseInteger(entry, &value);
    }

    const int w = valueWidth(variable);
    if (!matched) {
        double number = 0.0;
        if (!readNumber(entry, &number)) {
            if (error)
                *error = tr("Ungültiger Wert für %1: \"%2\"").arg(variable.name, s);
            return false;
        }
        bool inRange = true;
        value = SymSyntax::roundToInt64((number - variable.offset) / variable.factor, &inRange);
        // Beyond the 64-bit range no bit pattern holds the value.
        if (!inRange) {
            if (error) {
                const bool unsignedWide = !variable.isSigned && w >= 64;
                *error = tr("%1: Rohwert %2 außerhalb des Bereichs %3…%4")
                             .arg(variable.name,
                                  QString::number((number - variable.offset) / variable.factor, 'g', 17),
                                  unsignedWide ? QStringLiteral("0") : QString::number(std::numeric_limits<qint64>::min()),
                                  unsignedWide ? QString::number(std::numeric_limits<quint64>::max())
                                               : QString::number(std::numeric_limits<qint64>::max()));
            }
            return false;
        }
    }

    if (!isFloat && !isDouble && w >= 1 && w <= 63) {
        const qint64 lower = variable.isSigned ? -(qint64(1) << (w - 1)) : 0;
        const qint64 upper = variable.isSigned ? (qint64(1) << (w - 1)) - 1 : (qint64(1) << w) - 1;
        if (value < lower || value > upper) {
            if (error)
                *error = tr("%1: Rohwert %2 außerhalb des Bereichs %3…%4")
                             .arg(variable.name, QString::number(value), QString::number(lower),
                                  QString::number(upper));
            return false;
        }
    }

    if (!physicalKnown) {
        if (isFloat)
            physical = floatFromPattern(quint64(value)) * variable.factor + variable.offset;
        else if (isDouble)
            physical = doubleFromPattern(quint64(value)) * variable.factor + variable.offset;
        else
            physical = double(value) * variable.factor + variable.offset;
    }

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
    const int lastByte = largestSlot(variable.bits) / 8;
    if (lastByte >= frame.dlc)
        frame.dlc = quint8(lastByte + 1);
    return true;
}
