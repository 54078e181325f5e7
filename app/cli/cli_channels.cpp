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
// One line per interface: "can0<TAB>aktiv, 500 kBit/s, Error active".
int listSocketCan(bool quietWhenNone)
{
    QString error;
    const QList<SocketCan::InterfaceInfo> interfaces = SocketCan::interfaces(&error);
    if (interfaces.isEmpty()) {
        if (quietWhenNone)
            return Cli::Failed;
        Cli::err(error);
        return Cli::Failed;
    }
    for (const SocketCan::InterfaceInfo &info : interfaces)
        Cli::out(QStringLiteral("%1\t%2").arg(info.name, SocketCan::interfaceDetails(info)));
    return Cli::Ok;
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
        return listSocketCan(false);
#else
        Cli::err(QStringLiteral("SocketCAN gibt es nur unter Linux."));
        return Cli::Failed;
#endif
    }

    QString error;
    const QList<PcanBasicChannelInfo> channels =
        PcanBasicBackend::enumerateChannels(options.value(QStringLiteral("dll")), &error);
    for (const PcanBasicChannelInfo &info : channels)
        Cli::out(QStringLiteral("0x%1\t%2").arg(info.handle, 0, 16).arg(PcanBasicBackend::channelText(info)));
    // The kernel's interfaces follow when there are any.
    bool socketCanFound = false;
#ifdef BUSVISTA_SOCKETCAN
    socketCanFound = listSocketCan(true) == Cli::Ok;
#endif
    if (channels.isEmpty()) {
        Cli::err(error.isEmpty() ? QStringLiteral("Keine PCAN-Hardware gefunden.") : error);
        return socketCanFound ? Cli::Ok : Cli::Failed;
    }
    return Cli::Ok;
}

const CliCommand command("channels", Usage, runChannels);

} // namespace
