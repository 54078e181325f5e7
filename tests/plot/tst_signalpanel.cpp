#include "plottestutil.h"
#include "signalpanel.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

class TestSignalPanel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void titleTellsWhatIsMissing();
    void unknownIdentifiers_data();
    void unknownIdentifiers();
    void decodedVariablesFillTheTable();
    void sameFrameAgainLeavesTheTableAlone();
    void remoteAndShortFramesShowNoRows();
    void doubleClickAsksForThePlot();

private:
    QLabel *title() const { return m_panel->findChild<QLabel *>(QStringLiteral("titleLabel")); }
    QTableWidget *table() const { return m_panel->findChild<QTableWidget *>(QStringLiteral("table")); }

    SignalPanel *m_panel = nullptr;
};

void TestSignalPanel::init()
{
    m_panel = new SignalPanel;
}

void TestSignalPanel::cleanup()
{
    delete m_panel;
}

void TestSignalPanel::titleTellsWhatIsMissing()
{
    QCOMPARE(title()->text(), QStringLiteral("Keine Symboldatei geladen (Symboldatei → Laden…)"));
    m_panel->setSymbols(loadSymbols(plotSymText()));
    QCOMPARE(title()->text(), QStringLiteral("Keine Nachricht ausgewählt"));
    const CanFrame frame = motorFrame(0, 1);
    m_panel->showFrame(&frame);
    QCOMPARE(table()->rowCount(), 4);
    m_panel->setSymbols(nullptr);
    QCOMPARE(table()->rowCount(), 0);
    QCOMPARE(title()->text(), QStringLiteral("Keine Symboldatei geladen (Symboldatei → Laden…)"));
}

void TestSignalPanel::unknownIdentifiers_data()
{
    QTest::addColumn<bool>("extended");
    QTest::addColumn<bool>("status");
    QTest::addColumn<QString>("title");
    QTest::newRow("standard") << false << false << "012h: nicht in der Symboldatei definiert";
    QTest::newRow("extended") << true << false << "00000012h: nicht in der Symboldatei definiert";
    QTest::newRow("status") << false << true << "Status: nicht in der Symboldatei definiert";
}

void TestSignalPanel::unknownIdentifiers()
{
    QFETCH(bool, extended);
    QFETCH(bool, status);
    m_panel->setSymbols(loadSymbols(plotSymText()));
    CanFrame frame;
    frame.id = 0x12;
    frame.extended = extended;
    frame.status = status;
    m_panel->showFrame(&frame);
    QTEST(title()->text(), "title");
    QCOMPARE(table()->rowCount(), 0);
}

void TestSignalPanel::decodedVariablesFillTheTable()
{
    m_panel->setSymbols(loadSymbols(plotSymText()));
    const CanFrame frame = motorFrame(0, 1234, 65);
    m_panel->showFrame(&frame);
    QCOMPARE(title()->text(), QStringLiteral("<b>Motor</b> &nbsp; 100h"));
    QCOMPARE(table()->item(0, 0)->text(), QStringLiteral("Drehzahl"));
    QCOMPARE(table()->item(0, 1)->text(), QStringLiteral("1234"));
    QCOMPARE(table()->item(0, 2)->text(), QStringLiteral("rpm"));
    QCOMPARE(table()->item(1, 1)->text(), QStringLiteral("25"));
    QCOMPARE(table()->item(1, 3)->text().isEmpty(), false);

    CanFrame mux;
    mux.id = 0x200;
    mux.dlc = 4;
    mux.data[0] = 2;
    mux.data[1] = 7;
    m_panel->showFrame(&mux);
    QCOMPARE(title()->text(), QStringLiteral("<b>Mux [M2]</b> &nbsp; 200h"));
    QCOMPARE(table()->rowCount(), 2);
    QCOMPARE(table()->item(0, 1)->text(), QStringLiteral("7"));
}

void TestSignalPanel::sameFrameAgainLeavesTheTableAlone()
{
    m_panel->setSymbols(loadSymbols(plotSymText()));
    CanFrame frame = motorFrame(5000, 100);
    m_panel->showFrame(&frame);
    table()->item(0, 1)->setText(QStringLiteral("marked"));
    m_panel->showFrame(&frame);
    QCOMPARE(table()->item(0, 1)->text(), QStringLiteral("marked"));
    frame.timestampUs += 1;
    m_panel->showFrame(&frame);
    QCOMPARE(table()->item(0, 1)->text(), QStringLiteral("100"));
}

void TestSignalPanel::remoteAndShortFramesShowNoRows()
{
    m_panel->setSymbols(loadSymbols(plotSymText()));
    CanFrame remote = motorFrame(0, 1);
    remote.rtr = true;
    m_panel->showFrame(&remote);
    QCOMPARE(title()->text(), QStringLiteral("<b>Motor</b> &nbsp; 100h"));
    QCOMPARE(table()->rowCount(), 0);

    CanFrame empty;
    empty.id = 0x100;
    empty.dlc = 0;
    m_panel->showFrame(&empty);
    QCOMPARE(title()->text(), QStringLiteral("<b>Motor</b> &nbsp; 100h"));
    QCOMPARE(table()->rowCount(), 0);
}

void TestSignalPanel::doubleClickAsksForThePlot()
{
    QSignalSpy spy(m_panel, &SignalPanel::plotRequested);
    m_panel->requestPlot(0);   // nothing shown yet
    QCOMPARE(spy.count(), 0);

    m_panel->setSymbols(loadSymbols(plotSymText()));
    CanFrame mux;
    mux.id = 0x200;
    mux.dlc = 4;
    mux.data[0] = 2;
    m_panel->showFrame(&mux);
    m_panel->resize(440, 500);
    m_panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_panel));
    const QRect cell = table()->visualItemRect(table()->item(1, 2));
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(table()->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<PlotSignalRef>(), (PlotSignalRef{"Mux", "M2", "Zweiter"}));

    m_panel->requestPlot(5);   // no such row
    QCOMPARE(spy.count(), 1);
}

QTEST_MAIN(TestSignalPanel)
#include "tst_signalpanel.moc"
