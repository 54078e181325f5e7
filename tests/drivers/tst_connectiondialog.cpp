#include "connectiondialog.h"
#include "iscanstandin.h"
#include "pcanstandin.h"
#include "app/nextmodal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace {

template<typename T>
T *child(const QDialog &dialog, const char *name)
{
    return dialog.findChild<T *>(QString::fromLatin1(name));
}

QPushButton *okButton(const QDialog &dialog)
{
    return child<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok);
}

QStringList items(const QComboBox *combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

ConnectParams pcanParams()
{
    ConnectParams params;
    params.basicDllPath = PcanStandIn::path();
    return params;
}

} // namespace

class TestConnectionDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void fixedListsAndDefaults();
    void channelsOfTheDriverWithDetails();
    void noLibraryOffersUnrecognisedChannels();
    void customBitrateRoundTrip();
    void customFieldGatesConnect();
    void switchingKeepsEachInterfacesChoice();
    void isCanAndSimulationNeverGetPcanModes();
    void isCanDevicesOfTheDriverWithDetails();
    void customWordZeroIsRefused_data();
    void customWordZeroIsRefused();
    void libraryRowNamesWhatIsSearched_data();
    void libraryRowNamesWhatIsSearched();

private:
    PcanStandIn standIn;
};

void TestConnectionDialog::initTestCase()
{
    QVERIFY2(standIn.isValid(), qPrintable(PcanStandIn::path()));
}

void TestConnectionDialog::init()
{
    standIn.reset();
}

void TestConnectionDialog::fixedListsAndDefaults()
{
    ConnectionDialog dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Verbinden"));
    QCOMPARE(okButton(dialog)->text(), QStringLiteral("Verbinden"));
    const QComboBox *iface = child<QComboBox>(dialog, "ifaceCombo");
    QStringList interfaces {"PEAK PCAN-Basic (PCAN-USB / -PCI / -LAN)", "isCAN (Thorsis / ifak)",
                            "Simulation (virtueller Bus)"};
#ifdef BUSVISTA_SOCKETCAN
    interfaces << QStringLiteral("SocketCAN (Linux)"); // Linux only
#endif
    QCOMPARE(items(iface), interfaces);
    QCOMPARE(iface->itemData(2).toInt(), 1);
    const QComboBox *baud = child<QComboBox>(dialog, "baudCombo");
    QCOMPARE(baud->count(), 15);
    QCOMPARE(baud->itemText(6), QStringLiteral("95,238 kBit/s"));
    QCOMPARE(baud->itemData(6).toInt(), 0xC34E);
    QCOMPARE(baud->itemText(14), QStringLiteral("Benutzerdefiniert (BTR0/BTR1)"));
    QCOMPARE(baud->itemData(14).toInt(), -2);
    QCOMPARE(baud->currentData().toInt(), 0x001C);
}

void TestConnectionDialog::channelsOfTheDriverWithDetails()
{
    standIn.clearAttached();
    standIn.addAttached(0x51, "PCAN-USB FD", 5, 0, 1, 0x01);
    standIn.addAttached(0x52, "PCAN-USB", 0xFFFFFFFF, 0, 0, 0x03);
    standIn.addAttached(0x41, "", 2, 0, 0, 0x01);
    ConnectionDialog dialog;
    ConnectParams params = pcanParams();
    params.channel = 0x52;
    dialog.setParams(params);
    const QComboBox *channels = child<QComboBox>(dialog, "channelCombo");
    QCOMPARE(items(channels), (QStringList {QStringLiteral("PCAN-USB 1   \u2014   PCAN-USB FD, Geräte-ID 5, FD"),
                                            QStringLiteral("PCAN-USB 2   \u2014   PCAN-USB, belegt"),
                                            QStringLiteral("PCAN-PCI 1   \u2014   Geräte-ID 2")}));
    QCOMPARE(channels->currentData().toInt(), 0x52);
    const QLabel *info = child<QLabel>(dialog, "infoLabel");
    QCOMPARE(info->text(), QStringLiteral("3 Kanal/Kanäle gefunden.\nPCAN-Basic API 4.6.0.600"));
    QCOMPARE(info->styleSheet(), QString());
    QCOMPARE(child<QGroupBox>(dialog, "hwBox")->title(), QStringLiteral("PCAN-Basic"));
    QVERIFY(okButton(dialog)->isEnabled());
    QCOMPARE(dialog.params().channel, 0x52);
    QCOMPARE(dialog.params().basicDllPath, PcanStandIn::path());
}

