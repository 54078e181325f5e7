#include "fakebackend.h"
#include "mainwindow.h"
#include "receivemodel.h"
#include "testsettings.h"
#include "tracemodel.h"
#include "traceplayerbar.h"
#include "transmitmodel.h"

#include <QAction>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QLineEdit>
#include <QJsonArray>
#include <QLabel>
#include <QMessageBox>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void startsDisconnected();
    void routerCountsRxTxAndSkipsStatus();
    void statisticsTickShowsLoadAndStatusColour();
    void reconnectResetsCountersAndClosesOldBackend();
    void disconnectAndResetFailure();
    void failedConnectLeavesWindowDisconnected();
    void failedResetWarnsAndMayDisconnect();
    void activatingARowMakesItDueAtOnce();
    void statisticsTimerIsPrecise();
    void keyColumnsFitAtDefaultSize();
    void layoutSurvivesRestart();
    void layoutGivesTheListsRoom_data();
    void layoutGivesTheListsRoom();
    void draggedDockWidthSurvivesRestart();
    void framesQueuedBeforeDisconnectArriveOnce();
    void closeSavesSettingsBeforeClosingBackend();
    void connectParamsMapping();
    void showTabIgnoresIndexOutOfRange();
    void repeatedSendErrorsAreSuppressedForASecond();
    void cyclicSendingThroughTheWindow();
    void transmitListSurvivesRestart();
    void traceWidgetsRoundTripThroughSettings();
    void simulatedBusShowsTraffic();

private:
    static QString labelText(QWidget *window, const char *name)
    {
        auto *label = window->findChild<QLabel *>(QLatin1String(name));
        return label ? label->text() : QStringLiteral("<no label %1>").arg(QLatin1String(name));
    }
    // Reads and closes the next message box once the event loop shows it.
    static void answerNextBox(QString *shown)
    {
        QTimer::singleShot(0, [shown] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                *shown = box->windowTitle() + QLatin1Char('|') + box->text();
                box->accept();
            }
        });
    }
    static CanFrame frame(quint32 id, bool tx = false, bool status = false)
    {
        CanFrame f;
        f.id = id;
        f.dlc = 8;
        f.tx = tx;
        f.status = status;
        return f;
    }

    QTemporaryDir m_settingsDir;
};

void TestMainWindow::initTestCase()
{
    useTemporarySettings(m_settingsDir, "tst_mainwindow");
}

void TestMainWindow::init()
{
    QSettings().clear();
}

void TestMainWindow::startsDisconnected()
{
    TestWindow w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Busvista"));
    QCOMPARE(labelText(&w, "messageLabel"), QStringLiteral("Nicht verbunden"));
    QCOMPARE(labelText(&w, "busLabel"), QStringLiteral("Bus: –"));
    QCOMPARE(labelText(&w, "loadLabel"), QStringLiteral("Last: –"));
    QVERIFY(w.findChild<QAction *>("actionConnect")->isEnabled());
    QVERIFY(!w.findChild<QAction *>("actionDisconnect")->isEnabled());
    QVERIFY(!w.findChild<QAction *>("actionReset")->isEnabled());
    QVERIFY(!w.findChild<QAction *>("actionTraceRun")->isChecked());
    QCOMPARE(w.findChild<QTabWidget *>("tabs")->count(), 3);
    // The application icon travels with the window library.
    QCOMPARE(QImage(QStringLiteral(":/app.ico")).size(), QSize(32, 32));
}

