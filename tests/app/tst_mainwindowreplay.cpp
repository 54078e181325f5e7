// The player bar of the trace tab as the main window drives it: the shown
// trace goes onto the bus, the trace stays untouched meanwhile, and a
// disconnect ends the replay before the bus closes.
#include "fakebackend.h"
#include "mainwindow.h"
#include "receivemodel.h"
#include "testsettings.h"
#include "tracemodel.h"
#include "traceplayer.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest>

class TestMainWindowReplay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void playsTheShownTraceInOrder();
    void traceStaysUntouchedWhilePlaying();
    void disconnectStopsThePlayerFirst();
    void failuresAreCountedAndShown();
    void echoesAreCountedLikeAnySend();
    void refusesWithoutBusOrTrace();

private:
    // `count` frames, `stepUs` apart, identifiers 0x100 counting up, recorded into the trace.
    static void recordTrace(MainWindow *w, int count, qint64 stepUs, quint32 firstId = 0x100)
    {
        QList<CanFrame> frames;
        for (int i = 0; i < count; ++i) {
            CanFrame f;
            f.id = firstId + quint32(i);
            f.dlc = 1;
            f.data[0] = quint8(i);
            f.timestampUs = 500 + i * stepUs;
            frames.append(f);
        }
        w->setTraceRunning(true);
        w->onFramesReceived(frames);
        w->setTraceRunning(false);
    }
    static void chooseSpeed(MainWindow *w, double speed)
    {
        auto *combo = w->findChild<QComboBox *>("replaySpeedCombo");
        combo->setCurrentIndex(combo->findData(speed));
    }
    static QToolButton *button(MainWindow *w, const char *name) { return w->findChild<QToolButton *>(name); }
    static QString status(MainWindow *w) { return w->statusBar()->currentMessage(); }

    QTemporaryDir m_settingsDir;
};

void TestMainWindowReplay::initTestCase()
{
    useTemporarySettings(m_settingsDir, "tst_mainwindowreplay");
}

void TestMainWindowReplay::init()
{
    QSettings().clear();
}

void TestMainWindowReplay::playsTheShownTraceInOrder()
{
    TestWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    recordTrace(&w, 300, 1000);
    chooseSpeed(&w, ReplayOptions::AsFastAsPossible);
    w.findChild<QSpinBox *>("replayLoopSpin")->setValue(2);
    w.findChild<QLineEdit *>("replayFilterEdit")->setText(QStringLiteral("100-1FF"));

    button(&w, "replayPlayButton")->click();
    QTRY_VERIFY(!w.tracePlayer()->isActive());
    QCOMPARE(status(&w), QStringLiteral("Abspielen beendet: 512 gesendet, 0 fehlgeschlagen"));
    QCOMPARE(w.lastBackend->written.size(), 512);
    for (int i = 0; i < 512; ++i)
        QCOMPARE(w.lastBackend->written.at(i).id, quint32(0x100 + i % 256));
    w.onRefreshTick();
    QCOMPARE(w.findChild<QLabel *>("replayCountsLabel")->text(), QStringLiteral("Gesendet: 512  Fehler: 0"));
    QVERIFY(w.findChild<QProgressBar *>("replayProgress")->format().contains(QStringLiteral("Durchlauf 2")));
    QVERIFY(button(&w, "replayPlayButton")->isEnabled());
    QVERIFY(!button(&w, "replayStopButton")->isEnabled());
}

void TestMainWindowReplay::traceStaysUntouchedWhilePlaying()
{
    TestWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    recordTrace(&w, 50, 1'000'000);   // one frame a second: still playing while we look
    auto *record = w.findChild<QAction *>("actionTraceRun");
    record->setChecked(true);

    button(&w, "replayPlayButton")->click();
    QVERIFY(w.tracePlayer()->isActive());
    // Recording went off and cannot come back while the trace is played.
    QVERIFY(!record->isChecked());
    QVERIFY(!record->isEnabled());
    w.setTraceRunning(true);
    QVERIFY(!w.traceModel()->recording());
    QVERIFY(!w.findChild<QAction *>("actionTraceClear")->isEnabled());
    QVERIFY(!w.findChild<QAction *>("actionLoadTrace")->isEnabled());
    QVERIFY(!w.findChild<QSpinBox *>("traceMaxSpin")->isEnabled());
    QVERIFY(!w.findChild<QComboBox *>("replaySpeedCombo")->isEnabled());

    button(&w, "replayPauseButton")->click();
    QVERIFY(w.tracePlayer()->isPaused());
    QCOMPARE(button(&w, "replayPauseButton")->text(), QStringLiteral("Fortsetzen"));
    button(&w, "replayPauseButton")->click();
    QVERIFY(!w.tracePlayer()->isPaused());

    button(&w, "replayStopButton")->click();
    QVERIFY(!w.tracePlayer()->isActive());
    QVERIFY(status(&w).startsWith(QStringLiteral("Abspielen gestoppt: ")));
    QVERIFY(record->isEnabled());
    QCOMPARE(w.traceModel()->rowCount(), 50);
}

