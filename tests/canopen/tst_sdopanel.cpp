#include "recordingbackend.h"
#include "sdopanel.h"
#include "simulationbackend.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A panel wired like the main window does it, on the simulated bus.
struct Rig
{
    Rig()
    {
        QObject::connect(&simulation, &CanBackend::framesReceived, &client, &SdoClient::handleFrames);
        QObject::connect(&simulation, &CanBackend::framesReceived, &panel, &SdoPanel::handleFrames);
        simulation.open(ConnectParams(), nullptr);
        client.setBackend(&simulation);
        panel.setClient(&client);
        panel.setBackend(&simulation);
        panel.setConnected(true);
    }
    template <typename T> T *find(const char *name) { return panel.findChild<T *>(QLatin1String(name)); }
    // Runs a transfer started by a button to its end.
    bool finish(QSignalSpy &spy)
    {
        for (int i = 0; i < 200 && spy.isEmpty(); ++i)
            simulation.flushQueue();
        return spy.size() == 1;
    }

    SimulationBackend simulation;
    SdoClient client;
    SdoPanel panel;
};

} // namespace

class TestSdoPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void pastingIndexWithSubindex();
    void addressErrors_data();
    void addressErrors();
    void readWithAutomaticType_data();
    void readWithAutomaticType();
    void writeThenRecallFromLog();
    void failedEntryRecallKeepsValue();
    void logKeepsFiveHundred();
    void progressBar();
    void nodeTableShowsAndMarksStale();
    void nmtFromPanel();
    void broadcastNmtNeedsConfirmation();
    void deviceTextWithPercentInToolTip();
    void settingsRoundTrip();
    void disconnectedDisablesButtons();

private:
    QTemporaryDir m_settingsDir;
};

void TestSdoPanel::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("busvista-test"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_sdopanel"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    qRegisterMetaType<CanFrameList>();
}

void TestSdoPanel::init()
{
    QSettings().clear();
}

void TestSdoPanel::pastingIndexWithSubindex()
{
    Rig rig;
    auto *index = rig.find<QLineEdit>("indexEdit");
    auto *sub = rig.find<QLineEdit>("subEdit");
    rig.panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.panel));
    index->clear();
    index->setFocus();
    index->insert(QStringLiteral("1018:04"));
    emit index->textEdited(index->text());
    QCOMPARE(index->text(), QStringLiteral("1018"));
    QCOMPARE(sub->text(), QStringLiteral("04"));
    QTRY_VERIFY(sub->hasFocus());
    index->setFocus();
    QTest::keyClick(index, Qt::Key_Colon);
    QCOMPARE(index->text(), QStringLiteral("1018"));
    QCOMPARE(sub->text(), QStringLiteral("04"));
    QTRY_VERIFY(sub->hasFocus());
}

void TestSdoPanel::addressErrors_data()
{
    QTest::addColumn<QString>("index");
    QTest::addColumn<QString>("sub");
    QTest::addColumn<QString>("status");
    QTest::newRow("empty index") << "" << "00" << "Ungültiger Index.";
    QTest::newRow("empty subindex") << "1000" << "" << "Ungültiger Subindex.";
}

void TestSdoPanel::addressErrors()
{
    QFETCH(QString, index);
    QFETCH(QString, sub);
    QFETCH(QString, status);
    Rig rig;
    rig.find<QLineEdit>("indexEdit")->setText(index);
    rig.find<QLineEdit>("subEdit")->setText(sub);
    rig.find<QPushButton>("readButton")->click();
    QCOMPARE(rig.find<QLabel>("statusLabel")->text(), status);
    QVERIFY(rig.find<QLabel>("statusLabel")->styleSheet().contains(QLatin1String("#c02020")));
    QVERIFY(!rig.client.isBusy());
}

