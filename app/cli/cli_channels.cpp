// busvista-cli channels: the PCAN channels that are present, as the
// connection dialog lists them, with the handle that --pcan takes.
#include "cli.h"

#include "pcanbasicbackend.h"

namespace {

const char Usage[] = "channels [--dll PFAD]";

int runChannels(const QStringList &args)
{
    CliOptions options("channels");
    options.add(QStringLiteral("dll"), QStringLiteral("PCAN-Basic-Bibliothek statt der Standardsuche"),
                QStringLiteral("PFAD"));
    if (const int exit = options.parse(args); exit >= 0)
        return exit;

    QString error;
    const QList<PcanBasicChannelInfo> channels =
        PcanBasicBackend::enumerateChannels(options.value(QStringLiteral("dll")), &error);
    if (channels.isEmpty()) {
        Cli::err(error.isEmpty() ? QStringLiteral("Keine PCAN-Hardware gefunden.") : error);
        return Cli::Failed;
    }
    for (const PcanBasicChannelInfo &info : channels)
        Cli::out(QStringLiteral("0x%1\t%2").arg(info.handle, 0, 16).arg(PcanBasicBackend::channelText(info)));
    return Cli::Ok;
}

const CliCommand command("channels", Usage, runChannels);

} // namespace