void TestMainWindow::routerCountsRxTxAndSkipsStatus()
{
    TestWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    QCOMPARE(labelText(&w, "messageLabel"), QStringLiteral("Verbunden: Testbus"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Busvista – Testbus"));

    w.onFramesReceived({frame(0x100), frame(0x101, true), frame(0, false, true), frame(0x102)});
    QCOMPARE(w.statistics().rxTotal, 2);
    QCOMPARE(w.statistics().txTotal, 1);
    QCOMPARE(w.statistics().rxThisSecond, 2);
    QCOMPARE(w.statistics().busBits, 3 * 120);

    w.onRefreshTick();
    QCOMPARE(labelText(&w, "rxCountLabel"), QStringLiteral("Rx: 2"));
    QCOMPARE(labelText(&w, "txCountLabel"), QStringLiteral("Tx: 1"));

    // The echo raises Tx but not the received messages per second.
    w.onFramesReceived({frame(0x101, true)});
    w.onStatsTick();
    QVERIFY2(labelText(&w, "loadLabel").endsWith(QStringLiteral("(2 msg/s)")),
             qPrintable(labelText(&w, "loadLabel")));
}

void TestMainWindow::statisticsTickShowsLoadAndStatusColour()
{
    TestWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    FakeBackend *bus = w.lastBackend;

    // 2083 frames of 120 bits at 500 kbit/s are 49.992 % of a second.
    w.onFramesReceived(CanFrameList(2083, frame(0x100)));
    w.onStatsTick();
    QCOMPARE(labelText(&w, "loadLabel"), QStringLiteral("Last: ~50.0 %  (2083 msg/s)"));
    QCOMPARE(labelText(&w, "busLabel"), QStringLiteral("Bus: OK"));
    auto *busLabel = w.findChild<QLabel *>("busLabel");
    QCOMPARE(busLabel->styleSheet(), QStringLiteral("background:#60c060; color:white;"));

    // The tick restarts the second: no frames, no load.
    w.onStatsTick();
    QCOMPARE(labelText(&w, "loadLabel"), QStringLiteral("Last: ~0.0 %  (0 msg/s)"));

    bus->status = 0x18;
    w.onStatsTick();
    QCOMPARE(busLabel->styleSheet(), QStringLiteral("background:#e04040; color:white;"));
    bus->status = 0x40;
    w.onStatsTick();
    QCOMPARE(busLabel->styleSheet(), QStringLiteral("background:#f0b030;"));
    bus->status = 0x01;
    w.onStatsTick();
    QCOMPARE(busLabel->styleSheet(), QStringLiteral("background:#60c060; color:white;"));

    bus->rate = 0;
    w.onFramesReceived({frame(0x100)});
    w.onStatsTick();
    QCOMPARE(labelText(&w, "loadLabel"), QStringLiteral("1 msg/s"));
}

void TestMainWindow::reconnectResetsCountersAndClosesOldBackend()
{
    TestWindow w;
    TxMessage row;
    row.frame.id = 0x321;
    w.transmitModel()->addMessage(row);
    w.setTraceRunning(true);
    QVERIFY(w.openBackend(simulationParams()));
    QPointer<FakeBackend> first = w.lastBackend;
    w.onFramesReceived({frame(0x100), frame(0x100, true)});
    QVERIFY(w.sendRow(0));
    w.onRefreshTick();
    QCOMPARE(w.statistics().rxTotal, 1);
    QCOMPARE(w.receiveModel()->rowCount(), 1);
    QCOMPARE(w.traceModel()->rowCount(), 2);
    QCOMPARE(w.transmitModel()->message(0).count, 1u);

    QVERIFY(w.openBackend(simulationParams()));
    // The new connection starts with empty lists and zero send counts.
    QCOMPARE(w.receiveModel()->rowCount(), 0);
    QCOMPARE(w.traceModel()->rowCount(), 0);
    QCOMPARE(w.transmitModel()->message(0).count, 0u);
    QCOMPARE(w.transmitModel()->rowCount(), 1);
    QVERIFY(w.lastBackend != first);
    QCOMPARE(first->closeCount, 1);
    QCOMPARE(w.backend(), w.lastBackend);
    QCOMPARE(w.statistics().rxTotal, 0);
    QCOMPARE(w.statistics().txTotal, 0);
    QCOMPARE(w.statistics().busBits, 0);
    // The old backend goes with deleteLater, not at once.
    QVERIFY(first);
    QTRY_VERIFY(!first);

    // The old backend's late batches no longer reach the router.
    QCOMPARE(labelText(&w, "rxCountLabel"), QStringLiteral("Rx: 0"));
}

void TestMainWindow::disconnectAndResetFailure()
{
    TestWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    FakeBackend *bus = w.lastBackend;
    w.resetHardware();
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Hardware zurückgesetzt."));

    w.disconnectBus();
    QCOMPARE(bus->closeCount, 1);
    QCOMPARE(w.backend(), nullptr);
    QCOMPARE(labelText(&w, "messageLabel"), QStringLiteral("Nicht verbunden"));
    QVERIFY(w.findChild<QAction *>("actionConnect")->isEnabled());
    w.disconnectBus();   // a second disconnect does nothing
    QCOMPARE(bus->closeCount, 1);
}

void TestMainWindow::failedConnectLeavesWindowDisconnected()
{
    TestWindow w;
    w.openSucceeds = false;
    QString shown;
    answerNextBox(&shown);
    QVERIFY(!w.openBackend(simulationParams()));
    QCOMPARE(shown, QStringLiteral("Verbindungsfehler|Gerät fehlt"));
    QVERIFY(!w.lastAlive);   // deleted at once, not later
    QCOMPARE(w.backend(), nullptr);
    QCOMPARE(labelText(&w, "messageLabel"), QStringLiteral("Nicht verbunden"));
    QVERIFY(w.findChild<QAction *>("actionConnect")->isEnabled());
    QVERIFY(!w.findChild<QAction *>("actionDisconnect")->isEnabled());

    // A failed attempt while connected has closed the old connection first.
    w.openSucceeds = true;
    QVERIFY(w.openBackend(simulationParams()));
    int closed = 0;
    w.lastBackend->onClose = [&closed] { ++closed; };
    w.openSucceeds = false;
    answerNextBox(&shown);
    QVERIFY(!w.openBackend(simulationParams()));
    QCOMPARE(closed, 1);
    QCOMPARE(w.backend(), nullptr);
    QVERIFY(!w.findChild<QAction *>("actionReset")->isEnabled());
}

void TestMainWindow::failedResetWarnsAndMayDisconnect()
{
    TestWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    FakeBackend *bus = w.lastBackend;
    bus->resetError = QStringLiteral("Treiber antwortet nicht");
    QString shown;
    answerNextBox(&shown);
    w.resetHardware();
    QCOMPARE(shown, QStringLiteral("Hardware zurücksetzen|Treiber antwortet nicht"));
    QCOMPARE(w.backend(), bus);
    QCOMPARE(labelText(&w, "messageLabel"), QStringLiteral("Verbunden: Testbus"));

    // A reset that lost the connection ends it and says so.
    QPointer<FakeBackend> lost = bus;
    bus->resetLosesConnection = true;
    answerNextBox(&shown);
    w.resetHardware();
    QCOMPARE(shown, QStringLiteral("Hardware zurücksetzen|Treiber antwortet nicht\n\nDie Verbindung wurde getrennt."));
    QCOMPARE(w.backend(), nullptr);
    QCOMPARE(labelText(&w, "messageLabel"), QStringLiteral("Nicht verbunden"));
    QVERIFY(w.findChild<QAction *>("actionConnect")->isEnabled());
    QTRY_VERIFY(!lost);

    w.resetHardware();   // without a connection nothing happens
    QCOMPARE(w.backend(), nullptr);
}

void TestMainWindow::activatingARowMakesItDueAtOnce()
{
    TestWindow w;
    TxMessage hourly;
    hourly.frame.id = 0x77;
    hourly.cycleMs = 3600000;
    w.transmitModel()->addMessage(hourly);
    QVERIFY(w.openBackend(simulationParams()));
    w.transmitModel()->setActive(0, true);
    w.onTxTick();
    QCOMPARE(w.lastBackend->writeCount, 1);   // the next one would be due in an hour

    // Switched off and on again: due at the next tick, not an hour later.
    w.transmitModel()->setActive(0, false);
    w.onTxTick();
    QCOMPARE(w.lastBackend->writeCount, 1);
    w.transmitModel()->setActive(0, true);
    w.onTxTick();
    QCOMPARE(w.lastBackend->writeCount, 2);
    w.onTxTick();
    QCOMPARE(w.lastBackend->writeCount, 2);
}

void TestMainWindow::statisticsTimerIsPrecise()
{
    // A coarse timer fires up to 5 % off, and the per-second figures with it.
    TestWindow w;
    auto *timer = w.findChild<QTimer *>("statsTimer");
    QVERIFY(timer);
    QCOMPARE(timer->timerType(), Qt::PreciseTimer);
    QCOMPARE(timer->interval(), 1000);
    QVERIFY(timer->isActive());
}

void TestMainWindow::keyColumnsFitAtDefaultSize()
{
    // Without and with symbols: every column but the stretched last one is
    // inside the table, and the trace information is not cut.
    for (const bool withSymbols : {false, true}) {
        TestWindow w;
        if (withSymbols)
            QVERIFY(w.loadSymbolFile(QStringLiteral(BUSVISTA_TEST_DATA "/app/one.sym"), false));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QList<QPair<const char *, int>> tables = {{"rxView", 8}, {"txView", 8}, {"traceView", 9}};
        for (int tab : {0, 2}) {
            w.showTab(tab);
            QCoreApplication::processEvents();
            for (const auto &[name, columns] : tables) {
                auto *view = w.findChild<QTableView *>(name);
                if (!view->isVisible())
                    continue;
                const int lastKey = columns - 2;
                QVERIFY2(view->columnViewportPosition(lastKey) + view->columnWidth(lastKey) <= view->viewport()->width(),
                         qPrintable(QStringLiteral("%1 with%2 symbols: column %3 ends at %4 of %5")
                                        .arg(QLatin1String(name), withSymbols ? QString() : QStringLiteral("out"))
                                        .arg(lastKey)
                                        .arg(view->columnViewportPosition(lastKey) + view->columnWidth(lastKey))
                                        .arg(view->viewport()->width())));
                // The signals (hidden without symbols) or the comment keep room.
                QVERIFY(view->isColumnHidden(columns - 1) || view->columnWidth(columns - 1) > 50);
            }
        }
        w.findChild<QCheckBox *>("traceFilterCheck")->setChecked(true);
        w.findChild<QLineEdit *>("traceFilterEdit")->setText(QStringLiteral("100"));
        w.onRefreshTick();
        QCoreApplication::processEvents();
        auto *info = w.findChild<QLabel *>("traceInfoLabel");
        QVERIFY2(info->width() >= info->sizeHint().width(),
                 qPrintable(QStringLiteral("%1 < %2").arg(info->width()).arg(info->sizeHint().width())));
    }
}

void TestMainWindow::layoutSurvivesRestart()
{
    {
        TestWindow w;
        w.resize(900, 640);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.findChild<QTableView *>("rxView")->setColumnWidth(2, 77);
        w.findChild<QTableView *>("traceView")->setColumnWidth(0, 33);
        w.findChild<QDockWidget *>("sdoDock")->close();
        QVERIFY(w.close());
    }
    TestWindow again;
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QCOMPARE(again.size(), QSize(900, 640));
    QCOMPARE(again.findChild<QTableView *>("rxView")->columnWidth(2), 77);
    QCOMPARE(again.findChild<QTableView *>("traceView")->columnWidth(0), 33);
    QVERIFY(again.findChild<QDockWidget *>("sdoDock")->isHidden());
    QVERIFY(!again.findChild<QDockWidget *>("signalDock")->isHidden());
}

void TestMainWindow::layoutGivesTheListsRoom_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("default 1100 x 750") << QSize(1100, 750);
    QTest::newRow("1600 x 1000") << QSize(1600, 1000);
}

void TestMainWindow::layoutGivesTheListsRoom()
{
    QFETCH(QSize, size);
    TestWindow w;
    QVERIFY(w.loadSymbolFile(QStringLiteral(BUSVISTA_TEST_DATA "/app/one.sym"), false));
    w.resize(size);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCoreApplication::processEvents();
    const auto describe = [](QWidget *widget) {
        return QStringLiteral("%1: %2 of %3 (minimum %4)")
            .arg(widget->objectName())
            .arg(widget->width())
            .arg(widget->window()->width())
            .arg(widget->minimumSizeHint().width());
    };

    // The docks take about a quarter of the width.
    auto *signalDock = w.findChild<QDockWidget *>("signalDock");
    QVERIFY2(signalDock->width() >= size.width() * 0.2 && signalDock->width() <= size.width() * 0.3,
             qPrintable(describe(signalDock)));

    // The decoded signals of the lists start well inside the view.
    for (const auto &[tab, name, column] : {std::tuple{0, "rxView", 7}, std::tuple{2, "traceView", 8}}) {
        w.showTab(tab);
        QCoreApplication::processEvents();
        auto *view = w.findChild<QTableView *>(name);
        QVERIFY(!view->isColumnHidden(column));
        QVERIFY2(view->columnViewportPosition(column) + 150 <= view->viewport()->width(),
                 qPrintable(QStringLiteral("%1: signals from %2 of %3")
                                .arg(QLatin1String(name))
                                .arg(view->columnViewportPosition(column))
                                .arg(view->viewport()->width())));
    }

    // The player bar's texts, long ones too, are not cut.
    w.showTab(2);
    auto *bar = w.findChild<TracePlayerBar *>("tracePlayerBar");
    ReplayEngine::Progress progress;
    progress.total = 100000;
    progress.position = 500;
    progress.traceUs = 1234567890;
    progress.pass = 12;
    progress.sent = 1234567;
    progress.failed = 12345;
    bar->showProgress(progress, 9876543210LL);
    QCoreApplication::processEvents();
    auto *progressBar = bar->findChild<QProgressBar *>("replayProgress");
    QVERIFY2(progressBar->width() >= progressBar->fontMetrics().horizontalAdvance(progressBar->text()) + 8,
             qPrintable(describe(progressBar)));
    auto *counts = bar->findChild<QLabel *>("replayCountsLabel");
    QVERIFY2(counts->width() >= counts->sizeHint().width(), qPrintable(describe(counts)));

    // A long status message pushes the counters aside while it shows.
    const QString message = QStringLiteral("Abspielen gestoppt: 1234567 gesendet, 12345 fehlgeschlagen – "
                                           "Verbindung getrennt");
    w.statusBar()->showMessage(message, 5000);
    QCoreApplication::processEvents();
    int firstPermanent = w.statusBar()->width();
    for (QLabel *label : w.statusBar()->findChildren<QLabel *>()) {
        if (label->isVisible() && label->objectName() != QLatin1String("messageLabel"))
            firstPermanent = std::min(firstPermanent, label->x());
    }
    QVERIFY2(w.statusBar()->fontMetrics().horizontalAdvance(message) + 8 <= firstPermanent,
             qPrintable(QString::number(firstPermanent)));
    w.statusBar()->clearMessage();
    QCoreApplication::processEvents();
    QVERIFY(w.findChild<QLabel *>("symbolsLabel")->isVisible());

    // The SDO tables' columns hold their widest usual texts.
    auto *log = w.findChild<QTableWidget *>("logTable");
    QVERIFY(log->columnWidth(0) > log->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.000")));
    auto *nodes = w.findChild<QTableWidget *>("nodeTable");
    for (const auto &[column, text] : {std::pair{1, "keine Meldung mehr"}, std::pair{3, "gerade eben"}})
        QVERIFY2(nodes->columnWidth(column) > nodes->fontMetrics().horizontalAdvance(QLatin1String(text)), text);

    // Each dock, brought forward, gets the room its panel needs, as far as
    // the lists' own minimum leaves it.
    const int room = size.width() - w.findChild<QWidget *>("centralWidget")->minimumSizeHint().width() - 12;
    for (const char *name : {"sdoDock", "signalDock", "markerDock"}) {
        auto *dock = w.findChild<QDockWidget *>(name);
        dock->raise();
        const int needed = dock->widget()->minimumSizeHint().width();
        QTRY_VERIFY2(dock->widget()->width() >= std::min(needed, room), qPrintable(describe(dock->widget())));
        if (dock->widget()->width() < needed)
            continue;
        for (QAbstractButton *button : dock->findChildren<QAbstractButton *>()) {
            if (button->isVisible() && qobject_cast<QPushButton *>(button))
                QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(describe(button)));
        }
    }
    // Back to the signals: the quarter again.
    w.findChild<QDockWidget *>("signalDock")->raise();
    QTRY_VERIFY2(signalDock->width() <= size.width() * 0.3, qPrintable(describe(signalDock)));
}

void TestMainWindow::draggedDockWidthSurvivesRestart()
{
    {
        TestWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCoreApplication::processEvents();
        auto *dock = w.findChild<QDockWidget *>("signalDock");
        QCOMPARE(dock->width(), 1100 / 4);
        // Dragging the separator at the dock's left edge 105 pixels to the left.
        const int central = w.findChild<QWidget *>("centralWidget")->geometry().right();
        const QPoint grip((central + dock->x()) / 2, dock->y() + dock->height() / 2);
        QWindow *window = w.windowHandle();
        QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, grip);
        QTest::mouseMove(window, grip - QPoint(50, 0));
        QTest::mouseMove(window, grip - QPoint(105, 0));
        QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, grip - QPoint(105, 0));
        QTRY_COMPARE(dock->width(), 380);
        w.resize(1300, 800);   // a resized window keeps the chosen width
        QTRY_COMPARE(w.width(), 1300);
        QCoreApplication::processEvents();
        QCOMPARE(dock->width(), 380);
        QVERIFY(w.close());
    }
    TestWindow again;
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QTRY_COMPARE(again.findChild<QDockWidget *>("signalDock")->width(), 380);
}