void TestSdoPanel::readWithAutomaticType_data()
{
    QTest::addColumn<QString>("object");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("status");
    QTest::newRow("device type") << "1000:00" << "UNSIGNED32" << "401"
                                 << "1000:00 gelesen (4 Byte, UNSIGNED32, %1 ms): 401 (0x00000191)";
    QTest::newRow("device name") << "1008:00" << "VISIBLE_STRING" << "Busvista Simulation"
                                 << "1008:00 gelesen (19 Byte, VISIBLE_STRING, %1 ms): Busvista Simulation";
}

void TestSdoPanel::readWithAutomaticType()
{
    QFETCH(QString, object);
    QFETCH(QString, type);
    QFETCH(QString, value);
    QFETCH(QString, status);
    Rig rig;
    QSignalSpy finished(&rig.client, &SdoClient::finished);
    rig.find<QLineEdit>("indexEdit")->setText(object.left(4));
    rig.find<QLineEdit>("subEdit")->setText(object.mid(5));
    rig.find<QPushButton>("readButton")->click();
    QCOMPARE(rig.find<QLabel>("statusLabel")->text(), QStringLiteral("Lese %1 von Knoten 5 …").arg(object));
    QVERIFY(!rig.find<QPushButton>("readButton")->isEnabled());
    QVERIFY(rig.find<QPushButton>("cancelButton")->isEnabled());
    QVERIFY(rig.finish(finished));
    QCOMPARE(rig.find<QComboBox>("typeCombo")->currentText(), type);
    QCOMPARE(rig.find<QLineEdit>("valueEdit")->text(), value);
    const qint64 ms = finished.at(0).at(0).value<SdoClient::Result>().elapsedMs;
    QCOMPARE(rig.find<QLabel>("statusLabel")->text(), status.arg(ms));
    QVERIFY(rig.find<QPushButton>("readButton")->isEnabled());
    QCOMPARE(rig.find<QTableWidget>("logTable")->item(0, 3)->text(), QStringLiteral("R"));
}

void TestSdoPanel::writeThenRecallFromLog()
{
    Rig rig;
    QSignalSpy finished(&rig.client, &SdoClient::finished);
    rig.find<QCheckBox>("autoTypeCheck")->setChecked(false);
    rig.find<QLineEdit>("indexEdit")->setText(QStringLiteral("2003"));
    rig.find<QLineEdit>("subEdit")->setText(QStringLiteral("00"));
    auto *combo = rig.find<QComboBox>("typeCombo");
    combo->setCurrentIndex(combo->findData(int(Sdo::Integer16)));
    auto *value = rig.find<QLineEdit>("valueEdit");
    value->setText(QStringLiteral("-5"));
    QTest::keyClick(value, Qt::Key_Return);
    QCOMPARE(rig.find<QLabel>("statusLabel")->text(), QStringLiteral("Schreibe 2 Byte nach 2003:00 auf Knoten 5 …"));
    QVERIFY(rig.finish(finished));
    QVERIFY(rig.find<QLabel>("statusLabel")->text().startsWith(QLatin1String("2003:00 geschrieben (2 Byte, ")));
    auto *log = rig.find<QTableWidget>("logTable");
    QCOMPARE(log->item(0, 4)->text(), QStringLiteral("-5 (0xFFFB)"));
    QVERIFY(log->item(0, 4)->toolTip().contains(QLatin1String("2 Byte: FB FF\nTyp: INTEGER16")));
    value->clear();
    rig.find<QLineEdit>("indexEdit")->setText(QStringLiteral("1000"));
    combo->setCurrentIndex(0);
    emit log->cellDoubleClicked(0, 2);
    QCOMPARE(rig.find<QLineEdit>("indexEdit")->text(), QStringLiteral("2003"));
    QCOMPARE(combo->currentText(), QStringLiteral("INTEGER16"));
    QCOMPARE(value->text(), QStringLiteral("-5"));
}

