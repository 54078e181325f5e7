#pragma once

#include <QDoubleSpinBox>

// Spin box of an axis limit: keeps the value to many decimals and shows it
// with six significant digits, so that 0.00019 stays 0.00019 instead of
// becoming 0.000 and 1234567 is not cut to a fixed count of decimals.
// Arrow keys step by one unit of the value's second significant digit.
class RangeSpinBox : public QDoubleSpinBox
{
    Q_OBJECT

public:
    explicit RangeSpinBox(QWidget *parent = nullptr);

    // The text for a value: six significant digits, no trailing zeros,
    // exponent form only below 1e-4.
    static QString text(double value, const QLocale &locale);

    QString textFromValue(double value) const override;
    double valueFromText(const QString &text) const override;
    QValidator::State validate(QString &input, int &pos) const override;
    void fixup(QString &input) const override;
    void stepBy(int steps) override;

private:
    bool parse(const QString &input, double *value) const;
};
