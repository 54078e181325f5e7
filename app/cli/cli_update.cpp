// busvista-cli update-check: asks the update manifest once, as the window's
// check at start does.
#include "cli.h"

#include "infoupdatechecker.h"

#include <QCoreApplication>

namespace {

const char Usage[] = "update-check [--url URL] [--current VERSION] [--ca DATEI]";

int runUpdateCheck(const QStringList &args)
{
    CliOptions options("update-check");
    options.add(QStringLiteral("url"), QStringLiteral("Adresse des Update-Manifests (sonst BUSVISTA_UPDATE_URL "
                                                      "oder die des Herstellers)"),
                QStringLiteral("URL"));
    options.add(QStringLiteral("current"), QStringLiteral("installierte Version (sonst die dieses Programms)"),
                QStringLiteral("VERSION"));
    options.add(QStringLiteral("ca"), QStringLiteral("PEM-Zertifikate, denen zusätzlich vertraut wird (sonst "
                                                     "BUSVISTA_UPDATE_CA)"),
                QStringLiteral("DATEI"));
    if (const int exit = options.parse(args); exit >= 0)
        return exit;
    if (!options.positional().isEmpty())
        return options.fail(QStringLiteral("Unerwartetes Argument: %1").arg(options.positional().first()));

    InfoUpdateChecker checker;
    checker.setManifestUrl(options.isSet(QStringLiteral("url")) ? QUrl(options.value(QStringLiteral("url")))
                                                                : InfoUpdateChecker::defaultManifestUrl());
    if (options.isSet(QStringLiteral("current"))) {
        const QString current = options.value(QStringLiteral("current"));
        QVersionNumber version;
        if (!UpdateManifest::parseVersion(current, &version))
            return options.fail(QStringLiteral("Ungültige Version: %1").arg(current));
        checker.setCurrentVersion(current);
    }
    const QString caFile = options.isSet(QStringLiteral("ca")) ? options.value(QStringLiteral("ca"))
                                                                : qEnvironmentVariable("BUSVISTA_UPDATE_CA");
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