void TestSdoPanel::failedEntryRecallKeepsValue()
{
    Rig rig;
    QSignalSpy finished(&rig.client, &SdoClient::finished);
    rig.find<QLineEdit>("indexEdit")->setText(QStringLiteral("6000"));
    rig.find<QLineEdit>("subEdit")->setText(QStringLiteral("01"));
    rig.find<QPushButton>("readButton")->click();
    QVERIFY(rig.finish(finished));
    QCOMPARE(rig.find<QLabel>("statusLabel")->text(),
             QStringLiteral("6000:01: Objekt existiert nicht im Objektverzeichnis (0x06020000)"));
    auto *log = rig.find<QTableWidget>("logTable");
    QCOMPARE(log->item(0, 4)->foreground().color(), QColor(QStringLiteral("#c02020")));
    rig.find<QLineEdit>("valueEdit")->setText(QStringLiteral("bleibt"));
    rig.find<QLineEdit>("indexEdit")->setText(QStringLiteral("1000"));
    emit log->cellDoubleClicked(0, 0);
    QCOMPARE(rig.find<QLineEdit>("indexEdit")->text(), QStringLiteral("6000"));
    QCOMPARE(rig.find<QLineEdit>("subEdit")->text(), QStringLiteral("01"));
    QCOMPARE(rig.find<QLineEdit>("valueEdit")->text(), QStringLiteral("bleibt"));
}

void TestSdoPanel::logKeepsFiveHundred()
{
    Rig rig;
    QSignalSpy finished(&rig.client, &SdoClient::finished);
    rig.find<QLineEdit>("indexEdit")->setText(QStringLiteral("1001"));
    rig.find<QLineEdit>("subEdit")->setText(QStringLiteral("00"));
    for (int i = 0; i < 501; ++i) {
        if (i == 1)
            rig.find<QLineEdit>("indexEdit")->setText(QStringLiteral("1017"));
        finished.clear();
        rig.find<QPushButton>("readButton")->click();
        QVERIFY(rig.finish(finished));
    }
    auto *log = rig.find<QTableWidget>("logTable");
    QCOMPARE(log->rowCount(), 500);
    QCOMPARE(log->item(499, 2)->text(), QStringLiteral("1017:00")); // the 1001:00 entry is gone
    rig.find<QPushButton>("clearLogButton")->click();
    QCOMPARE(log->rowCount(), 0);
}

void TestSdoPanel::progressBar()
{
    Rig rig;
    QSignalSpy finished(&rig.client, &SdoClient::finished);
    auto *bar = rig.find<QProgressBar>("progressBar");
    rig.find<QLineEdit>("indexEdit")->setText(QStringLiteral("100A"));
    rig.find<QLineEdit>("subEdit")->setText(QStringLiteral("00"));
    rig.find<QPushButton>("readButton")->click();
    QVERIFY(rig.finish(finished));
    QVERIFY(bar->isHidden()); // five bytes: no bar at any time
    // A longer transfer shows the bar while it runs.
    rig.find<QLineEdit>("indexEdit")->setText(QStringLiteral("1008"));
    finished.clear();
    rig.find<QPushButton>("readButton")->click();
    rig.simulation.flushQueue();
    QVERIFY(!bar->isHidden());
    QCOMPARE(bar->maximum(), 19);
    QVERIFY(rig.finish(finished));
    QVERIFY(bar->isHidden());
}

