// Time from process entry to the first exposed main window, offscreen.
#include "canframe.h"
#include "mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <cstdio>

int main(int argc, char *argv[])
{
    QElapsedTimer timer;
    timer.start();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir settingsDir;
    QCoreApplication::setOrganizationName(QStringLiteral("busvista-bench"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    qRegisterMetaType<CanFrame>("CanFrame");
    const qint64 appNs = timer.nsecsElapsed();

    MainWindow window;
    const qint64 builtNs = timer.nsecsElapsed();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::printf("window not exposed\n");
        return 1;
    }
    const qint64 shownNs = timer.nsecsElapsed();
    std::printf("application object:       %.1f ms\n", appNs / 1e6);
    std::printf("main window constructed:  %.1f ms\n", builtNs / 1e6);
    std::printf("first window shown:       %.1f ms\n", shownNs / 1e6);
    return 0;
}
