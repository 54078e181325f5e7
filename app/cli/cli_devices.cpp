// busvista-cli devices: lists the isCAN devices of the driver configuration
// the way the connection dialog shows them.
#include "cli.h"

#include "iscan.h"
#include "iscanbackend.h"

namespace {

const char Usage[] = "devices [--dll PFAD]";

int runDevices(const QStringList &args)
{
    CliOptions options("devices");
    options.add(QStringLiteral("dll"), QStringLiteral("isCAN-Treiber-DLL statt der Standardsuche"), QStringLiteral("PFAD"));
    if (const int exit = options.parse(args); exit >= 0)
        return exit;
    if (!options.positional().isEmpty())
        return options.fail(QStringLiteral("Unerwartetes Argument: %1").arg(options.positional().first()));

    int unconfigured = 0;
    QString message;
    const QList<IsCanDeviceInfo> devices =
        IsCanBackend::enumerateDevices(options.value(QStringLiteral("dll")), &unconfigured, &message);
    if (!IsCan::Library::instance()->isLoaded()) {
        Cli::err(message);
        return Cli::Failed;
    }
    for (const IsCanDeviceInfo &device : devices)
        Cli::out(IsCanBackend::deviceText(device));
    const QString info = IsCanBackend::deviceListInfo(devices, unconfigured, message);
    if (devices.isEmpty()) {
        Cli::err(info);
        return Cli::Failed;
    }
    Cli::out(info);
    return Cli::Ok;
}

const CliCommand command("devices", Usage, runDevices);

} // namespace
