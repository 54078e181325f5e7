#include "commandline.h"

QString CommandLine::value(const QStringList &arguments, const QString &name)
{
    const int index = arguments.indexOf(name, 1);
    if (index < 0 || index + 1 >= arguments.size())
        return QString();
    return arguments.at(index + 1);
}

bool CommandLine::flag(const QStringList &arguments, const QString &name)
{
    return arguments.indexOf(name, 1) >= 0;
}

CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine line;
    line.settingsDir = value(arguments, QStringLiteral("--settings-dir"));
    line.symbolFile = value(arguments, QStringLiteral("--sym"));
    line.sim = flag(arguments, QStringLiteral("--sim"));
    line.trace = flag(arguments, QStringLiteral("--trace"));
    line.loadTrace = value(arguments, QStringLiteral("--load-trace"));
    const QString tab = value(arguments, QStringLiteral("--tab"));
    if (!tab.isEmpty()) {
        line.hasTab = true;
        bool ok = false;
        const int index = tab.toInt(&ok, 10);
        line.tab = ok ? index : 0;
    }
    line.noUpdateCheck = flag(arguments, QStringLiteral("--no-update-check"));
    line.screenshot = value(arguments, QStringLiteral("--screenshot"));
    line.uiSnapshots = value(arguments, QStringLiteral("--ui-snapshots"));
    const QString plot = value(arguments, QStringLiteral("--plot"));
    for (const QString &name : plot.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (!name.trimmed().isEmpty())
            line.plotSignals.append(name.trimmed());
    }
    return line;
}