void TestMainWindow::framesQueuedBeforeDisconnectArriveOnce()
{
    TestWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    QPointer<FakeBackend> first = w.lastBackend;
    first->enqueue({frame(0x100), frame(0x101)});
    w.disconnectBus();
    QCOMPARE(w.statistics().rxTotal, 2);       // not lost with the connection

    QVERIFY(w.openBackend(simulationParams()));
    // Anything the old backend still flushes stays out of the new connection.
    QVERIFY(first);
    first->enqueue(frame(0x102));
    first->flushQueue();
    QCOMPARE(w.statistics().rxTotal, 0);
    QTRY_VERIFY(!first);
}

void TestMainWindow::closeSavesSettingsBeforeClosingBackend()
{
    TestWindow w;
    w.findChild<QSpinBox *>("traceMaxSpin")->setValue(20000);
    QVERIFY(w.openBackend(simulationParams()));
    int savedWhenClosed = -1;
    w.lastBackend->onClose = [&savedWhenClosed] {
        savedWhenClosed = QSettings().value(QStringLiteral("trace/maxEntries"), -1).toInt();
    };
    QVERIFY(w.close());
    QCOMPARE(savedWhenClosed, 20000);
    QCOMPARE(w.backend(), nullptr);
}

void TestMainWindow::connectParamsMapping()
{
    TestWindow w;
    ConnectParams defaults = w.loadConnectParams();
    QCOMPARE(defaults.interface, 2);
    QCOMPARE(defaults.channel, 81);
    QCOMPARE(defaults.btr, 28);

    QSettings().setValue(QStringLiteral("connection/interface"), 7);
    QSettings().setValue(QStringLiteral("connection/btr"), 0);
    QCOMPARE(w.loadConnectParams().interface, 2);
    QCOMPARE(w.loadConnectParams().btr, 28);
    QSettings().setValue(QStringLiteral("connection/btr"), 70000);
    QCOMPARE(w.loadConnectParams().btr, 28);
    QSettings().setValue(QStringLiteral("connection/btr"), QStringLiteral("abc"));
    QCOMPARE(w.loadConnectParams().btr, 28);

    ConnectParams p;
    p.interface = 3;
    p.isCanDllPath = QStringLiteral("C:/drv/isCANdrv.dll");
    p.isCanDevice = 2;
    p.btr = 0x0014;
    p.listenOnly = true;
    p.errorFrames = true;
    w.saveConnectParams(p);
    const ConnectParams back = w.loadConnectParams();
    QCOMPARE(back.interface, 3);
    QCOMPARE(back.isCanDllPath, p.isCanDllPath);
    QCOMPARE(back.isCanDevice, 2);
    QCOMPARE(back.btr, 0x0014);
    QVERIFY(back.listenOnly);
    QVERIFY(back.errorFrames);
}

