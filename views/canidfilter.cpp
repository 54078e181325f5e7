#include "canidfilter.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

bool parseHex(QString text, unsigned int *out)
{
    text = text.trimmed();
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        text.remove(0, 2);
    else if (text.endsWith(QLatin1Char('h'), Qt::CaseInsensitive))
        text.chop(1);
    if (text.isEmpty() || text.size() > 8)
        return false;
    // Digits only: toUInt would also take a sign, blanks and a second "0x".
    const auto isHexDigit = [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    };
    if (!std::all_of(text.cbegin(), text.cend(), isHexDigit))
        return false;
    bool ok = false;
    const uint value = text.toUInt(&ok, 16);
    if (!ok || value > 0x1FFFFFFFu)
        return false;
    *out = value;
    return true;
}

} // namespace

bool CanIdFilter::parse(const QString &text, QString *error)
{
    static const QRegularExpression dash(QStringLiteral("\\s*-\\s*"));
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));

    QString normalised = text;
    normalised.replace(dash, QStringLiteral("-"));
    const QStringList parts = normalised.split(separators, Qt::SkipEmptyParts);

    QList<std::pair<unsigned int, unsigned int>> collected;
    collected.reserve(parts.size());
    for (const QString &part : parts) {
        const int at = part.indexOf(QLatin1Char('-'));
        if (at >= 0) {
            unsigned int first = 0;
            unsigned int last = 0;
            if (!parseHex(part.left(at), &first) || !parseHex(part.mid(at + 1), &last)) {
                if (error)
                    *error = QStringLiteral("Ungültiger Bereich \"%1\" (Form: von-bis, hexadezimal)").arg(part);
                return false;
            }
            if (first > last) {
                if (error)
                    *error = QStringLiteral("Bereich \"%1\": Anfang ist größer als Ende").arg(part);
                return false;
            }
            collected.append({first, last});
        } else {
            unsigned int value = 0;
            if (!parseHex(part, &value)) {
                if (error)
                    *error = QStringLiteral("Ungültige ID \"%1\" (hexadezimal, max. 1FFFFFFF)").arg(part);
                return false;
            }
            collected.append({value, value});
        }
    }

    std::sort(collected.begin(), collected.end());
    QList<std::pair<unsigned int, unsigned int>> merged;
    for (const auto &range : collected) {
        // Bounds are at most 0x1FFFFFFF, so last + 1 cannot overflow.
        if (!merged.isEmpty() && range.first <= merged.last().second + 1)
            merged.last().second = std::max(merged.last().second, range.second);
        else
            merged.append(range);
    }
    ranges = merged;
    return true;
}

bool CanIdFilter::matchesId(unsigned int id) const
{
    const auto after = std::upper_bound(ranges.cbegin(), ranges.cend(), id,
                                        [](unsigned int value, const std::pair<unsigned int, unsigned int> &r) {
                                            return value < r.first;
                                        });
    if (after == ranges.cbegin())
        return false;
    return id <= std::prev(after)->second;
}

bool CanIdFilter::accepts(const CanFrame &frame) const
{
    if (!enabled || ranges.isEmpty() || frame.status || frame.error)
        return true;
    const bool match = matchesId(frame.id);
    return mode == Include ? match : !match;
}

QString CanIdFilter::summary() const
{
    if (!enabled || ranges.isEmpty())
        return QString();
    QStringList items;
    items.reserve(ranges.size());
    for (const auto &range : ranges) {
        if (range.first == range.second)
            items.append(QString::number(range.first, 16).toUpper());
        else
            items.append(QStringLiteral("%1-%2").arg(QString::number(range.first, 16).toUpper(),
                                                     QString::number(range.second, 16).toUpper()));
    }
    return (mode == Include ? QStringLiteral("nur ") : QStringLiteral("außer ")) + items.join(QStringLiteral(", "));
}
