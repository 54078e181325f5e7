#include "plotsignalref.h"

#include <QStringList>

QString PlotSignalRef::toString() const
{
    return message + QLatin1Char('|') + mux + QLatin1Char('|') + variable;
}

PlotSignalRef PlotSignalRef::fromString(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('|'));
    if (parts.size() != 3)
        return {};
    return {parts.at(0), parts.at(1), parts.at(2)};
}

QString PlotSignalRef::displayName() const
{
    if (!mux.isEmpty())
        return QStringLiteral("%1[%2].%3").arg(message, mux, variable);
    return QStringLiteral("%1.%2").arg(message, variable);
}
