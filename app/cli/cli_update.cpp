// busvista-cli update-check: asks the update manifest once, as the window's
// check at start does.
#include "cli.h"

#include "infoupdatechecker.h"

#include <QCoreApplication>

namespace {

const char Usage[] = "update-check [--url URL] [--current VERSION] [--ca DATEI]";

int runUpdateCheck(const QStringList &args)
{
    InfoUpdateChecker checker;
    checker.setManifestUrl(InfoUpdateChecker::defaultManifestUrl());
    QString caFile = qEnvironmentVariable("BUSVISTA_UPDATE_CA");
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const bool known = arg == QLatin1String("--url") || arg == QLatin1String("--current")
                           || arg == QLatin1String("--ca");
        if (!known)
            return Cli::usageError("update-check", QStringLiteral("Unbekannte Option: %1").arg(arg));
        if (i + 1 >= args.size() || args.at(i + 1).isEmpty())
            return Cli::usageError("update-check", QStringLiteral("%1 braucht einen Wert.").arg(arg));
        const QString value = args.at(++i);
        if (arg == QLatin1String("--url")) {
            checker.setManifestUrl(QUrl(value));
        } else if (arg == QLatin1String("--current")) {
            QVersionNumber version;
            if (!UpdateManifest::parseVersion(value, &version))
                return Cli::usageError("update-check", QStringLiteral("Ungültige Version: %1").arg(value));
            checker.setCurrentVersion(value);
        } else {
            caFile = value;
        }
    }
    QString error;
    if (!caFile.isEmpty() && !checker.addCaCertificates(caFile, &error)) {
        Cli::err(error);
        return Cli::Failed;
    }

    int result = Cli::Failed;
    QObject::connect(&checker, &InfoUpdateChecker::checkFinished, &checker,
                     [&](InfoUpdateChecker::Status status) {
                         switch (status) {
                         case InfoUpdateChecker::UpToDate:
                             Cli::out(QStringLiteral("aktuell"));
                             result = Cli::Ok;
                             break;
                         case InfoUpdateChecker::UpdateAvailable:
                             Cli::out(QStringLiteral("neu: %1").arg(checker.latestVersion()));
                             result = Cli::Ok;
                             break;
                         case InfoUpdateChecker::Error:
                             Cli::err(checker.errorText());
                             result = Cli::Failed;
                             break;
                         }
                         QCoreApplication::exit(0);
                     },
                     Qt::QueuedConnection);
    checker.check();
    QCoreApplication::exec();
    return result;
}

const CliCommand command("update-check", Usage, runUpdateCheck);

} // namespace
