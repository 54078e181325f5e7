#include "replayoptions.h"

#include <QCoreApplication>
#include <QLocale>

#include <cmath>

bool ReplayOptions::parseSpeed(const QString &text, double *speed, QString *error)
{
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("max"), Qt::CaseInsensitive) == 0) {
        *speed = AsFastAsPossible;
        return true;
    }
    QString number = trimmed;
    if (number.endsWith(QChar(0x00D7)) || number.endsWith(QLatin1Char('x'), Qt::CaseInsensitive))
        number.chop(1);
    number.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = number.toDouble(&ok);
    // A small tolerance, so that "0.1" typed as text is not refused for rounding.
    if (!ok || !std::isfinite(value) || value < MinSpeed - 1e-9 || value > MaxSpeed + 1e-9) {
        if (error)
            *error = QCoreApplication::translate("ReplayOptions",
                                                 "Ungültige Geschwindigkeit: %1 (0,1 bis 10 oder max)")
                         .arg(text);
        return false;
    }
    *speed = value;
    return true;
}

QString ReplayOptions::speedText(double speed)
{
    if (speed <= 0)
        return QStringLiteral("max");
    return QLocale(QLocale::German).toString(speed, 'g', 3) + QChar(0x00D7);
}
