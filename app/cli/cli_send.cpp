// busvista-cli send: sends a transmit list on a bus, the cyclic
// rows through the same schedule as the main window's transmit timer.
#include "cli.h"
#include "clibus.h"

#include "frametext.h"
#include "transmitmodel.h"
#include "txschedule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>


namespace {

const char Usage[] = "send BUS --list DATEI.cxt --seconds S";

int runSend(const QStringList &args)
{
    CliOptions options("send");
    options.add(QStringLiteral("list"), QStringLiteral("Sendeliste (.cxt)"), QStringLiteral("DATEI"));
    options.addSeconds();
    CliBus::Choice bus;
    if (const int exit = options.parse(args, &bus); exit >= 0)
        return exit;
    const QString listPath = options.value(QStringLiteral("list"));
    if (listPath.isEmpty())
        return options.fail(QStringLiteral("--list fehlt."));
    const double seconds = options.seconds();

    TransmitModel model;
    QString error;
    if (!model.loadFile(listPath, &error)) {
        Cli::err(error);
        return Cli::Failed;
    }

    const std::unique_ptr<CanBackend> backend = CliBus::createBackend(bus);
    auto sendRow = [&](int row) {
        if (!backend->write(model.message(row).frame, nullptr))
            return false;
        model.incrementCount(row);
        return true;
    };

    QElapsedTimer clock;
    TxSchedule schedule(&model);
    QTimer txTimer;
    txTimer.setTimerType(Qt::PreciseTimer);
    txTimer.setInterval(1);
    QObject::connect(&txTimer, &QTimer::timeout, [&] { schedule.tick(clock.elapsed(), sendRow); });

    const bool ran = CliBus::run(*backend, bus, seconds, [&] {
        // Rows without a cycle time go out once; the others start cyclic sending.
        for (int row = 0; row < model.rowCount(); ++row) {
            if (model.message(row).cycleMs > 0)
                model.setActive(row, true);
            else
                sendRow(row);
        }
        clock.start();
        schedule.makeAllDue(0);
        txTimer.start();
        schedule.tick(clock.elapsed(), sendRow);
    });
    txTimer.stop();
    if (!ran)
        return Cli::Failed;

    for (int row = 0; row < model.rowCount(); ++row) {
        const TxMessage &m = model.message(row);
        Cli::out(QStringLiteral("%1\t%2").arg(FrameText::identifier(m.frame)).arg(m.count));
    }
    return Cli::Ok;
}

const CliCommand command("send", Usage, runSend);

} // namespace
