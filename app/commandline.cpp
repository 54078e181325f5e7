#include "commandline.h"

#include "busvistaversion.h"

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
    line.help = flag(arguments, QStringLiteral("--help")) || flag(arguments, QStringLiteral("-h"));
    line.version = flag(arguments, QStringLiteral("--version"));
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

QString CommandLine::usageText()
{
    return QStringLiteral(
        "Aufruf: busvista [OPTIONEN]\n"
        "CAN-Bus-Monitor mit Fenster; busvista-cli arbeitet ohne.\n"
        "\n"
        "Optionen:\n"
        "  --settings-dir ORDNER   Einstellungen als INI-Dateien unter ORDNER\n"
        "  --sym DATEI             diese Symboldatei nach dem Start laden\n"
        "  --plot NAME[,NAME...]   diese Signale in den Plotter legen (nach --sym)\n"
        "  --sim                   den simulierten Bus sofort öffnen\n"
        "  --trace                 die Trace-Aufzeichnung starten\n"
        "  --load-trace DATEI      diese Trace-Datei laden\n"
        "  --tab N                 Registerkarte N zeigen (0 Empfangen / Senden, 1 Plotter, 2 Trace)\n"
        "  --no-update-check       bei diesem Start nicht nach Updates suchen\n"
        "  --screenshot DATEI      nach --delay ms ein Bild des Fensters speichern und beenden\n"
        "  --ui-snapshots ORDNER   ein Bild je Ansicht in ORDNER speichern und beenden\n"
        "  --delay MS              Wartezeit vor den Bildern (Standard 5000)\n"
        "  --marker T, --marker-click, --axis2-cycle\n"
        "                          Schritte im Plotter vor den Bildern\n"
        "  -h, --help              diese Hilfe\n"
        "  --version               die Versionsnummer");
}

QString CommandLine::versionText()
{
    return QStringLiteral("busvista " BUSVISTA_VERSION);
}