void TestMainWindow::showTabIgnoresIndexOutOfRange()
{
    TestWindow w;
    auto *tabs = w.findChild<QTabWidget *>("tabs");
    w.showTab(2);
    QCOMPARE(tabs->currentIndex(), 2);
    w.showTab(99);
    QCOMPARE(tabs->currentIndex(), 2);
    w.showTab(-1);
    QCOMPARE(tabs->currentIndex(), 2);
    w.showTab(0);
    QCOMPARE(tabs->currentIndex(), 0);
}

void TestMainWindow::repeatedSendErrorsAreSuppressedForASecond()
{
    TestWindow w;
    TxMessage m;
    m.frame.id = 0x321;
    m.frame.dlc = 2;
    w.transmitModel()->addMessage(m);

    QVERIFY(!w.sendRow(0));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Nicht verbunden."));

    QVERIFY(w.openBackend(simulationParams()));
    FakeBackend *bus = w.lastBackend;
    bus->writeError = QStringLiteral("Sendepuffer voll");
    w.statusBar()->clearMessage();
    QVERIFY(!w.sendRow(0));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Sendefehler: Sendepuffer voll"));

    w.statusBar()->clearMessage();
    QVERIFY(!w.sendRow(0));
    QCOMPARE(w.statusBar()->currentMessage(), QString());   // same text within a second

    bus->writeError = QStringLiteral("Bus-Off");
    QVERIFY(!w.sendRow(0));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Sendefehler: Bus-Off"));
    QCOMPARE(w.transmitModel()->message(0).count, 0u);

    bus->writeError.clear();
    QVERIFY(w.sendRow(0));
    QCOMPARE(w.transmitModel()->message(0).count, 1u);
    QCOMPARE(bus->written.last().id, 0x321u);
}

