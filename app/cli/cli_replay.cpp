// busvista-cli replay: plays a trace file onto a bus with its recorded
// timing, streamed from disk by the same player as the window's.
#include "cli.h"
#include "clibus.h"

#include "pipebackend.h"
#include "tracefile.h"
#include "tracefilesource.h"
#include "traceplayer.h"

#include <QCoreApplication>
#include <QLocale>

#include <cmath>

namespace {

const char Usage[] = "replay DATEI BUS [--speed F|max] [--loop N] [--from S] [--to S] [--filter IDS | --except IDS] "
                     "[--rx|--tx|--both] [--max-pause S]";

bool takeIds(const CliOptions &options, ReplayOptions *replay, QString *error)
{
    const bool only = options.isSet(QStringLiteral("filter"));
    const bool except = options.isSet(QStringLiteral("except"));
    if (only && except) {
        *error = QStringLiteral("--filter und --except schließen einander aus.");
        return false;
    }
    if (!only && !except)
        return true;
    const QString text = options.value(only ? QStringLiteral("filter") : QStringLiteral("except"));
    if (!replay->filter.parse(text, error))
        return false;
    replay->filter.enabled = true;
    replay->filter.mode = only ? CanIdFilter::Include : CanIdFilter::Exclude;
    return true;
}

// Fills the replay options; false with a message for the usage.
bool takeOptions(const CliOptions &options, ReplayOptions *replay, QString *error)
{
    if (options.isSet(QStringLiteral("speed"))
        && !ReplayOptions::parseSpeed(options.value(QStringLiteral("speed")), &replay->speed, error))
        return false;
    if (options.isSet(QStringLiteral("loop"))) {
        bool ok = false;
        replay->loops = options.value(QStringLiteral("loop")).toInt(&ok);
        if (!ok || replay->loops < 0) {
            *error = QStringLiteral("Ungültige Anzahl der Durchläufe: %1 (0 = endlos)").arg(options.value(QStringLiteral("loop")));
            return false;
        }
    }
    const auto seconds = [&](const char *name, qint64 *us) {
        const QString key = QLatin1String(name);
        if (!options.isSet(key))
            return true;
        double value = 0;
        if (!Cli::parseSeconds(options.value(key), &value)) {
            *error = QStringLiteral("Ungültige Zeit bei --%1: %2").arg(key, options.value(key));
            return false;
        }
        *us = std::llround(value * 1e6);
        return true;
    };
    if (!seconds("from", &replay->fromUs) || !seconds("to", &replay->toUs) || !seconds("max-pause", &replay->maxPauseUs))
        return false;
    if (replay->fromUs > replay->toUs) {
        *error = QStringLiteral("--from liegt hinter --to.");
        return false;
    }
    const int directions = int(options.isSet(QStringLiteral("rx"))) + int(options.isSet(QStringLiteral("tx")))
        + int(options.isSet(QStringLiteral("both")));
    if (directions > 1) {
        *error = QStringLiteral("Nur eine von --rx, --tx und --both.");
        return false;
    }
    if (options.isSet(QStringLiteral("rx")))
        replay->directions = ReplayOptions::Received;
    else if (options.isSet(QStringLiteral("tx")))
        replay->directions = ReplayOptions::Sent;
    return takeIds(options, replay, error);
}

int runReplay(const QStringList &args)
{
    CliOptions options("replay");
    options.allowPositional();
    options.add(QStringLiteral("speed"), QStringLiteral("Faktor auf die aufgezeichneten Abstände, 0,1 bis 10, oder max (so schnell wie möglich); Vorgabe 1"), QStringLiteral("F"));
    options.add(QStringLiteral("loop"), QStringLiteral("Anzahl der Durchläufe, 0 = endlos; Vorgabe 1"), QStringLiteral("N"));
    options.add(QStringLiteral("from"), QStringLiteral("erst ab dieser Trace-Zeit (Sekunden)"), QStringLiteral("S"));
    options.add(QStringLiteral("to"), QStringLiteral("nur bis zu dieser Trace-Zeit (Sekunden)"), QStringLiteral("S"));
    options.add(QStringLiteral("filter"), QStringLiteral("nur diese CAN-IDs, hexadezimal wie im Trace-Filter: 100, 180-1FF"), QStringLiteral("IDS"));
    options.add(QStringLiteral("except"), QStringLiteral("alle außer diesen CAN-IDs"), QStringLiteral("IDS"));
    options.add(QStringLiteral("rx"), QStringLiteral("nur empfangene Einträge senden"));
    options.add(QStringLiteral("tx"), QStringLiteral("nur gesendete Einträge senden"));
    options.add(QStringLiteral("both"), QStringLiteral("empfangene und gesendete Einträge senden (Vorgabe)"));
    options.add(QStringLiteral("max-pause"), QStringLiteral("Pausen länger als S Sekunden auf S kürzen"), QStringLiteral("S"));
    CliBus::Choice bus;
    if (const int exit = options.parse(args, &bus); exit >= 0)
        return exit;
    if (options.positional().size() != 1)
        return options.fail(options.positional().isEmpty() ? QStringLiteral("Trace-Datei fehlt.")
                                                             : QStringLiteral("Nur eine Trace-Datei."));
    ReplayOptions replay;
    QString error;
    if (!takeOptions(options, &replay, &error))
        return options.fail(error);

    const QString path = options.positional().first();
    TraceFile::Format format;
    if (!TraceFile::formatOfFile(path, &format, &error)) {
        Cli::err(error);
        return Cli::Failed;
    }
    const std::unique_ptr<CanBackend> backend = CliBus::createBackend(bus);
    if (!backend->open(bus.params, &error)) {
        Cli::err(error);
        return Cli::Failed;
    }

    TracePlayer player;
    int endState = ReplayEngine::Finished;
    QString endMessage;
    QObject::connect(&player, &TracePlayer::finished, [&](int state, const QString &message) {
        endState = state;
        endMessage = message;
        QCoreApplication::quit();
    });
    // A pipe whose input ends is a lost connection, even while the player sleeps.
    if (auto *pipe = qobject_cast<PipeBackend *>(backend.get())) {
        QObject::connect(pipe, &PipeBackend::inputEnded, [&] {
            player.stop();
            endState = ReplayEngine::ConnectionLost;
            endMessage = QStringLiteral("Verbindung verloren: Die Eingabe des Busses ist zu Ende.");
            QCoreApplication::quit();
        });
    }
    if (!player.start(std::make_unique<TraceFileSource>(path, format), backend.get(), replay, &error)) {
        backend->close();
        Cli::err(error);
        return Cli::Failed;
    }
    QCoreApplication::exec();
    player.stop();
    backend->close();
    backend->flushQueue();

    const TracePlayer::Progress done = player.progress();
    const QLocale german(QLocale::German);
    Cli::out(QStringLiteral("Gesendet: %1").arg(done.sent));
    Cli::out(QStringLiteral("Fehlgeschlagen: %1").arg(done.failed));
    if (replay.speed > 0)
        Cli::out(QStringLiteral("Größte Verspätung: %1 ms").arg(german.toString(double(done.maxLatenessNs) / 1e6, 'f', 3)));
    if (done.failed > 0 && !done.lastError.isEmpty())
        Cli::out(QStringLiteral("Letzter Sendefehler: %1").arg(done.lastError));
    std::fflush(stdout);
    if (endState != ReplayEngine::Finished) {
        Cli::err(endMessage);
        return Cli::Failed;
    }
    return Cli::Ok;
}

const CliCommand command("replay", Usage, runReplay);

} // namespace
