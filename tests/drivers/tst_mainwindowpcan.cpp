#include "connectiondialog.h"
#include "mainwindow.h"
#include "pcanbasicbackend.h"
#include "pcanbasic.h"
#include "pcanstandin.h"
#include "receivemodel.h"
#include "app/nextmodal.h"
#include "app/testsettings.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

ConnectParams pcanParams()
{
    ConnectParams params;
    params.basicDllPath = PcanStandIn::path();
    return params;
}

QString labelText(const MainWindow &window, const char *name)
{
    const QLabel *label = window.findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QString();
}

} // namespace

// The main window connected to the PCAN-Basic stand-in.
class TestMainWindowPcan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void connectsThroughTheDialogAndKeepsTheChoice();
    void cancelledDialogChangesNothing();
    void framesBothWays();
    void unpluggedAdapterIsShownAndDisconnectable();
    void failedOpenShowsTheDriversMessage();
    void lostAdapterIsNotCalledConnectedUntilReset();
    void resetWithoutAdapterDisconnects();

private:
    QTemporaryDir m_dir;
    PcanStandIn standIn;
};

void TestMainWindowPcan::initTestCase()
{
    QVERIFY2(standIn.isValid(), qPrintable(PcanStandIn::path()));
    useTemporarySettings(m_dir, "tst_mainwindowpcan");
}

void TestMainWindowPcan::init()
{
    standIn.reset();
    QSettings().clear();
}

void TestMainWindowPcan::connectsThroughTheDialogAndKeepsTheChoice()
{
    {
        QSettings settings;
        settings.setValue(QStringLiteral("connection/interface"), 2);
        settings.setValue(QStringLiteral("connection/basicDllPath"), PcanStandIn::path());
        settings.setValue(QStringLiteral("connection/channel"), 0x52);
        settings.setValue(QStringLiteral("connection/btr"), 0x011C);
        settings.setValue(QStringLiteral("connection/isCanDevice"), 3);
    }
    MainWindow window;
    QString shownChannel;
    onNextModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<ConnectionDialog *>(modal);
        QVERIFY(dialog);
        shownChannel = dialog->findChild<QComboBox *>(QStringLiteral("channelCombo"))->currentText();
        dialog->findChild<QComboBox *>(QStringLiteral("baudCombo"))->setCurrentIndex(0); // 1 MBit/s
        dialog->accept();
    });
    window.connectBus();
    QCOMPARE(shownChannel, QStringLiteral("PCAN-USB 2   \u2014   PCAN-USB FD, Geräte-ID 5, FD, belegt"));
    QVERIFY(qobject_cast<PcanBasicBackend *>(window.backend()));
    QVERIFY(window.backend()->isOpen());
    QCOMPARE(window.windowTitle(), QStringLiteral("Busvista – PCAN-USB 2 @ 1 MBit/s [PCAN-USB FD, Geräte-ID 5]"));

    QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("connection/interface")).toInt(), 2);
    QCOMPARE(settings.value(QStringLiteral("connection/basicDllPath")).toString(), PcanStandIn::path());
    QCOMPARE(settings.value(QStringLiteral("connection/channel")).toInt(), 0x52);
    QCOMPARE(settings.value(QStringLiteral("connection/btr")).toInt(), 0x0014);
    QCOMPARE(settings.value(QStringLiteral("connection/isCanDevice")).toInt(), 3);
    QCOMPARE(settings.value(QStringLiteral("connection/isCanDllPath")).toString(), QString());
    QCOMPARE(settings.value(QStringLiteral("connection/listenOnly")).toBool(), false);
    QVERIFY(settings.contains(QStringLiteral("connection/errorFrames")));
    window.disconnectBus();
}

void TestMainWindowPcan::cancelledDialogChangesNothing()
{
    MainWindow window;
    onNextModal([](QWidget *modal) {
        auto *dialog = qobject_cast<ConnectionDialog *>(modal);
        QVERIFY(dialog);
        // The simulation is one click away.
        auto *iface = dialog->findChild<QComboBox *>(QStringLiteral("ifaceCombo"));
        iface->setCurrentIndex(iface->findData(1));
        dialog->reject();
    });
    window.connectBus();
    QVERIFY(!window.backend());
    QVERIFY(QSettings().allKeys().filter(QStringLiteral("connection/")).isEmpty());
    QCOMPARE(labelText(window, "messageLabel"), QStringLiteral("Nicht verbunden"));
}

