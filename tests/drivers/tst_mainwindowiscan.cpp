// The main window connected to the isCAN stand-in through its connection
// dialog, on the driver's callback and on the polling thread.
#include "connectiondialog.h"
#include "iscan.h"
#include "iscanbackend.h"
#include "iscanstandin.h"
#include "mainwindow.h"
#include "receivemodel.h"
#include "transmitmodel.h"
#include "app/nextmodal.h"
#include "app/testsettings.h"

#include <QComboBox>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString StandInPath = QStringLiteral(ISCAN_STANDIN);

QLabel *label(const MainWindow &window, const char *name)
{
    return window.findChild<QLabel *>(QString::fromLatin1(name));
}

} // namespace

class TestMainWindowIsCan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void connectReceiveSendUnplugDisconnect_data();
    void connectReceiveSendUnplugDisconnect();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<IsCanStandIn> m_standIn;
};

void TestMainWindowIsCan::initTestCase()
{
    m_standIn = std::make_unique<IsCanStandIn>(StandInPath);
    QVERIFY2(m_standIn->isValid(), qPrintable(m_standIn->errorString()));
    useTemporarySettings(m_dir, "tst_mainwindowiscan");
}

void TestMainWindowIsCan::init()
{
    m_standIn->reset();
    QSettings().clear();
}

void TestMainWindowIsCan::cleanup()
{
    m_standIn->reset();
}

void TestMainWindowIsCan::connectReceiveSendUnplugDisconnect_data()
{
    QTest::addColumn<bool>("polling");
    QTest::newRow("driver callback") << false;
    QTest::newRow("polling thread") << true;
}

void TestMainWindowIsCan::connectReceiveSendUnplugDisconnect()
{
    QFETCH(bool, polling);
    if (polling)
        m_standIn->force("isCAN_StartMessageHandler", 9);
    m_standIn->configure(2, 1, 0xBEEF, true);
    m_standIn->configure(5, 1, 0x5005, false);
    {
        QSettings settings;
        settings.setValue(QStringLiteral("connection/interface"), 3);
        settings.setValue(QStringLiteral("connection/isCanDllPath"), StandInPath);
        settings.setValue(QStringLiteral("connection/isCanDevice"), 0);
        settings.setValue(QStringLiteral("connection/btr"), 0x001C);
    }

    MainWindow window;
    QStringList shownDevices;
    onNextModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<ConnectionDialog *>(modal);
        QVERIFY(dialog);
        auto *devices = dialog->findChild<QComboBox *>(QStringLiteral("channelCombo"));
        for (int i = 0; i < devices->count(); ++i)
            shownDevices << devices->itemText(i);
        devices->setCurrentIndex(devices->findData(2));
        auto *baud = dialog->findChild<QComboBox *>(QStringLiteral("baudCombo"));
        baud->setCurrentIndex(baud->findText(QStringLiteral("250 kBit/s")));
        dialog->accept();
    });
    window.connectBus();
    QCOMPARE(shownDevices,
             (QStringList {QStringLiteral("Nr. 0: isCAN USB   \u2014   Seriennr. 1A2B, angeschlossen"),
                           QStringLiteral("Nr. 2: isCAN USB   \u2014   Seriennr. BEEF, angeschlossen"),
                           QStringLiteral("Nr. 5: isCAN USB   \u2014   Seriennr. 5005, nicht angeschlossen")}));
    auto *backend = qobject_cast<IsCanBackend *>(window.backend());
    QVERIFY(backend);
    QVERIFY(backend->isOpen());
    QCOMPARE(backend->usesCallback(), !polling);
    QCOMPARE(window.windowTitle(), QStringLiteral("Busvista – isCAN USB (Nr. 2, Seriennr. BEEF) @ 250 kBit/s"));
    QVERIFY(m_standIn->log().contains(QStringLiteral("isCAN_DeviceInitEx(2,6)")));
    {
        QSettings settings;
        QCOMPARE(settings.value(QStringLiteral("connection/interface")).toInt(), 3);
        QCOMPARE(settings.value(QStringLiteral("connection/isCanDllPath")).toString(), StandInPath);
        QCOMPARE(settings.value(QStringLiteral("connection/isCanDevice")).toInt(), 2);
        QCOMPARE(settings.value(QStringLiteral("connection/btr")).toInt(), 0x011C);
    }

    // Received frames reach the receive list.
    QCOMPARE(m_standIn->inject(2, IsCanStandIn::sequence(0, 3)), 3);
    QTRY_COMPARE(window.receiveModel()->rowCount(), 3);

    // One frame out through the transmit list reaches the driver.
    TxMessage message;
    message.frame.id = 0x1ABCDE0;
    message.frame.extended = true;
    message.frame.dlc = 2;
    message.frame.data[0] = 0x12;
    message.frame.data[1] = 0x34;
    window.transmitModel()->addMessage(message);
    QVERIFY(window.sendRow(0));
    QByteArray sent;
    QCOMPARE(m_standIn->transmitted(&sent), quint64(1));
    QCOMPARE(sent.left(9), QByteArray::fromHex("e0cdab01010002" "1234"));
    QTRY_COMPARE(window.statistics().txTotal, qint64(1));
    QCOMPARE(window.statistics().rxTotal, qint64(3));
    QCOMPARE(window.receiveModel()->rowCount(), 3); // the receive list shows received frames only

    // The adapter is pulled out: the status bar names it, the window stays usable.
    m_standIn->unplug(2);
    QTRY_VERIFY(backend->busStatus() & CanBackend::DeviceLost);
    window.onStatsTick();
    QCOMPARE(label(window, "busLabel")->text(), QStringLiteral("Bus: Adapter getrennt"));
    QCOMPARE(label(window, "busLabel")->styleSheet(), QStringLiteral("background:#e04040; color:white;"));
    QVERIFY(!window.sendRow(0));
    QTest::qWait(20);
    window.onStatsTick();
    QCOMPARE(label(window, "busLabel")->text(), QStringLiteral("Bus: Adapter getrennt"));

    window.disconnectBus();
    QVERIFY(!window.backend());
    QCOMPARE(label(window, "messageLabel")->text(), QStringLiteral("Nicht verbunden"));
    QCOMPARE(window.receiveModel()->rowCount(), 3); // what arrived before is kept
    QCOMPARE(IsCan::Library::instance()->users, 0);
    QCOMPARE(m_standIn->openDevices(), 0);
    QCOMPARE(m_standIn->handlerThreads(), 0);
}

QTEST_MAIN(TestMainWindowIsCan)
#include "tst_mainwindowiscan.moc"
