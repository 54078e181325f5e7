#include "symsyntax.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace SymSyntax {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

namespace {

// Magnitude of digits in base 10 or 16; false on an empty text, a foreign
// character or a value above `limit`.
bool parseMagnitude(QStringView digits, int base, quint64 limit, quint64 *value)
{
    if (digits.isEmpty())
        return false;
    quint64 result = 0;
    for (QChar c : digits) {
        const int d = hexDigit(c);
        if (d < 0 || d >= base)
            return false;
        if (result > (limit - quint64(d)) / quint64(base))
            return false;
        result = result * quint64(base) + quint64(d);
    }
    *value = result;
    return true;
}

bool startsWithHexPrefix(QStringView text)
{
    return text.size() >= 2 && text.at(0) == QLatin1Char('0')
        && (text.at(1) == QLatin1Char('x') || text.at(1) == QLatin1Char('X'));
}

bool endsWithH(QStringView text)
{
    return !text.isEmpty() && (text.back() == QLatin1Char('h') || text.back() == QLatin1Char('H'));
}

} // namespace

bool parseInteger(QStringView text, qint64 *value)
{
    QStringView rest = text.trimmed();
    bool negative = false;
    if (!rest.isEmpty() && (rest.front() == QLatin1Char('-') || rest.front() == QLatin1Char('+'))) {
        negative = rest.front() == QLatin1Char('-');
        rest = rest.mid(1);
    }
    if (rest.isEmpty())
        return false;
    int base = 10;
    if (endsWithH(rest)) {
        rest.chop(1);
        base = 16;
    } else if (startsWithHexPrefix(rest)) {
        rest = rest.mid(2);
        base = 16;
    }
    // A negative value may reach 2^63 in magnitude.
    const quint64 limit = negative ? quint64(1) << 63 : (quint64(1) << 63) - 1;
    quint64 magnitude = 0;
    if (!parseMagnitude(rest, base, limit, &magnitude))
        return false;
    if (value)
        *value = negative ? qint64(0 - magnitude) : qint64(magnitude);
    return true;
}

bool parseUnsigned(QStringView text, quint64 *value)
{
    QStringView rest = text.trimmed();
    if (!rest.isEmpty() && rest.front() == QLatin1Char('+'))
        rest = rest.mid(1);
    int base = 10;
    if (endsWithH(rest)) {
        rest.chop(1);
        base = 16;
    } else if (startsWithHexPrefix(rest)) {
        rest = rest.mid(2);
        base = 16;
    }
    quint64 magnitude = 0;
    if (!parseMagnitude(rest, base, ~quint64(0), &magnitude))
        return false;
    if (value)
        *value = magnitude;
    return true;
}

bool parseBool(QStringView text)
{
    const QStringView t = text.trimmed();
    return t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || t == QLatin1String("1");
}

QString unquote(const QString &text)
{
    const QString t = text.trimmed();
    if (t.size() >= 2 && t.startsWith(QLatin1Char('"')) && t.endsWith(QLatin1Char('"')))
        return t.mid(1, t.size() - 2);
    return t;
}

QStringList splitQuoted(QStringView text)
{
    QStringList tokens;
    QString current;
    bool inQuotes = false;
    bool haveToken = false;   // a pair of quotes alone still makes an (empty) token
    bool quoted = false;      // the current token contains quotes
    qsizetype start = 0;
    const auto finish = [&](qsizetype end) {
        // Unquoted tokens are cut out in one piece: exact size, no slack.
        tokens.append(quoted ? current : text.mid(start, end - start).toString());
        current.clear();
        haveToken = false;
        quoted = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('"')) {
            if (!haveToken)
                start = i;
            if (!quoted)
                current = text.mid(start, i - start).toString();
            inQuotes = !inQuotes;
            haveToken = true;
            quoted = true;
        } else if (!inQuotes && c.isSpace()) {
            if (haveToken)
                finish(i);
        } else {
            if (!haveToken)
                start = i;
            if (quoted)
                current.append(c);
            haveToken = true;
        }
    }
    if (haveToken)
        finish(text.size());
    return tokens;
}

bool parseHex(QStringView text, quint64 *value)
{
    QStringView t = text.trimmed();
    if (endsWithH(t))
        t.chop(1);
    if (startsWithHexPrefix(t))
        t = t.mid(2);
    return parseMagnitude(t, 16, ~quint64(0), value);
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

qint64 roundToInt64(double value, bool *inRange)
{
    const double r = std::round(value);
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    const double bound = 9223372036854775808.0;
    bool ok = true;
    qint64 result = 0;
    if (std::isnan(r)) {
        ok = false;
    } else if (r >= bound) {
        ok = false;
        result = std::numeric_limits<qint64>::max();
    } else if (r < -bound) {
        ok = false;
        result = std::numeric_limits<qint64>::min();
    } else {
        result = qint64(r);
    }
    if (inRange)
        *inRange = ok;
    return result;
}

bool parsePosition(QStringView token, qint64 *start, qint64 *length)
{
    const qsizetype comma = token.indexOf(QLatin1Char(','));
    if (comma < 0)
        return false;
    const auto digits = [](QStringView part, qint64 *out) {
        if (part.isEmpty())
            return false;
        qint64 v = 0;
        for (QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
            v = qMin<qint64>(v * 10 + (c.unicode() - '0'), qint64(1) << 40);
        }
        *out = v;
        return true;
    };
    return digits(token.left(comma), start) && digits(token.mid(comma + 1), length);
}

bool isHexNotation(QStringView text)
{
    QStringView t = text.trimmed();
    if (!t.isEmpty() && (t.front() == QLatin1Char('-') || t.front() == QLatin1Char('+')))
        t = t.mid(1);
    return endsWithH(t) || startsWithHexPrefix(t);
}

QString upperCased(const QString &name)
{
    bool lower = false;
    for (QChar c : name) {
        if (c.unicode() >= 0x80)
            return name.toUpper();
        lower = lower || (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
    }
    if (!lower)
        return name;
    QString upper = name;
    for (QChar &c : upper) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    }
    return upper;
}

} // namespace SymSyntax
