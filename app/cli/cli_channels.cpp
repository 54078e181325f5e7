// busvista-cli channels: the PCAN channels that are present, as the
// connection dialog lists them, with the handle that --pcan takes; on Linux
// also the SocketCAN interfaces with the name that --socketcan takes.
#include "cli.h"

#include "pcanbasicbackend.h"
#ifdef BUSVISTA_SOCKETCAN
#include "socketcan.h"
#endif

namespace {

const char Usage[] = "channels [--dll PFAD] [--socketcan]";

#ifdef BUSVISTA_SOCKETCAN
// One line per interface: "can0<TAB>aktiv, 500 kBit/s, Error active". False
// with the reason in *missing when there is none.
bool listSocketCan(QString *missing)
{
    const QList<SocketCan::InterfaceInfo> interfaces = SocketCan::interfaces(missing);
    for (const SocketCan::InterfaceInfo &info : interfaces)
        Cli::out(QStringLiteral("%1\t%2").arg(info.name, SocketCan::interfaceDetails(info)));
    return !interfaces.isEmpty();
}
#endif

int runChannels(const QStringList &args)
{
    CliOptions options("channels");
    options.add(QStringLiteral("dll"), QStringLiteral("PCAN-Basic-Bibliothek statt der Standardsuche"),
                QStringLiteral("PFAD"));
    options.add(QStringLiteral("socketcan"), QStringLiteral("nur die SocketCAN-Schnittstellen (Linux)"));
    if (const int exit = options.parse(args); exit >= 0)
        return exit;

    if (options.isSet(QStringLiteral("socketcan"))) {
#ifdef BUSVISTA_SOCKETCAN
        QString missing;
        if (listSocketCan(&missing))
            return Cli::Ok;
        Cli::err(missing);
#else
        Cli::err(QStringLiteral("SocketCAN gibt es nur unter Linux."));
#endif
        return Cli::Failed;
    }

    // Every kind of bus is listed that can be; each one that gives nothing
    // is named with its reason, and the run fails only when none gave any.
    QStringList missing;
    QString error;
    const QList<PcanBasicChannelInfo> channels =
        PcanBasicBackend::enumerateChannels(options.value(QStringLiteral("dll")), &error);
    for (const PcanBasicChannelInfo &info : channels)
        Cli::out(QStringLiteral("0x%1\t%2").arg(info.handle, 0, 16).arg(PcanBasicBackend::channelText(info)));
    if (channels.isEmpty())
        missing << (error.isEmpty() ? QStringLiteral("Keine PCAN-Hardware gefunden.") : error);
    bool listed = !channels.isEmpty();
#ifdef BUSVISTA_SOCKETCAN
    QString socketCanMissing;
    if (listSocketCan(&socketCanMissing))
        listed = true;
    else
        missing << socketCanMissing;
#endif
    for (const QString &reason : std::as_const(missing))
        Cli::err(reason);
    return listed ? Cli::Ok : Cli::Failed;
}

const CliCommand command("channels", Usage, runChannels);

} // namespace
