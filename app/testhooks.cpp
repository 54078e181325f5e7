#include "testhooks.h"

#include "aboutbox.h"
#include "commandline.h"
#include "infodialog.h"
#include "mainwindow.h"
#include "settingsdialog.h"
#include "transmitdialog.h"
#include "transmitmodel.h"

#include <QCoreApplication>
#include <QDir>
#include <QDockWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int DefaultDelayMs = 5000;

void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

bool saveWidget(QWidget *widget, const QString &path)
{
    const bool ok = widget->grab().save(path);
    std::fprintf(stderr, "%s %s\n", ok ? "saved" : "could not save", qPrintable(path));
    return ok;
}

} // namespace

QStringList TestHooks::takeSnapshots(MainWindow *window, const QString &directory)
{
    QStringList written;
    QDir().mkpath(directory);
    const QDir dir(directory);

    if (auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabs"))) {
        const int previous = tabs->currentIndex();
        for (int i = 0; i < tabs->count(); ++i) {
            window->showTab(i);
            settle();
            const QString name = QStringLiteral("main_tab%1.png").arg(i);
            if (saveWidget(window, dir.filePath(name)))
                written << name;
        }
        window->showTab(previous);
    }

    const QList<QAction *> menus = window->menuBar()->actions();
    for (QAction *action : menus) {
        QMenu *menu = action->menu();
        if (!menu)
            continue;
        QString name = menu->objectName();
        if (name.startsWith(QLatin1String("menu")))
            name = name.mid(4);
        name = QStringLiteral("menu_%1.png").arg(name.toLower());
        menu->popup(window->mapToGlobal(QPoint(0, 0)));
        settle();
        if (saveWidget(menu, dir.filePath(name)))
            written << name;
        menu->hide();
    }

    if (auto *dock = window->findChild<QDockWidget *>(QStringLiteral("sdoDock"))) {
        dock->show();
        dock->raise();
        settle();
        if (saveWidget(dock, dir.filePath(QStringLiteral("dock_sdo.png"))))
            written << QStringLiteral("dock_sdo.png");
    }
    {
        TransmitDialog dialog(window->symbols(), window);
        TxMessage message;
        message.frame.dlc = 8;
        dialog.setMessage(message);
        dialog.show();
        settle();
        if (saveWidget(&dialog, dir.filePath(QStringLiteral("dialog_transmit.png"))))
            written << QStringLiteral("dialog_transmit.png");
        dialog.hide();
    }
    {
        SettingsDialog dialog(window);
        dialog.show();
        settle();
        if (saveWidget(&dialog, dir.filePath(QStringLiteral("dialog_settings.png"))))
            written << QStringLiteral("dialog_settings.png");
        dialog.hide();
    }
    {
        // Without the update check: pictures are taken offline.
        InfoDialog dialog(window);
        AboutBox::fill(&dialog, window);
        dialog.show();
        settle();
        if (saveWidget(&dialog, dir.filePath(QStringLiteral("dialog_about.png"))))
            written << QStringLiteral("dialog_about.png");
        dialog.hide();
    }
    return written;
}

void TestHooks::schedule(MainWindow *window, const QStringList &arguments, const QString &symbolFile)
{
    // The symbol file is loaded by the entry function; pictures only show it.
    Q_UNUSED(symbolFile);
    const CommandLine line = CommandLine::parse(arguments);
    if (!line.automated())
        return;

    int delayMs = DefaultDelayMs;
    const QString delay = CommandLine::value(arguments, QStringLiteral("--delay"));
    if (!delay.isEmpty()) {
        bool ok = false;
        const int value = delay.toInt(&ok);
        if (ok && value >= 0)
            delayMs = value;
    }

    const QString screenshot = line.screenshot;
    const QString snapshots = line.uiSnapshots;
    QTimer::singleShot(delayMs, window, [window, screenshot, snapshots] {
        if (!snapshots.isEmpty())
            TestHooks::takeSnapshots(window, snapshots);
        if (!screenshot.isEmpty()) {
            settle();
            saveWidget(window, screenshot);
        }
        window->close();
    });
}
