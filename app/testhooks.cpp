#include "testhooks.h"

#include "aboutbox.h"
#include "commandline.h"
#include "connectiondialog.h"
#include "infodialog.h"
#include "mainwindow.h"
#include "plotwidget.h"
#include "settingsdialog.h"
#include "transmitdialog.h"
#include "transmitmodel.h"

#include <QCoreApplication>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QQuickWidget>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int DefaultDelayMs = 5000;

// Lets posted work and the scenes' deferred drawing happen: a quick widget
// draws a changed scene on a timer of its own, not in the first event pass.
void settle()
{
    QElapsedTimer clock;
    clock.start();
    do
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    while (clock.elapsed() < 150);
}

bool saveWidget(QWidget *widget, const QString &path)
{
    const bool ok = widget->grab().save(path);
    std::fprintf(stderr, "%s %s\n", ok ? "saved" : "could not save", qPrintable(path));
    return ok;
}

// "--marker T", "--marker-click" and "--axis2-cycle": put the plot into the
// states the pictures should show.
void drivePlot(MainWindow *window, const QStringList &arguments)
{
    auto *plot = window->findChild<PlotWidget *>(QStringLiteral("plotWidget"));
    if (!plot)
        return;
    const QString marker = CommandLine::value(arguments, QStringLiteral("--marker"));
    bool ok = false;
    const double t = marker.toDouble(&ok);
    if (ok)
        plot->setMarker(true, t);
    if (CommandLine::flag(arguments, QStringLiteral("--marker-click"))) {
        window->showTab(1);
        plot->setMarker(true, -1);
        settle();
        // A click at a third of the chart moves the marker there, as a user's would.
        if (auto *quick = plot->findChild<QQuickWidget *>(QStringLiteral("quickWidget"))) {
            const QPointF at(quick->width() / 3.0, quick->height() / 2.0);
            const QPointF global = quick->mapToGlobal(at);
            QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(quick, &press);
            QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(quick, &release);
        }
    }
    if (CommandLine::flag(arguments, QStringLiteral("--axis2-cycle"))) {
        // Second axis on, the last signal onto it, and the legend's combo boxes follow.
        plot->setSecondAxisEnabled(false);
        plot->setSecondAxisEnabled(true);
        const int count = int(plot->recorder().traces().size());
        if (count > 1)
            plot->setTraceAxis(count - 1, 1);
    }
    settle();
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

    for (const char *name : {"sdo", "signal", "marker"}) {
        auto *dock = window->findChild<QDockWidget *>(QStringLiteral("%1Dock").arg(QLatin1String(name)));
        if (!dock)
            continue;
        dock->show();
        dock->raise();
        settle();
        const QString file = QStringLiteral("dock_%1.png").arg(QLatin1String(name));
        if (saveWidget(dock, dir.filePath(file)))
            written << file;
    }

    // The plotter with its marker on, whatever the hooks did before.
    if (auto *plot = window->findChild<PlotWidget *>(QStringLiteral("plotWidget"))) {
        const int previous = window->findChild<QTabWidget *>(QStringLiteral("tabs"))->currentIndex();
        window->showTab(1);
        if (!plot->markerEnabled())
            plot->setMarker(true, -1);
        plot->refresh();
        settle();
        if (saveWidget(window, dir.filePath(QStringLiteral("plot_marker.png"))))
            written << QStringLiteral("plot_marker.png");

        // Two cursors on a zoomed signal drawn as steps: a signal that the
        // plotter draws as steps of its own accord where there is one, zoomed
        // into the middle until about 30 of its samples are in view, the
        // cursors at two fifths and three fifths of the window.
        const QList<SignalRecorder::Trace> &traces = plot->recorder().traces();
        if (!traces.isEmpty()) {
            int shown = 0;
            for (int i = 0; i < traces.size(); ++i) {
                if (plot->prefersSteps(i)) {
                    shown = i;
                    break;
                }
            }
            // That signal alone, so that its values fill the height.
            QList<PlotStyle> styles;
            for (int i = 0; i < traces.size(); ++i) {
                styles.append(plot->traceStyle(i));
                plot->setTraceStyle(i, {styles.last().color, i == shown ? PlotStyle::Step : styles.last().mode, i == shown});
            }
            plot->refresh();
            const qsizetype samples = plot->shownData().points.value(shown).size();
            const double fraction = samples > 30 ? 30.0 / double(samples) : 1.0;
            plot->zoomToBox(QRectF(0.5 - fraction / 2, 0.0, fraction, 0.005));   // flat: time only
            const double start = plot->shownData().window.start;
            const double width = plot->shownData().window.end - start;
            plot->setMarker(true, start + 0.4 * width);
            plot->setCursorB(true, start + 0.6 * width);
            plot->refresh();
            settle();
            if (saveWidget(window, dir.filePath(QStringLiteral("plot_cursors.png"))))
                written << QStringLiteral("plot_cursors.png");
            plot->setCursorB(false, -1);
            plot->zoomBack();
            for (int i = 0; i < styles.size(); ++i)
                plot->setTraceStyle(i, styles.at(i));
        }
        window->showTab(previous);
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
        // With the remembered choice, as "Verbinden" opens it.
        ConnectionDialog dialog(window);
        dialog.setParams(window->loadConnectParams());
        dialog.show();
        settle();
        if (saveWidget(&dialog, dir.filePath(QStringLiteral("dialog_connection.png"))))
            written << QStringLiteral("dialog_connection.png");
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
        AboutBox::fill(&dialog, window->windowIcon(), window->versionString());
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

    // "--window-size 1600x1000": the pictures at another size than the default.
    const QStringList size = CommandLine::value(arguments, QStringLiteral("--window-size")).split(QLatin1Char('x'));
    if (size.size() == 2 && size.at(0).toInt() > 0 && size.at(1).toInt() > 0)
        window->resize(size.at(0).toInt(), size.at(1).toInt());

    const QString screenshot = line.screenshot;
    const QString snapshots = line.uiSnapshots;
    QTimer::singleShot(delayMs, window, [window, screenshot, snapshots, arguments] {
        drivePlot(window, arguments);
        if (!snapshots.isEmpty())
            TestHooks::takeSnapshots(window, snapshots);
        if (!screenshot.isEmpty()) {
            settle();
            saveWidget(window, screenshot);
        }
        window->close();
    });
}