void TestMainWindow::cyclicSendingThroughTheWindow()
{
    TestWindow w;
    TxMessage manual;
    manual.frame.id = 0x10;
    TxMessage cyclic;
    cyclic.frame.id = 0x20;
    cyclic.cycleMs = 10;
    w.transmitModel()->addMessage(manual);
    w.transmitModel()->addMessage(cyclic);
    w.transmitModel()->setActive(1, true);

    QVERIFY(w.openBackend(simulationParams()));
    FakeBackend *bus = w.lastBackend;
    // Connecting makes every row due: the active row goes out at the first tick.
    w.onTxTick();
    QCOMPARE(bus->writeCount, 1);
    QCOMPARE(bus->written.first().id, 0x20u);
    w.onTxTick();
    QCOMPARE(bus->writeCount, 1);

    // Real timer: roughly one send per 10 ms, and never the manual row.
    QTRY_VERIFY_WITH_TIMEOUT(bus->writeCount >= 5, 5000);
    for (const CanFrame &f : bus->written)
        QCOMPARE(f.id, 0x20u);
}

void TestMainWindow::transmitListSurvivesRestart()
{
    {
        TestWindow w;
        TxMessage m;
        m.frame.id = 0x18FEF100;
        m.frame.extended = true;
        m.frame.dlc = 3;
        m.cycleMs = 100;
        m.comment = QStringLiteral("Kühlung");
        w.transmitModel()->addMessage(m);
        w.close();
    }
    TestWindow again;
    QCOMPARE(again.transmitModel()->rowCount(), 1);
    const TxMessage &m = again.transmitModel()->message(0);
    QCOMPARE(m.frame.id, 0x18FEF100u);
    QVERIFY(m.frame.extended);
    QCOMPARE(m.cycleMs, 100);
    QCOMPARE(m.comment, QStringLiteral("Kühlung"));
    QVERIFY(!m.active);
}