void TestSdoPanel::nodeTableShowsAndMarksStale()
{
    SdoPanel panel; // no bus: only these heartbeats
    qint64 now = 0;
    panel.monitor().setClock([&now] { return now; });
    CanFrame heartbeat;
    heartbeat.id = 0x705;
    heartbeat.dlc = 1;
    heartbeat.data[0] = 0x05;
    heartbeat.timestampUs = 1000000;
    panel.handleFrames({heartbeat});
    heartbeat.timestampUs = 2000000;
    panel.handleFrames({heartbeat});
    auto *table = panel.findChild<QTableWidget *>(QStringLiteral("nodeTable"));
    QTRY_COMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("  5 (05h)"));
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("Operational"));
    QCOMPARE(table->item(0, 2)->text(), QStringLiteral("1000 ms"));
    QCOMPARE(table->item(0, 3)->text(), QStringLiteral("gerade eben"));
    QCOMPARE(table->item(0, 0)->toolTip(), QStringLiteral("2 Heartbeats empfangen, letzter Zustand Operational"));
    QCOMPARE(table->selectedItems().size(), 4); // node 5 is the one in the form
    now = 65000;
    QTRY_COMPARE(table->item(0, 3)->text(), QStringLiteral("vor 1 min"));
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("keine Meldung mehr"));
    QCOMPARE(table->item(0, 1)->foreground().color(), panel.palette().color(QPalette::Disabled, QPalette::Text));
    now = 66500;
    panel.handleFrames({heartbeat});
    QTRY_COMPARE(table->item(0, 1)->text(), QStringLiteral("Operational"));
    now = 68500;
    QTRY_COMPARE(table->item(0, 3)->text(), QStringLiteral("vor 2 s"));
    emit table->cellClicked(0, 1);
    QCOMPARE(panel.findChild<QSpinBox *>(QStringLiteral("nodeSpin"))->value(), 5);
    QCOMPARE(panel.findChild<QLabel *>(QStringLiteral("cobIdLabel"))->text(), QStringLiteral("Anfrage 605h, Antwort 585h"));
}

void TestSdoPanel::nmtFromPanel()
{
    RecordingBackend backend;
    SdoPanel panel;
    QVERIFY(!panel.sendNmt(Nmt::Stop, 5));
    panel.setBackend(&backend);
    QVERIFY(panel.sendNmt(Nmt::ResetCommunication, 0));
    QCOMPARE(backend.written.size(), 1);
    QCOMPARE(backend.written.at(0).id, quint32(0));
    QCOMPARE(frameBytes(backend.written.at(0)), QByteArray("82 00"));
    // The simulated node follows: its next heartbeat reports Stopped.
    Rig rig;
    QVERIFY(rig.panel.sendNmt(Nmt::Stop, 5));
    QCOMPARE(rig.simulation.nmtState(), quint8(0x04));
}

void TestSdoPanel::broadcastNmtNeedsConfirmation()
{
    RecordingBackend backend;
    SdoPanel panel;
    panel.setBackend(&backend);
    QStringList asked;
    bool answer = false;
    panel.setConfirmHandler([&](const QString &, const QString &text) {
        asked << text;
        return answer;
    });
    QVERIFY(!panel.requestNmt(Nmt::ResetNode, 0));
    QVERIFY(backend.written.isEmpty());
    QCOMPARE(asked.size(), 1);
    QVERIFY2(asked.at(0).contains(QLatin1String("\"Reset Node\" an alle Knoten")), qPrintable(asked.at(0)));
    QCOMPARE(panel.findChild<QLabel *>(QStringLiteral("statusLabel"))->text(),
             QStringLiteral("NMT-Befehl an alle Knoten nicht gesendet."));
    answer = true;
    QVERIFY(panel.requestNmt(Nmt::Stop, 0));
    QCOMPARE(backend.written.size(), 1);
    QCOMPARE(frameBytes(backend.written.at(0)), QByteArray("02 00"));
    // A command to one node goes out without a question.
    QVERIFY(panel.requestNmt(Nmt::Stop, 5));
    QCOMPARE(asked.size(), 2);
    QCOMPARE(backend.written.size(), 2);
}