void TestConnectionDialog::noLibraryOffersUnrecognisedChannels()
{
    ConnectionDialog dialog;
    ConnectParams params;
    params.basicDllPath = QStringLiteral("/nonexistent/PCANBasic.dll");
    params.channel = 0x803;
    dialog.setParams(params);
    const QComboBox *channels = child<QComboBox>(dialog, "channelCombo");
    QCOMPARE(channels->count(), 16);
    QCOMPARE(channels->itemText(0), QStringLiteral("PCAN-USB 1  (nicht erkannt)"));
    QCOMPARE(channels->itemText(8), QStringLiteral("PCAN-PCI 1  (nicht erkannt)"));
    QCOMPARE(channels->itemText(15), QStringLiteral("PCAN-LAN 4  (nicht erkannt)"));
    QCOMPARE(channels->currentData().toInt(), 0x803);
    const QLabel *info = child<QLabel>(dialog, "infoLabel");
    QCOMPARE(info->text(), QStringLiteral("Datei nicht gefunden: /nonexistent/PCANBasic.dll"));
    QCOMPARE(info->styleSheet(), QStringLiteral("color: #c02020;"));
    QVERIFY(okButton(dialog)->isEnabled());

    // A driver without hardware: its message, the same fixed entries.
    standIn.clearAttached();
    child<QLineEdit>(dialog, "dllPathEdit")->setText(PcanStandIn::path());
    child<QPushButton>(dialog, "refreshButton")->click();
    QCOMPARE(channels->count(), 16);
    QVERIFY(info->text().startsWith(QStringLiteral("Keine PCAN-Hardware gefunden (")));
    QCOMPARE(channels->currentData().toInt(), 0x803);
}

void TestConnectionDialog::customBitrateRoundTrip()
{
    ConnectionDialog dialog;
    ConnectParams params = pcanParams();
    params.btr = 0x0A1C;
    dialog.setParams(params);
    QCOMPARE(child<QComboBox>(dialog, "baudCombo")->currentData().toInt(), -2);
    QCOMPARE(child<QLineEdit>(dialog, "customBtrEdit")->text(), QStringLiteral("0A1C"));
    QVERIFY(child<QLineEdit>(dialog, "customBtrEdit")->isEnabled());
    QCOMPARE(dialog.params().btr, 0x0A1C);
    params.btr = 0x1A2;
    dialog.setParams(params);
    QCOMPARE(child<QLineEdit>(dialog, "customBtrEdit")->text(), QStringLiteral("01A2"));
    params.btr = 0x011C;
    dialog.setParams(params);
    QCOMPARE(child<QComboBox>(dialog, "baudCombo")->currentText(), QStringLiteral("250 kBit/s"));
    QVERIFY(!child<QLineEdit>(dialog, "customBtrEdit")->isEnabled());
    QCOMPARE(dialog.params().btr, 0x011C);
}

void TestConnectionDialog::customFieldGatesConnect()
{
    ConnectionDialog dialog;
    dialog.setParams(pcanParams());
    QComboBox *baud = child<QComboBox>(dialog, "baudCombo");
    QLineEdit *custom = child<QLineEdit>(dialog, "customBtrEdit");
    baud->setCurrentIndex(baud->findData(-2));
    custom->clear();
    QVERIFY(!okButton(dialog)->isEnabled());
    QTest::keyClicks(custom, QStringLiteral("x7G"));   // only hex digits are taken
    QCOMPARE(custom->text(), QStringLiteral("7"));
    QVERIFY(okButton(dialog)->isEnabled());
    QTest::keyClicks(custom, QStringLiteral("1234"));
    QCOMPARE(custom->text(), QStringLiteral("7123"));
    QCOMPARE(dialog.params().btr, 0x7123);
}

