#include "heartbeatmonitor.h"
#include "symtestutil.h"

#include <QTest>

// The example symbol file for the simulated bus: loads cleanly and names
// every message the simulation sends with sensible values.
class TestExampleSymbols : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void decodesTheSimulatedTraffic_data();
    void decodesTheSimulatedTraffic();
    void nmtStatesReadAsInTheNodeTable();

private:
    SymbolDatabase m_db;
};

void TestExampleSymbols::initTestCase()
{
    QStringList warnings;
    QString error;
    QVERIFY2(m_db.load(QStringLiteral(BUSVISTA_EXAMPLES "/simulation.sym"), &error, &warnings), qPrintable(error));
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
}

void TestExampleSymbols::decodesTheSimulatedTraffic_data()
{
    QTest::addColumn<CanFrame>("frame");
    QTest::addColumn<QString>("text");
    // Frames as the simulation builds them.
    QTest::newRow("motor") << frameOf(0x100, {0x0B, 0xB8, 92, 0, 0, 0, 0, 17})
                           << "Drehzahl=3000 1/min; Temperatur=52 °C; Zaehler=17";
    QTest::newRow("pedal") << frameOf(0x1A0, {0x27, 0x10, 0, 9}) << "Stellung=100.00 %; Alive=9";
    QTest::newRow("mode") << frameOf(0x2F0, {3, 0xA5}) << "Betriebsart=Betrieb; Kennung=A5h";
    QTest::newRow("vehicle") << frameOf(0x18FEF100, {0xFF, 0x00, 0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, true)
                             << "Geschwindigkeit=32.00 km/h";
    QTest::newRow("drive rising") << frameOf(0x192, {0x11, 0xC4, 0xE8, 0x03})
                                  << "Eingeschaltet=Ein; Schwelle=Ein; Bewegung=Aufwärts; Position=100.0 %";
    QTest::newRow("boot-up") << frameOf(0x705, {0x00}) << "Zustand=Boot-up";
    QTest::newRow("node 10h") << frameOf(0x710, {0x7F}) << "Zustand=Pre-operational";
    QTest::newRow("node 14h") << frameOf(0x714, {0x05}) << "Zustand=Operational";
    QTest::newRow("node 15h") << frameOf(0x715, {0x05}) << "Zustand=Operational";
    QTest::newRow("random") << frameOf(0x351, {1, 2, 3, 4, 5, 6, 7, 8}) << "";
    QTest::newRow("second drive") << frameOf(0x1A2, {0x10, 0xC0, 0, 0}) << "";
}

void TestExampleSymbols::decodesTheSimulatedTraffic()
{
    QFETCH(CanFrame, frame);
    QFETCH(QString, text);
    const SymMessage *message = m_db.find(frame);
    QVERIFY(message);
    const QList<SymSignalValue> values = m_db.decode(*message, frame);
    QVERIFY(!values.isEmpty());
    if (!text.isEmpty())
        QCOMPARE(m_db.decodeText(frame), text);
}

// The SDO dock's node table and the decoded heartbeat use the same words.
void TestExampleSymbols::nmtStatesReadAsInTheNodeTable()
{
    const SymEnum *states = nullptr;
    for (const SymEnum &e : m_db.enums) {
        if (e.name == QLatin1String("NmtZustand"))
            states = &e;
    }
    QVERIFY(states);
    QCOMPARE(states->values.size(), 4);
    for (auto it = states->values.cbegin(); it != states->values.cend(); ++it)
        QCOMPARE(it.value(), HeartbeatMonitor::stateText(quint8(it.key())));
}

QTEST_GUILESS_MAIN(TestExampleSymbols)
#include "tst_examplesymbols.moc"
