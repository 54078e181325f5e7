#include "fakebackend.h"
#include "mainwindow.h"
#include "testsettings.h"
#include "transmitmodel.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QJsonArray>
#include <QLabel>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
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
    QVERIFY(w.openBackend(simulationParams()));
    QPointer<FakeBackend> first = w.lastBackend;
    w.onFramesReceived({frame(0x100), frame(0x100, true)});
    QCOMPARE(w.statistics().rxTotal, 1);

    QVERIFY(w.openBackend(simulationParams()));
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
