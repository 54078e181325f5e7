#include "cli.h"

#include "canframe.h"
#include "simulationbackend.h"

#include <QCoreApplication>
#include <QTimer>

#include <cmath>

#include <vector>

namespace {

std::vector<const CliCommand *> &registry()
{
    static std::vector<const CliCommand *> commands;
    return commands;
}

void printUsage()
{
    Cli::err(QStringLiteral("Aufruf: busvista-cli BEFEHL [OPTIONEN]"));
    for (const CliCommand *command : registry())
        Cli::err(QStringLiteral("  busvista-cli %1").arg(QString::fromUtf8(command->usage)));
}

} // namespace

CliCommand::CliCommand(const char *name_, const char *usage_, Run run_)
    : name(name_), usage(usage_), run(run_)
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

int usageError(const char *command, const QString &message)
{
    if (!message.isEmpty())
        err(message);
    for (const CliCommand *c : registry()) {
        if (qstrcmp(c->name, command) == 0) {
            err(QStringLiteral("Aufruf: busvista-cli %1").arg(QString::fromUtf8(c->usage)));
            return Usage;
        }
    }
    printUsage();
    return Usage;
}

bool optionValue(const QStringList &args, const QString &name, QString *value, bool *missing)
{
    const int at = args.indexOf(name);
    if (missing)
        *missing = false;
    if (at < 0)
        return false;
    if (at + 1 >= args.size()) {
        if (missing)
            *missing = true;
        return false;
    }
    *value = args.at(at + 1);
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

bool runSimulation(SimulationBackend &backend, double seconds, const std::function<void()> &started)
{
    ConnectParams params;
    params.interface = 1;
    QString error;
    if (!backend.open(params, &error)) {
        err(error);
        return false;
    }
    if (started)
        started();
    QTimer::singleShot(int(std::llround(seconds * 1000)), Qt::PreciseTimer, QCoreApplication::instance(),
                       &QCoreApplication::quit);
    QCoreApplication::exec();
    backend.close();
    backend.flushQueue(); // what was generated before the end still counts
    return true;
}

} // namespace Cli

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("busvista.de"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("busvista.de"));
    QCoreApplication::setApplicationName(QStringLiteral("Busvista"));
    QCoreApplication::setApplicationVersion(QStringLiteral("0.1.13"));
    qRegisterMetaType<CanFrame>();
    qRegisterMetaType<QList<CanFrame>>();

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty()) {
        printUsage();
        return Cli::Usage;
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
