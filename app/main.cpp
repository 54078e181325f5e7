#include "canframe.h"
#include "commandline.h"
#include "mainwindow.h"
#include "settingsdialog.h"
#include "testhooks.h"

#include <QApplication>
#include <QIcon>
#include <QSettings>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("busvista.de"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("busvista.de"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app.ico")));
    QCoreApplication::setApplicationName(QStringLiteral("Busvista"));
    QCoreApplication::setApplicationVersion(QStringLiteral("0.1.13"));

    qRegisterMetaType<CanFrame>("CanFrame");
    qRegisterMetaType<QList<CanFrame>>("QList<CanFrame>");
    qRegisterMetaType<QList<CanFrame>>("CanFrameList");

    const QStringList arguments = QCoreApplication::arguments();
    const CommandLine line = CommandLine::parse(arguments);

    if (!line.settingsDir.isEmpty()) {
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, line.settingsDir);
    }

    SettingsDialog::applyLanguage(SettingsDialog::language());

    auto *window = new MainWindow;
    // The notice line of the about box.
    window->setVersionString(QCoreApplication::translate("main", "© 2026 Busvista. Alle Rechte vorbehalten."));
    window->show();

    if (!line.symbolFile.isEmpty())
        window->loadSymbolFile(line.symbolFile, !line.automated());
    if (!line.plotSignals.isEmpty()) {
        QString error;
        if (!window->plotSignals(line.plotSignals, &error))
            qWarning("%s", error.toLocal8Bit().constData());
    }
    if (line.sim) {
        ConnectParams params;
        params.interface = 1;
        window->openBackend(params);
    }
    if (line.trace)
        window->setTraceRunning(true);
    if (!line.loadTrace.isEmpty()) {
        QString error;
        if (!window->loadTraceFile(line.loadTrace, &error))
            qWarning("Trace nicht geladen: %s", error.toLocal8Bit().constData());
    }
    if (line.hasTab)
        window->showTab(line.tab);

    if (!line.automated() && !line.noUpdateCheck && SettingsDialog::checkUpdatesAtStart())
        QTimer::singleShot(1000, window, &MainWindow::checkForUpdates);

    TestHooks::schedule(window, arguments, line.symbolFile);

    const int result = app.exec();
    delete window;
    return result;
}