void TestSdoPanel::deviceTextWithPercentInToolTip()
{
    // A string holding "%1" and Latin-1 letters reads back as text, and the
    // log's tool tip keeps it unchanged beside its hex bytes.
    Rig rig;
    QSignalSpy finished(&rig.client, &SdoClient::finished);
    rig.find<QCheckBox>("autoTypeCheck")->setChecked(true);
    rig.find<QLineEdit>("indexEdit")->setText(QStringLiteral("2002"));
    rig.find<QLineEdit>("subEdit")->setText(QStringLiteral("00"));
    auto *combo = rig.find<QComboBox>("typeCombo");
    combo->setCurrentIndex(combo->findData(int(Sdo::VisibleString)));
    rig.find<QLineEdit>("valueEdit")->setText(QStringLiteral("Größe %1 %2"));
    rig.find<QPushButton>("writeButton")->click();
    QVERIFY(rig.finish(finished));
    combo->setCurrentIndex(combo->findData(int(Sdo::Unsigned8)));
    rig.find<QPushButton>("readButton")->click();
    QSignalSpy second(&rig.client, &SdoClient::finished);
    QVERIFY(rig.finish(second));
    QCOMPARE(combo->currentText(), QStringLiteral("VISIBLE_STRING"));
    auto *log = rig.find<QTableWidget>("logTable");
    QCOMPARE(log->item(0, 4)->text(), QStringLiteral("Größe %1 %2"));
    QVERIFY2(log->item(0, 4)->toolTip().startsWith(QStringLiteral("Größe %1 %2\n11 Byte: 47 72 F6 DF 65 20 25 31 20 25 32\nTyp: VISIBLE_STRING")),
             qPrintable(log->item(0, 4)->toolTip()));
}

void TestSdoPanel::settingsRoundTrip()
{
    {
        SdoPanel panel;
        QCOMPARE(panel.findChild<QSpinBox *>(QStringLiteral("nodeSpin"))->value(), 5);
        QCOMPARE(panel.findChild<QLineEdit *>(QStringLiteral("subEdit"))->text(), QStringLiteral("00"));
        QCOMPARE(panel.currentType(), Sdo::Unsigned32);
        panel.findChild<QSpinBox *>(QStringLiteral("nodeSpin"))->setValue(34);
        panel.findChild<QLineEdit *>(QStringLiteral("indexEdit"))->setText(QStringLiteral("2002"));
        auto *combo = panel.findChild<QComboBox *>(QStringLiteral("typeCombo"));
        combo->setCurrentIndex(combo->findData(int(Sdo::VisibleString)));
        panel.findChild<QSpinBox *>(QStringLiteral("timeoutSpin"))->setValue(2500);
        panel.findChild<QCheckBox *>(QStringLiteral("autoTypeCheck"))->setChecked(false);
        panel.saveSettings();
    }
    QCOMPARE(QSettings().value(QStringLiteral("sdo/type")).toInt(), 9);
    SdoClient client;
    SdoPanel panel;
    panel.setClient(&client);
    QCOMPARE(panel.findChild<QSpinBox *>(QStringLiteral("nodeSpin"))->value(), 34);
    QCOMPARE(panel.findChild<QLineEdit *>(QStringLiteral("indexEdit"))->text(), QStringLiteral("2002"));
    QCOMPARE(panel.currentType(), Sdo::VisibleString);
    QCOMPARE(client.timeoutMs(), 2500);
    QVERIFY(!panel.findChild<QCheckBox *>(QStringLiteral("autoTypeCheck"))->isChecked());
    QSettings().setValue(QStringLiteral("sdo/type"), 42);
    panel.loadSettings();
    QCOMPARE(panel.currentType(), Sdo::VisibleString);
}

void TestSdoPanel::disconnectedDisablesButtons()
{
    Rig rig;
    QCOMPARE(rig.find<QLabel>("statusLabel")->text(), QStringLiteral("Bereit."));
    rig.panel.setConnected(false);
    QVERIFY(!rig.find<QPushButton>("readButton")->isEnabled());
    QVERIFY(!rig.find<QPushButton>("writeButton")->isEnabled());
    QVERIFY(!rig.find<QPushButton>("cancelButton")->isEnabled());
    QCOMPARE(rig.find<QLabel>("statusLabel")->text(), QStringLiteral("Nicht verbunden."));
}

QTEST_MAIN(TestSdoPanel)
#include "tst_sdopanel.moc"
