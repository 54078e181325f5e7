// The main window connected to a SocketCAN interface of the stand-in kernel
// through its connection dialog: list, title, remembered settings, frames in
// and out, the interface going down and the reset that reopens it.
#include "connectiondialog.h"
#include "mainwindow.h"
#include "receivemodel.h"
#include "socketcanfixture.h"
#include "transmitmodel.h"
#include "app/nextmodal.h"
#include "app/testsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QMessageBox>
#include <QSettings>
#include <QStatusBar>
#include <QTest>

#include <linux/can/error.h>

namespace {

QLabel *label(const MainWindow &window, const char *name)
{
    return window.findChild<QLabel *>(QString::fromLatin1(name));
}

} // namespace

class TestMainWindowSocketCan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void dialogListsInterfacesAndHints();
    void connectReceiveSendDownReset();

private:
    QTemporaryDir m_dir;
};

void TestMainWindowSocketCan::initTestCase()
{
    useTemporarySettings(m_dir, "tst_mainwindowsocketcan");
}

void TestMainWindowSocketCan::init()
{
    QSettings().clear();
}

void TestMainWindowSocketCan::dialogListsInterfacesAndHints()
{
    SocketCanStage stage;
    ConnectionDialog dialog;
    auto *ifaceCombo = dialog.findChild<QComboBox *>(QStringLiteral("ifaceCombo"));
    QCOMPARE(ifaceCombo->itemText(3), QStringLiteral("SocketCAN (Linux)"));
    ConnectParams params = socketCanParams("can1");
    params.btr = 0x011C;
    params.listenOnly = true;
    params.errorFrames = true;
    dialog.setParams(params);
    auto *channels = dialog.findChild<QComboBox *>(QStringLiteral("channelCombo"));
    auto *info = dialog.findChild<QLabel *>(QStringLiteral("infoLabel"));
    QStringList texts;
    for (int i = 0; i < channels->count(); ++i)
        texts << channels->itemText(i);
    QCOMPARE(texts, (QStringList {QStringLiteral("can0   —   aktiv, 500 kBit/s, Error active"),
                                  QStringLiteral("can1   —   inaktiv"), QStringLiteral("vcan0   —   aktiv, virtuell")}));
    QCOMPARE(channels->currentData().toString(), QStringLiteral("can1"));
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("channelLabel"))->text(), QStringLiteral("Schnittstelle:"));
    // Down: the exact command, with the bit rate chosen in the dialog.
    QVERIFY2(info->text().endsWith(QStringLiteral("ip link set can1 up type can bitrate 250000")), qPrintable(info->text()));
    QVERIFY(info->styleSheet().contains(QStringLiteral("#c02020")));
    QVERIFY(!dialog.findChild<QWidget *>(QStringLiteral("dllPathEdit"))->isEnabled());

    channels->setCurrentIndex(0);
    QCOMPARE(info->text(), QStringLiteral("3 CAN-Schnittstelle(n) gefunden."));
    QVERIFY(info->styleSheet().isEmpty());
    const ConnectParams chosen = dialog.params();
    QCOMPARE(chosen.interface, 4);
    QCOMPARE(chosen.socketCanInterface, QStringLiteral("can0"));
    QVERIFY(chosen.listenOnly && chosen.errorFrames); // both go to the kernel interface

    // Switching away and back keeps the choice.
    ifaceCombo->setCurrentIndex(ifaceCombo->findData(1));
    ifaceCombo->setCurrentIndex(ifaceCombo->findData(4));
    QCOMPARE(channels->currentData().toString(), QStringLiteral("can0"));

    // A remembered interface that is away stays selectable.
    CanStandIn_Remove("can0");
    dialog.findChild<QPushButton *>(QStringLiteral("refreshButton"))->click();
    QCOMPARE(channels->currentText(), QStringLiteral("can0  (nicht gefunden)"));
    QCOMPARE(info->text(), QStringLiteral("Die CAN-Schnittstelle can0 gibt es nicht."));

    // Without CAN sockets in the kernel the dialog says so.
    CanStandIn_Reset();
    CanStandIn_SetAvailable(0);
    dialog.findChild<QPushButton *>(QStringLiteral("refreshButton"))->click();
    QVERIFY(info->text().startsWith(QStringLiteral("SocketCAN ist auf diesem System nicht verfügbar")));
    QCOMPARE(channels->count(), 0);
    QVERIFY(!dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->isEnabled());
}