void TestConnectionDialog::switchingKeepsEachInterfacesChoice()
{
    standIn.clearAttached();
    standIn.addAttached(0x51, "PCAN-USB", 0, 0, 0, 1);
    standIn.addAttached(0x52, "PCAN-USB", 1, 0, 0, 1);
    ConnectionDialog dialog;
    ConnectParams params = pcanParams();
    params.isCanDllPath = QStringLiteral("/opt/iscan/isCANdrv.dll");
    params.isCanDevice = 4;
    dialog.setParams(params);
    QComboBox *iface = child<QComboBox>(dialog, "ifaceCombo");
    QComboBox *channels = child<QComboBox>(dialog, "channelCombo");
    QLineEdit *dll = child<QLineEdit>(dialog, "dllPathEdit");
    channels->setCurrentIndex(channels->findData(0x52));

    iface->setCurrentIndex(iface->findData(3));
    QCOMPARE(dll->text(), QStringLiteral("/opt/iscan/isCANdrv.dll"));
    QCOMPARE(child<QLabel>(dialog, "channelLabel")->text(), QStringLiteral("Gerät:"));
    QCOMPARE(child<QPushButton>(dialog, "refreshButton")->text(), QStringLiteral("Geräte suchen"));
    iface->setCurrentIndex(iface->findData(1));
    QCOMPARE(dll->text(), QString());
    QVERIFY(!child<QGroupBox>(dialog, "hwBox")->isEnabled());
    QVERIFY(okButton(dialog)->isEnabled());
    iface->setCurrentIndex(iface->findData(2));
    QCOMPARE(dll->text(), PcanStandIn::path());
    QCOMPARE(channels->currentData().toInt(), 0x52);
    QCOMPARE(child<QLabel>(dialog, "channelLabel")->text(), QStringLiteral("Kanal:"));

    const ConnectParams result = dialog.params();
    QCOMPARE(result.interface, 2);
    QCOMPARE(result.channel, 0x52);
    QCOMPARE(result.isCanDllPath, QStringLiteral("/opt/iscan/isCANdrv.dll"));
    QCOMPARE(result.isCanDevice, 4);
}

void TestConnectionDialog::isCanAndSimulationNeverGetPcanModes()
{
    ConnectionDialog dialog;
    ConnectParams params = pcanParams();
    params.listenOnly = true;
    params.errorFrames = true;
    dialog.setParams(params);
    QCheckBox *listenOnly = child<QCheckBox>(dialog, "listenOnlyCheck");
    QCheckBox *errorFrames = child<QCheckBox>(dialog, "errorFramesCheck");
    QVERIFY(listenOnly->isChecked() && listenOnly->isEnabled());
    QVERIFY(dialog.params().listenOnly && dialog.params().errorFrames);

    QComboBox *iface = child<QComboBox>(dialog, "ifaceCombo");
    iface->setCurrentIndex(iface->findData(3));
    QVERIFY(!listenOnly->isChecked() && !listenOnly->isEnabled());
    QVERIFY(!errorFrames->isChecked() && !errorFrames->isEnabled());
    QCOMPARE(listenOnly->toolTip(), QStringLiteral("Wird vom isCAN-Treiber nicht unterstützt"));
    listenOnly->setChecked(true);
    QVERIFY(!dialog.params().listenOnly);

    iface->setCurrentIndex(iface->findData(1));
    errorFrames->setChecked(true);
    QCOMPARE(listenOnly->toolTip(), QString());
    QVERIFY(!dialog.params().listenOnly && !dialog.params().errorFrames);
    QCOMPARE(dialog.params().interface, 1);
}

