#include "busvistaversion.h"
#include "canframe.h"
#include "commandline.h"
#include "mainwindow.h"
#include "settingsdialog.h"
#include "testhooks.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>

#include <cstdio>

namespace {

// "--help" and "--version" answer before any window system is needed, so
// that they work over ssh and in scripts. A Windows GUI program has no
// console to print to: there the text comes in a message box.
int answerInformation(int argc, char *argv[], const CommandLine &line)
{
    const QString text = line.help ? CommandLine::usageText() : CommandLine::versionText();
#ifdef Q_OS_WIN
    QApplication app(argc, argv);
    QMessageBox::information(nullptr, QStringLiteral("Busvista"), text);
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
#endif
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    {
        QStringList raw;
        for (int i = 0; i < argc; ++i)
            raw << QString::fromLocal8Bit(argv[i]);
        const CommandLine early = CommandLine::parse(raw);
        if (early.help || early.version)
            return answerInformation(argc, argv, early);
    }

    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("busvista.de"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("busvista.de"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app.ico")));
    QCoreApplication::setApplicationName(QStringLiteral("Busvista"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BUSVISTA_VERSION));

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
    SettingsDialog::setStoreFailureBoxes(!line.automated());

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