void TestMainWindowSocketCan::connectReceiveSendDownReset()
{
    SocketCanStage stage;
    {
        QSettings settings;
        settings.setValue(QStringLiteral("connection/interface"), 4);
        settings.setValue(QStringLiteral("connection/socketCanInterface"), QStringLiteral("vcan0"));
    }
    MainWindow window;
    onNextModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<ConnectionDialog *>(modal);
        QVERIFY(dialog);
        auto *channels = dialog->findChild<QComboBox *>(QStringLiteral("channelCombo"));
        QCOMPARE(channels->currentData().toString(), QStringLiteral("vcan0"));
        channels->setCurrentIndex(channels->findData(QStringLiteral("can0")));
        dialog->accept();
    });
    window.connectBus();
    QVERIFY(window.backend());
    QVERIFY(window.backend()->isOpen());
    QCOMPARE(window.windowTitle(), QStringLiteral("Busvista – can0 @ 500 kBit/s"));
    QCOMPARE(label(window, "messageLabel")->text(), QStringLiteral("Verbunden: can0 @ 500 kBit/s"));
    {
        QSettings settings;
        QCOMPARE(settings.value(QStringLiteral("connection/interface")).toInt(), 4);
        QCOMPARE(settings.value(QStringLiteral("connection/socketCanInterface")).toString(), QStringLiteral("can0"));
    }

    CanStandIn_InjectNumbered("can0", 0x100, 0, 3, 0, 1000);
    const can_frame other = rawFrame(0x200, {1, 2});
    CanStandIn_Inject("can0", &other, 0, 0);
    QTRY_COMPARE(window.receiveModel()->rowCount(), 2);

    // Sent once, counted once: through the kernel's echo.
    TxMessage message;
    message.frame.id = 0x321;
    message.frame.dlc = 1;
    message.frame.data[0] = 0x5A;
    window.transmitModel()->addMessage(message);
    QVERIFY(window.sendRow(0));
    QCOMPARE(CanStandIn_Written("can0"), quint64(1));
    QTRY_COMPARE(window.statistics().txTotal, qint64(1));
    QTest::qWait(60);
    QCOMPARE(window.statistics().txTotal, qint64(1));
    QCOMPARE(window.statistics().rxTotal, qint64(4));

    // FD frames: a notice in the status bar.
    CanStandIn_InjectFd("can0", 0x400, 16);
    QTRY_COMPARE(static_cast<SocketCanBackend *>(window.backend())->fdFramesSkipped(), qint64(1));
    window.onStatsTick();
    QVERIFY(window.statusBar()->currentMessage().startsWith(QStringLiteral("1 CAN-FD-Frames übersprungen")));

    // Bus-off from the controller.
    const can_frame busOff = rawFrame(CAN_ERR_FLAG | CAN_ERR_BUSOFF, {0, 0, 0, 0, 0, 0, 0, 0});
    CanStandIn_Inject("can0", &busOff, 0, 0);
    QTRY_VERIFY(window.backend()->busStatus() & CanBackend::BusOff);
    window.onStatsTick();
    QCOMPARE(label(window, "busLabel")->text(), QStringLiteral("Bus: Bus-Off"));
    QCOMPARE(label(window, "busLabel")->styleSheet(), QStringLiteral("background:#e04040; color:white;"));
#ifdef BUSVISTA_LIBSOCKETCAN
    // "Hardware zurücksetzen" without the right to restart the controller:
    // said so, and the bus stays off.
    CanStandIn_SetState("can0", 3);
    QString warning;
    onNextModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        warning = box->windowTitle() + QLatin1Char('|') + box->text();
        box->accept();
    });
    window.resetHardware();
    QVERIFY2(warning.startsWith(QStringLiteral("Hardware zurücksetzen|Der CAN-Controller von can0 ist im Bus-Off")),
             qPrintable(warning));
    QVERIFY(warning.contains(QStringLiteral("ip link set can0 type can restart")));
    QVERIFY(window.backend()->isOpen());
    window.onStatsTick();
    QCOMPARE(label(window, "busLabel")->text(), QStringLiteral("Bus: Bus-Off"));
    CanStandIn_SetState("can0", 0);
#endif

    // The interface goes down: the status bar says so, the window keeps what came.
    CanStandIn_SetUp("can0", 0);
    QTRY_VERIFY(window.backend()->busStatus() & CanBackend::DeviceLost);
    window.onStatsTick();
    QVERIFY(label(window, "busLabel")->text().startsWith(QStringLiteral("Bus: Adapter getrennt")));
    QCOMPARE(label(window, "busLabel")->styleSheet(), QStringLiteral("background:#e04040; color:white;"));
    QCOMPARE(window.receiveModel()->rowCount(), 2);

    // Back up: "Hardware zurücksetzen" reopens it.
    CanStandIn_SetUp("can0", 1);
    window.resetHardware();
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Hardware zurückgesetzt."));
    window.onStatsTick();
    QCOMPARE(label(window, "busLabel")->text(), QStringLiteral("Bus: OK"));
    CanStandIn_InjectNumbered("can0", 0x500, 0, 1, 0, 1000);
    QTRY_COMPARE(window.receiveModel()->rowCount(), 3);

    window.disconnectBus();
    QCOMPARE(CanStandIn_OpenSockets(), 0);
}

QTEST_MAIN(TestMainWindowSocketCan)
#include "tst_mainwindowsocketcan.moc"