void TestConnectionDialog::isCanDevicesOfTheDriverWithDetails()
{
    IsCanStandIn isCan(QStringLiteral(ISCAN_STANDIN));
    QVERIFY2(isCan.isValid(), qPrintable(isCan.errorString()));
    isCan.reset();
    isCan.configure(0, 1, 0x1A2B, true);
    isCan.configure(3, 4, 0xC0FFEE, false, true);
    isCan.setAttached({0x1A2B, 0x999});

    ConnectionDialog dialog;
    ConnectParams params;
    params.interface = 3;
    params.isCanDllPath = QStringLiteral(ISCAN_STANDIN);
    params.isCanDevice = 3;
    dialog.setParams(params);
    const QComboBox *devices = child<QComboBox>(dialog, "channelCombo");
    QCOMPARE(items(devices),
             (QStringList {QStringLiteral("Nr. 0: isCAN USB   \u2014   Seriennr. 1A2B, angeschlossen"),
                           QStringLiteral("Nr. 3: isCAN NetCube   \u2014   Seriennr. C0FFEE, nicht angeschlossen, belegt")}));
    QCOMPARE(devices->currentData().toInt(), 3);
    const QLabel *info = child<QLabel>(dialog, "infoLabel");
    QVERIFY2(info->text().startsWith(QStringLiteral("2 Gerät(e) konfiguriert, davon 1 angeschlossen.\n1 angeschlossene(s)")),
             qPrintable(info->text()));
    QVERIFY(info->text().endsWith(QStringLiteral("unterstützt kein Listen-Only.")));
    QCOMPARE(child<QGroupBox>(dialog, "hwBox")->title(), QStringLiteral("isCAN"));
    QCOMPARE(dialog.params().interface, 3);
    QCOMPARE(dialog.params().isCanDevice, 3);
    isCan.reset();
}

void TestConnectionDialog::customWordZeroIsRefused_data()
{
    QTest::addColumn<QString>("word");
    QTest::newRow("0") << "0";
    QTest::newRow("0000") << "0000";
}

void TestConnectionDialog::customWordZeroIsRefused()
{
    QFETCH(QString, word);
    ConnectionDialog dialog;
    dialog.setParams(pcanParams());
    QComboBox *baud = child<QComboBox>(dialog, "baudCombo");
    QLineEdit *custom = child<QLineEdit>(dialog, "customBtrEdit");
    baud->setCurrentIndex(baud->findData(-2));
    custom->setText(word);
    QString shown;
    onNextModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        shown = box->text();
        box->accept();
    });
    dialog.open();
    okButton(dialog)->click();
    QTRY_VERIFY(!shown.isEmpty());
    QCOMPARE(shown, QStringLiteral("Ungültiger BTR0/BTR1-Wert: %1 (1 bis FFFF hexadezimal)").arg(word));
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));

    custom->setText(QStringLiteral("1"));
    okButton(dialog)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.params().btr, 1);
}

void TestConnectionDialog::libraryRowNamesWhatIsSearched_data()
{
    QTest::addColumn<int>("interface");
    QTest::addColumn<QString>("name");
#ifdef Q_OS_WIN
    QTest::newRow("PCAN-Basic") << 2 << "PCANBasic.dll";
    QTest::newRow("isCAN") << 3 << "isCANdrv.dll";
#else
    QTest::newRow("PCAN-Basic") << 2 << "libpcanbasic.so";
    QTest::newRow("isCAN") << 3 << "libisCANdrv.so";
#endif
}

void TestConnectionDialog::libraryRowNamesWhatIsSearched()
{
    QFETCH(int, interface);
    QFETCH(QString, name);
    ConnectionDialog dialog;
    ConnectParams params;
    params.interface = interface;
    params.basicDllPath = params.isCanDllPath = QStringLiteral("/nicht/da/x");
    dialog.setParams(params);
    const QString placeholder = child<QLineEdit>(dialog, "dllPathEdit")->placeholderText();
    QCOMPARE(child<QPushButton>(dialog, "browseButton")->toolTip(), name + QStringLiteral(" auswählen"));
#ifdef Q_OS_WIN
    QCOMPARE(placeholder, QStringLiteral("leer = Standardsuche (Programmordner, System32)"));
#else
    QCOMPARE(placeholder, QStringLiteral("leer = Standardsuche nach %1 (LD_LIBRARY_PATH, /usr/local/lib, /usr/lib)").arg(name));
    QCOMPARE(child<QLineEdit>(dialog, "dllPathEdit")->toolTip(), placeholder);
    QCOMPARE(child<QLabel>(dialog, "dllLabel")->text(), QStringLiteral("Bibliothek:"));
#endif
}

QTEST_MAIN(TestConnectionDialog)
#include "tst_connectiondialog.moc"