void TestMainWindowPcan::framesBothWays()
{
    MainWindow window;
    QVERIFY(window.openBackend(pcanParams()));
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (int i = 0; i < 3; ++i)
        standIn.inject(0x51, 0x100 + uint32_t(i), 0, 8, data, uint32_t(i), 0, 0);
    QTRY_COMPARE(window.receiveModel()->rowCount(), 3);

    CanFrame frame;
    frame.id = 0x321;
    frame.dlc = 1;
    QVERIFY(window.backend()->write(frame, nullptr));
    uint8_t record[16] = {};
    QCOMPARE(standIn.takeWritten(record, 1), 1u);
    QCOMPARE(record[0], uint8_t(0x21));
    QCOMPARE(record[1], uint8_t(0x03));
    // The driver's echo is counted as transmitted.
    QTRY_COMPARE(window.statistics().txTotal, qint64(1));
    QCOMPARE(window.statistics().rxTotal, qint64(3));
    window.disconnectBus();
}

void TestMainWindowPcan::unpluggedAdapterIsShownAndDisconnectable()
{
    MainWindow window;
    QVERIFY(window.openBackend(pcanParams()));
    const uint8_t data[8] = {};
    standIn.inject(0x51, 0x100, 0, 8, data, 0, 0, 0);
    QTRY_COMPARE(window.receiveModel()->rowCount(), 1);

    standIn.unplug();
    // The reader notices the loss at its next read.
    QTRY_COMPARE((window.onStatsTick(), labelText(window, "busLabel")), QStringLiteral("Bus: Adapter getrennt"));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("busLabel"))->styleSheet(),
             QStringLiteral("background:#e04040; color:white;"));
    // Still responsive, still reported at the next tick.
    QTest::qWait(20);
    window.onStatsTick();
    QCOMPARE(labelText(window, "busLabel"), QStringLiteral("Bus: Adapter getrennt"));

    window.disconnectBus();
    QVERIFY(!window.backend());
    QCOMPARE(labelText(window, "messageLabel"), QStringLiteral("Nicht verbunden"));
    QCOMPARE(window.receiveModel()->rowCount(), 1);
    QCOMPARE(PcanBasic::Library::instance()->users, 0);
}

void TestMainWindowPcan::failedOpenShowsTheDriversMessage()
{
    MainWindow window;
    standIn.forceStatus("CAN_Initialize", 0x1400);
    QString title;
    QString text;
    onNextModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });
    QVERIFY(!window.openBackend(pcanParams()));
    QCOMPARE(title, QStringLiteral("Verbindungsfehler"));
    QCOMPARE(text, QStringLiteral("PCAN-USB 1 konnte nicht initialisiert werden:\nUngültiges Hardware-Handle (0x1400)"));
    QVERIFY(!window.backend());
}

void TestMainWindowPcan::lostAdapterIsNotCalledConnectedUntilReset()
{
    MainWindow window;
    QVERIFY(window.openBackend(pcanParams()));
    const QString connected = QStringLiteral("Busvista – PCAN-USB 1 @ 500 kBit/s [PCAN-USB, Geräte-ID 0]");
    QCOMPARE(window.windowTitle(), connected);

    standIn.unplug();
    QTRY_VERIFY((window.onStatsTick(), window.windowTitle() != connected));
    QCOMPARE(window.windowTitle(), connected + QStringLiteral(" (Adapter getrennt)"));
    QVERIFY(labelText(window, "messageLabel").startsWith(QStringLiteral("Adapter getrennt: PCAN-USB 1")));
    QVERIFY(!labelText(window, "messageLabel").contains(QStringLiteral("Verbunden")));

    standIn.plug();
    window.resetHardware();
    QCOMPARE(window.windowTitle(), connected);
    QVERIFY(labelText(window, "messageLabel").startsWith(QStringLiteral("Verbunden: ")));
    const uint8_t data[8] = {};
    standIn.inject(0x51, 0x222, 0, 8, data, 0, 0, 0);
    QTRY_COMPARE(window.receiveModel()->rowCount(), 1);
    window.onStatsTick();
    QCOMPARE(labelText(window, "busLabel"), QStringLiteral("Bus: OK"));
    window.disconnectBus();
}

void TestMainWindowPcan::resetWithoutAdapterDisconnects()
{
    MainWindow window;
    QVERIFY(window.openBackend(pcanParams()));
    standIn.unplug();
    QTRY_VERIFY((window.onStatsTick(), window.windowTitle().endsWith(QStringLiteral("(Adapter getrennt)"))));
    QString text;
    onNextModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        text = box->text();
        box->accept();
    });
    window.resetHardware();
    QVERIFY(text.startsWith(QStringLiteral("PCAN-USB 1 konnte nicht wieder in Betrieb genommen werden")));
    QVERIFY(text.endsWith(QStringLiteral("Die Verbindung wurde getrennt.")));
    QVERIFY(!window.backend());
    QCOMPARE(window.windowTitle(), QStringLiteral("Busvista"));
    QCOMPARE(labelText(window, "messageLabel"), QStringLiteral("Nicht verbunden"));
    QCOMPARE(PcanBasic::Library::instance()->users, 0);
}

QTEST_MAIN(TestMainWindowPcan)
#include "tst_mainwindowpcan.moc"
