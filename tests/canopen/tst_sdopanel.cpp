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
#include <QTreeWidget>

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
    void scanFillsNodeTable();
    void emergencyColumnAndHistory();
    void edsTreeTypesAccessAndDcf();
    void formShowsSelectedObjectAfterReadAll_data();
    void formShowsSelectedObjectAfterReadAll();
    void writeRefusesTypeLeftFromAnotherObject_data();
    void writeRefusesTypeLeftFromAnotherObject();
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
    QCOMPARE(table->selectedItems().size(), table->columnCount()); // node 5 is the one in the form
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

void TestSdoPanel::scanFillsNodeTable()
{
    Rig rig;
    rig.panel.monitor().clear();
    auto *scan = rig.find<QPushButton>("scanButton");
    QVERIFY(scan->isEnabled());
    rig.find<QSpinBox>("timeoutSpin")->setValue(50);
    QSignalSpy finished(&rig.panel.scanner(), &NodeScanner::finished);
    scan->click();
    QVERIFY(!scan->isEnabled());
    QVERIFY(!rig.find<QPushButton>("readButton")->isEnabled());
    QVERIFY(rig.find<QPushButton>("cancelButton")->isEnabled());
    QVERIFY(rig.find<QProgressBar>("progressBar")->isVisibleTo(&rig.panel));
    QVERIFY(finished.wait(10000));
    QCOMPARE(rig.find<QLabel>("statusLabel")->text(), QStringLiteral("Suche beendet: 1 Knoten gefunden (5)."));
    QVERIFY(scan->isEnabled());
    QVERIFY(rig.find<QPushButton>("readButton")->isEnabled());
    auto *table = rig.find<QTableWidget>("nodeTable");
    int row = -1;
    for (int r = 0; r < table->rowCount(); ++r) {
        if (table->item(r, 0)->text() == QStringLiteral("  5 (05h)"))
            row = r;
    }
    QVERIFY(row >= 0);
    QCOMPARE(table->item(row, 4)->text(), QStringLiteral("Profil 401 (0x00000191) · Busvista Simulation"));

    // Cancel ends the scan at once and says what was found so far.
    QSignalSpy second(&rig.panel.scanner(), &NodeScanner::finished);
    rig.find<QSpinBox>("timeoutSpin")->setValue(1000);
    scan->click();
    rig.find<QPushButton>("cancelButton")->click();
    QCOMPARE(second.size(), 1);
    QVERIFY(rig.find<QLabel>("statusLabel")->text().startsWith(QLatin1String("Suche abgebrochen: ")));
    QVERIFY(!rig.find<QProgressBar>("progressBar")->isVisibleTo(&rig.panel));
}

void TestSdoPanel::emergencyColumnAndHistory()
{
    SdoPanel panel;
    auto *table = panel.findChild<QTableWidget *>(QStringLiteral("nodeTable"));
    QCOMPARE(table->horizontalHeaderItem(4)->text(), QStringLiteral("Gerät"));
    QCOMPARE(table->horizontalHeaderItem(5)->text(), QStringLiteral("Emergency"));
    QList<CanFrame> frames;
    for (int i = 0; i < 22; ++i)
        frames << hexFrame(0x87, i < 21 ? "10 42 01 00 00 00 00 00" : "10 23 03 00 00 00 00 00");
    panel.handleFrames(frames);
    QTRY_COMPARE(table->rowCount(), 1);
    QTRY_VERIFY(table->item(0, 5) && !table->item(0, 5)->text().isEmpty());
    const QString cell = table->item(0, 5)->text();
    QVERIFY2(cell.startsWith(QStringLiteral("0x2310 Strom, Ausgangsseite (Register 0x03: Allgemein, Strom) ×22, ")),
             qPrintable(cell));
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("– (nur Emergency)"));
    const QStringList tip = table->item(0, 5)->toolTip().split(QLatin1Char('\n'));
    QCOMPARE(tip.size(), 21); // heading and the last 20
    QCOMPARE(tip.at(0), QStringLiteral("22 Emergency-Meldungen, die letzten 20:"));
    QVERIFY(tip.at(1).endsWith(QLatin1String("0x2310 Strom, Ausgangsseite (Register 0x03: Allgemein, Strom)")));
    QVERIFY(tip.at(2).endsWith(QStringLiteral("0x4210 Gerätetemperatur (Register 0x01: Allgemein)")));
}