void TestMainWindow::traceWidgetsRoundTripThroughSettings()
{
    QSettings().setValue(QStringLiteral("trace/maxEntries"), 500);
    QSettings().setValue(QStringLiteral("trace/filterMode"), 5);
    QSettings().setValue(QStringLiteral("trace/filter"), QStringLiteral("100, 180-1FF"));
    QSettings().setValue(QStringLiteral("trace/filterEnabled"), true);
    TestWindow w;
    QCOMPARE(w.findChild<QSpinBox *>("traceMaxSpin")->value(), 1000);
    QCOMPARE(w.findChild<QComboBox *>("traceFilterMode")->currentText(), QStringLiteral("außer"));
    QCOMPARE(w.findChild<QLineEdit *>("traceFilterEdit")->text(), QStringLiteral("100, 180-1FF"));
    QVERIFY(w.findChild<QCheckBox *>("traceFilterCheck")->isChecked());
    w.close();
    QCOMPARE(QSettings().value(QStringLiteral("trace/maxEntries")).toInt(), 1000);
    QCOMPARE(QSettings().value(QStringLiteral("trace/filterMode")).toInt(), 1);
}

void TestMainWindow::simulatedBusShowsTraffic()
{
    MainWindow w;   // the real simulation backend
    w.show();
    QVERIFY(w.openBackend(simulationParams()));
    QCOMPARE(labelText(&w, "messageLabel"), QStringLiteral("Verbunden: Simulation @ 500 kBit/s"));
    QTRY_VERIFY_WITH_TIMEOUT(labelText(&w, "busLabel") == QStringLiteral("Bus: OK"), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(labelText(&w, "rxCountLabel") != QStringLiteral("Rx: 0"), 3000);
    const QString first = labelText(&w, "rxCountLabel");
    QTRY_VERIFY_WITH_TIMEOUT(labelText(&w, "rxCountLabel") != first, 3000);
    QVERIFY(labelText(&w, "loadLabel").startsWith(QStringLiteral("Last: ~")));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
