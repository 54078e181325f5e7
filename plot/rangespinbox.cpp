#include "rangespinbox.h"

#include <QLineEdit>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

constexpr int Significant = 6;

} // namespace

RangeSpinBox::RangeSpinBox(QWidget *parent)
    : QDoubleSpinBox(parent)
{
    // QDoubleSpinBox rounds every value to its decimals: keep enough of them
    // for the smallest ranges a signal may have.
    setDecimals(20);
}

QString RangeSpinBox::text(double value, const QLocale &locale)
{
    const double magnitude = std::fabs(value);
    if (value == 0.0)
        return QStringLiteral("0");
    if (magnitude < 1e-4)
        return locale.toString(value, 'g', Significant);
    const int digits = int(std::floor(std::log10(magnitude)));
    const int decimals = std::clamp(Significant - 1 - digits, 0, 15);
    QString text = locale.toString(value, 'f', decimals);
    const QChar point = locale.decimalPoint().at(0);
    if (text.contains(point)) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(point))
            text.chop(1);
    }
    text.remove(locale.groupSeparator());
    return text;
}

QString RangeSpinBox::textFromValue(double value) const
{
    return text(value, locale());
}

bool RangeSpinBox::parse(const QString &input, double *value) const
{
    QString text = input.trimmed();
    if (!prefix().isEmpty() && text.startsWith(prefix()))
        text.remove(0, prefix().size());
    if (!suffix().isEmpty() && text.endsWith(suffix()))
        text.chop(suffix().size());
    text = text.trimmed();
    bool ok = false;
    double parsed = locale().toDouble(text, &ok);
    if (!ok)
        parsed = QLocale::c().toDouble(text, &ok);
    if (ok && value)
        *value = parsed;
    return ok && std::isfinite(parsed);
}

double RangeSpinBox::valueFromText(const QString &text) const
{
    double value = 0.0;
    return parse(text, &value) ? value : this->value();
}

QValidator::State RangeSpinBox::validate(QString &input, int &pos) const
{
    Q_UNUSED(pos);
    double value = 0.0;
    if (parse(input, &value))
        return value >= minimum() && value <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
    // Half-typed numbers such as "-", "1e" or "0," may still become one.
    const QString allowed = QStringLiteral("0123456789+-eE.,") + locale().decimalPoint();
    for (const QChar c : input) {
        if (!allowed.contains(c) && !c.isSpace())
            return QValidator::Invalid;
    }
    return QValidator::Intermediate;
}

void RangeSpinBox::fixup(QString &input) const
{
    input = textFromValue(value());
}

void RangeSpinBox::stepBy(int steps)
{
    const double magnitude = std::fabs(value());
    const double unit = magnitude > 0 ? std::pow(10.0, std::floor(std::log10(magnitude)) - 1) : 1.0;
    setValue(value() + steps * unit);
    selectAll();
}