void TestSdoPanel::edsTreeTypesAccessAndDcf()
{
    Rig rig;
    auto *tree = rig.find<QTreeWidget>("odTree");
    QVERIFY(!tree->isVisibleTo(&rig.panel));
    QVERIFY(!rig.find<QPushButton>("readAllButton")->isEnabled());
    QString error;
    QVERIFY(!rig.panel.loadEds(5, QStringLiteral("/nicht/da.eds"), &error));
    QVERIFY(rig.find<QLabel>("statusLabel")->text().contains(QLatin1String("kann nicht gelesen werden")));
    QVERIFY2(rig.panel.loadEds(5, QStringLiteral(SIMULATION_EDS), &error), qPrintable(error));
    QVERIFY(tree->isVisibleTo(&rig.panel));
    QCOMPARE(tree->topLevelItemCount(), 11);
    QCOMPARE(rig.find<QLabel>("statusLabel")->text(),
             QStringLiteral("EDS busvista-simulation.eds für Knoten 5 geladen: 15 Einträge."));

    // A click takes address and type; the read uses the data sheet's type
    // although "automatisch" is on.
    QTreeWidgetItem *signedValue = tree->findItems(QStringLiteral("2003"), Qt::MatchExactly, 0).value(0);
    QVERIFY(signedValue);
    QCOMPARE(signedValue->text(2), QStringLiteral("INTEGER16"));
    emit tree->itemClicked(signedValue, 1);
    QCOMPARE(rig.find<QLineEdit>("indexEdit")->text(), QStringLiteral("2003"));
    QCOMPARE(rig.find<QLineEdit>("subEdit")->text(), QStringLiteral("00"));
    QCOMPARE(rig.panel.currentType(), Sdo::Integer16);
    rig.find<QCheckBox>("autoTypeCheck")->setChecked(true);
    QSignalSpy finished(&rig.client, &SdoClient::finished);
    rig.find<QPushButton>("readButton")->click();
    QVERIFY(rig.finish(finished));
    QCOMPARE(rig.find<QLineEdit>("valueEdit")->text(), QStringLiteral("-100"));
    QCOMPARE(rig.panel.currentType(), Sdo::Integer16);
    QCOMPARE(tree->findItems(QStringLiteral("2003"), Qt::MatchExactly, 0).value(0)->text(5), QStringLiteral("-100"));

    // Writing a read-only entry is refused before anything is sent.
    const int written = int(finished.size());
    rig.find<QLineEdit>("indexEdit")->setText(QStringLiteral("1008"));
    rig.panel.findChild<QComboBox *>(QStringLiteral("typeCombo"))->setCurrentIndex(9);
    rig.find<QLineEdit>("valueEdit")->setText(QStringLiteral("Neu"));
    rig.find<QPushButton>("writeButton")->click();
    QCOMPARE(rig.find<QLabel>("statusLabel")->text(), QStringLiteral("1008:00 ist laut EDS nur lesbar (const)."));
    QVERIFY(!rig.client.isBusy());
    QCOMPARE(int(finished.size()), written);

    // "Alle lesen" fills every value; the DCF keeps them.
    rig.find<QPushButton>("readAllButton")->click();
    QVERIFY(!rig.find<QPushButton>("readButton")->isEnabled());
    for (int i = 0; i < 400 && !rig.find<QPushButton>("readAllButton")->isEnabled(); ++i)
        rig.simulation.flushQueue();
    QCOMPARE(rig.find<QLabel>("statusLabel")->text(), QStringLiteral("Alle Einträge gelesen: 15 von 15 Werten vorhanden."));
    QCOMPARE(tree->findItems(QStringLiteral("1008"), Qt::MatchExactly, 0).value(0)->text(5),
             QStringLiteral("Busvista Simulation"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("knoten5.dcf"));
    QVERIFY2(rig.panel.saveDcf(path, &error), qPrintable(error));
    EdsFile dcf;
    QVERIFY2(dcf.load(path, 5, &error), qPrintable(error));
    QCOMPARE(dcf.entryCount(), 15);
    QCOMPARE(dcf.find(0x2003, 0)->parameterValue, QStringLiteral("-100"));
    QCOMPARE(dcf.find(0x1017, 0)->parameterValue, QStringLiteral("0x03E8"));
    QCOMPARE(dcf.find(0x1018, 4)->parameterValue, QStringLiteral("0x12345678"));
    // Another node has no data sheet: the tree goes away.
    rig.find<QSpinBox>("nodeSpin")->setValue(6);
    QVERIFY(!tree->isVisibleTo(&rig.panel));
    QVERIFY(!rig.panel.saveDcf(path, &error));
    QCOMPARE(error, QStringLiteral("Für Knoten 6 ist keine EDS geladen."));

    // The block transfer box reaches the client.
    rig.find<QCheckBox>("blockCheck")->setChecked(true);
    QVERIFY(rig.client.blockTransfer());
}

void TestSdoPanel::formShowsSelectedObjectAfterReadAll_data()
{
    QTest::addColumn<QString>("index");
    QTest::addColumn<QString>("sub");
    QTest::addColumn<bool>("byTree");      // else typed into the fields
    QTest::addColumn<bool>("beforeReadAll");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("writeStatus");
    // "Alle lesen" ends with 2003 (INTEGER16, -100): no row may keep its type or value.
    QTest::newRow("text clicked, then all read") << "2002" << "00" << true << true << int(Sdo::VisibleString)
                                                 << "Hallo CANopen" << "Schreibe 13 Byte nach 2002:00 auf Knoten 5 …";
    QTest::newRow("text typed after all read") << "2002" << "00" << false << false << int(Sdo::VisibleString)
                                               << "Hallo CANopen" << "Schreibe 13 Byte nach 2002:00 auf Knoten 5 …";
    QTest::newRow("record sub typed, then all read") << "1018" << "04" << false << true << int(Sdo::Unsigned32)
                                                     << "305419896" << "1018:04 ist laut EDS nur lesbar (ro).";
    QTest::newRow("byte clicked after all read") << "2000" << "00" << true << false << int(Sdo::Unsigned8) << "0"
                                                 << "Schreibe 1 Byte nach 2000:00 auf Knoten 5 …";
}

void TestSdoPanel::formShowsSelectedObjectAfterReadAll()
{
    QFETCH(QString, index);
    QFETCH(QString, sub);
    QFETCH(bool, byTree);
    QFETCH(bool, beforeReadAll);
    QFETCH(int, type);
    QFETCH(QString, value);
    QFETCH(QString, writeStatus);
    Rig rig;
    QString error;
    QVERIFY2(rig.panel.loadEds(5, QStringLiteral(SIMULATION_EDS), &error), qPrintable(error));
    auto *tree = rig.find<QTreeWidget>("odTree");
    const auto select = [&] {
        if (!byTree) {
            rig.find<QLineEdit>("indexEdit")->setText(index);
            rig.find<QLineEdit>("subEdit")->setText(sub);
            return;
        }
        QTreeWidgetItem *item = tree->findItems(index, Qt::MatchExactly, 0).value(0);
        QVERIFY(item);
        emit tree->itemClicked(item, 1);
    };
    if (beforeReadAll)
        select();
    rig.find<QPushButton>("readAllButton")->click();
    for (int i = 0; i < 400 && !rig.find<QPushButton>("readAllButton")->isEnabled(); ++i)
        rig.simulation.flushQueue();
    QCOMPARE(rig.find<QLabel>("statusLabel")->text(), QStringLiteral("Alle Einträge gelesen: 15 von 15 Werten vorhanden."));
    if (!beforeReadAll)
        select();
    QCOMPARE(int(rig.panel.currentType()), type);
    QCOMPARE(rig.find<QLineEdit>("valueEdit")->text(), value);
    // "Schreiben" sends the object's own type.
    rig.find<QPushButton>("writeButton")->click();
    QCOMPARE(rig.find<QLabel>("statusLabel")->text(), writeStatus);
}

void TestSdoPanel::writeRefusesTypeLeftFromAnotherObject_data()
{
    QTest::addColumn<QString>("index");
    QTest::addColumn<int>("type"); // -1: as the form shows it
    QTest::addColumn<bool>("chosenByUser");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("status");
    QTest::newRow("type left by the program") << "2002" << int(Sdo::Integer16) << false << "-100"
                                              << "2002:00 hat laut EDS den Datentyp VISIBLE_STRING, gewählt ist "
                                                 "INTEGER16 – bitte den Datentyp prüfen.";
    QTest::newRow("type the user chose") << "2002" << int(Sdo::Domain) << true << "01 02"
                                         << "Schreibe 2 Byte nach 2002:00 auf Knoten 5 …";
    QTest::newRow("the data sheet's type") << "2003" << -1 << false << "-5"
                                           << "Schreibe 2 Byte nach 2003:00 auf Knoten 5 …";
}

void TestSdoPanel::writeRefusesTypeLeftFromAnotherObject()
{
    QFETCH(QString, index);
    QFETCH(int, type);
    QFETCH(bool, chosenByUser);
    QFETCH(QString, value);
    QFETCH(QString, status);
    Rig rig;
    QString error;
    QVERIFY2(rig.panel.loadEds(5, QStringLiteral(SIMULATION_EDS), &error), qPrintable(error));
    rig.find<QLineEdit>("indexEdit")->setText(index);
    rig.find<QLineEdit>("subEdit")->setText(QStringLiteral("00"));
    auto *combo = rig.find<QComboBox>("typeCombo");
    if (type >= 0) {
        combo->setCurrentIndex(combo->findData(type));
        if (chosenByUser)
            emit combo->activated(combo->currentIndex());
    }
    rig.find<QLineEdit>("valueEdit")->setText(value);
    rig.find<QPushButton>("writeButton")->click();
    QCOMPARE(rig.find<QLabel>("statusLabel")->text(), status);
    QCOMPARE(rig.client.isBusy(), status.startsWith(QStringLiteral("Schreibe")));
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
