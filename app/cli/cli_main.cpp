#include "cli.h"

#include "busvistaversion.h"
#include "canframe.h"
#include "clibus.h"
#include "symbolfile.h"

#include <QCoreApplication>

#include <cmath>

#include <memory>
#include <vector>

namespace {

std::vector<const CliCommand *> &registry()
{
    static std::vector<const CliCommand *> commands;
    return commands;
}

QString usageText()
{
    QString text = QStringLiteral("Aufruf: busvista-cli BEFEHL [OPTIONEN]  (BEFEHL --help zeigt die Optionen)\n"
                                  "       busvista-cli --help | --version");
    for (const CliCommand *command : registry())
        text += QStringLiteral("\n  busvista-cli %1").arg(QString::fromUtf8(command->usage));
    return text;
}

void printUsage()
{
    Cli::err(usageText());
}

const CliCommand *findCommand(const char *name)
{
    for (const CliCommand *command : registry()) {
        if (qstrcmp(command->name, name) == 0)
            return command;
    }
    return nullptr;
}

bool isHelp(const QString &arg)
{
    return arg == QLatin1String("--help") || arg == QLatin1String("-h");
}

} // namespace

CliCommand::CliCommand(const char *name_, const char *usage_, Run run_, MakeApplication makeApplication_)
    : name(name_), usage(usage_), run(run_), makeApplication(makeApplication_)
{
    registry().push_back(this);
}

namespace Cli {

void out(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
}

void err(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fputc('\n', stderr);
}

bool loadSymbols(const QString &path, std::shared_ptr<const SymbolDatabase> *db)
{
    auto loaded = std::make_shared<SymbolDatabase>();
    QString error;
    if (!loaded->load(path, &error)) {
        err(error);
        return false;
    }
    *db = std::move(loaded);
    return true;
}

bool parseSeconds(const QString &text, double *seconds)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0 || value > 1000000)
        return false;
    *seconds = value;
    return true;
}

} // namespace Cli

CliOptions::CliOptions(const char *command)
    : m_command(command)
{
}

void CliOptions::add(const QString &name, const QString &description, const QString &valueName)
{
    QCommandLineOption option(name, description, valueName);
    m_parser.addOption(option);
    m_options.append(option);
}

void CliOptions::addSeconds()
{
    add(QStringLiteral("seconds"), QStringLiteral("Dauer in Sekunden"), QStringLiteral("S"));
    m_withSeconds = true;
}

void CliOptions::allowPositional()
{
    m_positionalAllowed = true;
}

int CliOptions::parse(const QStringList &args, CliBus::Choice *bus)
{
    m_withBus = bus != nullptr;
    for (const QString &arg : args) {
        if (isHelp(arg)) {
            Cli::out(helpText());
            return Cli::Ok;
        }
        if (arg == QLatin1String("--"))
            break;
    }
    QStringList rest = args;
    QString error;
    if (bus && !CliBus::take(&rest, bus, &error))
        return fail(error);
    if (!m_parser.parse(QStringList {QStringLiteral("busvista-cli")} + rest)) {
        const QStringList unknown = m_parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return fail(QStringLiteral("Unbekannte Option: %1%2")
                            .arg(unknown.first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--"),
                                 unknown.first()));
        for (const QCommandLineOption &option : std::as_const(m_options)) {
            const QString name = QStringLiteral("--") + option.names().first();
            if (!option.valueName().isEmpty() && !rest.isEmpty() && rest.last() == name)
                return fail(QStringLiteral("%1 braucht einen Wert.").arg(name));
        }
        return fail(m_parser.errorText());
    }
    if (!m_positionalAllowed && !positional().isEmpty())
        return fail(QStringLiteral("Unerwartetes Argument: %1").arg(positional().first()));
    if (m_withSeconds) {
        if (!isSet(QStringLiteral("seconds")))
            return fail(QStringLiteral("--seconds fehlt."));
        if (!Cli::parseSeconds(value(QStringLiteral("seconds")), &m_seconds))
            return fail(QStringLiteral("Ungültige Dauer: %1").arg(value(QStringLiteral("seconds"))));
    }
    return -1;
}

bool CliOptions::isSet(const QString &name) const
{
    return m_parser.isSet(name);
}

QString CliOptions::value(const QString &name) const
{
    return m_parser.value(name);
}

QStringList CliOptions::values(const QString &name) const
{
    return m_parser.values(name);
}

QStringList CliOptions::positional() const
{
    return m_parser.positionalArguments();
}

int CliOptions::fail(const QString &message) const
{
    if (!message.isEmpty())
        Cli::err(message);
    const CliCommand *command = findCommand(m_command);
    Cli::err(QStringLiteral("Aufruf: busvista-cli %1").arg(command ? QString::fromUtf8(command->usage) : QString()));
    if (m_withBus)
        Cli::err(QStringLiteral("  %1").arg(CliBus::usageLine()));
    return Cli::Usage;
}

QString CliOptions::helpText() const
{
    const CliCommand *command = findCommand(m_command);
    QString text = QStringLiteral("Aufruf: busvista-cli %1\n").arg(command ? QString::fromUtf8(command->usage) : QString());
    text += QStringLiteral("\nOptionen:\n");
    for (const QCommandLineOption &option : m_options) {
        QString names = QStringLiteral("--") + option.names().first();
        if (!option.valueName().isEmpty())
            names += QLatin1Char(' ') + option.valueName();
        text += QStringLiteral("  %1  %2\n").arg(names, -22).arg(option.description());
    }
    text += QStringLiteral("  %1  %2\n").arg(QStringLiteral("-h, --help"), -22).arg(QStringLiteral("diese Hilfe"));
    if (m_withBus)
        text += QLatin1Char('\n') + CliBus::helpText();
    return text.trimmed();
}

int main(int argc, char **argv)
{
    const CliCommand *chosen = argc > 1 ? findCommand(argv[1]) : nullptr;
    const std::unique_ptr<QCoreApplication> app(chosen && chosen->makeApplication
                                                    ? chosen->makeApplication(argc, argv)
                                                    : new QCoreApplication(argc, argv));
    QCoreApplication::setOrganizationName(QStringLiteral("busvista.de"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("busvista.de"));
    QCoreApplication::setApplicationName(QStringLiteral("Busvista"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BUSVISTA_VERSION));
    qRegisterMetaType<CanFrame>();
    qRegisterMetaType<QList<CanFrame>>();

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty()) {
        printUsage();
        return Cli::Usage;
    }
    if (isHelp(args.first())) {
        Cli::out(usageText());
        return Cli::Ok;
    }
    if (args.first() == QLatin1String("--version")) {
        Cli::out(QStringLiteral("busvista-cli " BUSVISTA_VERSION));
        return Cli::Ok;
    }
    const QString name = args.takeFirst();
    for (const CliCommand *command : registry()) {
        if (name == QLatin1String(command->name))
            return command->run(args);
    }
    Cli::err(QStringLiteral("Unbekannter Befehl: %1").arg(name));
    printUsage();
    return Cli::Usage;
}