void TestMainWindowReplay::disconnectStopsThePlayerFirst()
{
    TestWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    recordTrace(&w, 100, 1'000'000);
    bool playingAtClose = true;
    w.lastBackend->onClose = [&] { playingAtClose = w.tracePlayer()->isActive(); };
    QVERIFY(w.startReplay());
    w.disconnectBus();
    QVERIFY(!playingAtClose);
    QVERIFY(status(&w).endsWith(QStringLiteral(" – Verbindung getrennt")));
    QVERIFY(button(&w, "replayPlayButton")->isEnabled());
}

void TestMainWindowReplay::failuresAreCountedAndShown()
{
    TestWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    recordTrace(&w, 40, 10);
    w.lastBackend->writeError = QStringLiteral("Sendepuffer voll");
    chooseSpeed(&w, ReplayOptions::AsFastAsPossible);
    QVERIFY(w.startReplay());
    QTRY_VERIFY(!w.tracePlayer()->isActive());
    QCOMPARE(status(&w), QStringLiteral("Abspielen beendet: 0 gesendet, 40 fehlgeschlagen"));
    auto *counts = w.findChild<QLabel *>("replayCountsLabel");
    QCOMPARE(counts->text(), QStringLiteral("Gesendet: 0  Fehler: 40"));
    QCOMPARE(counts->toolTip(), QStringLiteral("Letzter Sendefehler: Sendepuffer voll"));

    // The bus goes away: the player ends with a message.
    w.lastBackend->status = CanBackend::DeviceLost;
    w.lastBackend->lost = true;
    QVERIFY(w.startReplay());
    QTRY_VERIFY(!w.tracePlayer()->isActive());
    QCOMPARE(status(&w), QStringLiteral("Abspielen abgebrochen: Verbindung verloren: Sendepuffer voll"));
}

void TestMainWindowReplay::echoesAreCountedLikeAnySend()
{
    MainWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    recordTrace(&w, 20, 100, 0x400);   // identifiers the simulation does not send itself
    chooseSpeed(&w, 10.0);
    QVERIFY(w.startReplay());
    QTRY_VERIFY(!w.tracePlayer()->isActive());
    // The echoes arrive with the next flush of the bus, like any other send.
    QTRY_COMPARE(w.statistics().txTotal, qint64(20));
    w.onRefreshTick();
    QCOMPARE(w.findChild<QLabel *>("txCountLabel")->text(), QStringLiteral("Tx: 20"));
    QCOMPARE(w.traceModel()->rowCount(), 20);   // not recorded into the played trace
}

void TestMainWindowReplay::refusesWithoutBusOrTrace()
{
    TestWindow w;
    recordTrace(&w, 5, 10);
    QVERIFY(!w.startReplay());
    QCOMPARE(status(&w), QStringLiteral("Nicht verbunden."));

    QVERIFY(w.openBackend(simulationParams()));   // a new connection empties the trace
    QVERIFY(!w.startReplay());
    QCOMPARE(status(&w), QStringLiteral("Der Trace ist leer."));

    recordTrace(&w, 5, 10);
    w.findChild<QLineEdit *>("replayFilterEdit")->setText(QStringLiteral("xyz"));
    QVERIFY(!w.startReplay());
    QVERIFY(status(&w).startsWith(QStringLiteral("CAN-IDs zum Abspielen: Ungültige ID")));
    w.findChild<QLineEdit *>("replayFilterEdit")->setText(QStringLiteral("7FF"));
    QVERIFY(!w.startReplay());
    QVERIFY(status(&w).startsWith(QStringLiteral("Abspielen nicht möglich: Im Trace ist nichts abzuspielen")));
}

QTEST_MAIN(TestMainWindowReplay)
#include "tst_mainwindowreplay.moc"
