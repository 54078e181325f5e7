#include "plottestutil.h"
#include "signalpanel.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QTimer>
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
    void remoteFrameShowsNoRows();
    void shortFrameNamesTheMissingSignals_data();
    void shortFrameNamesTheMissingSignals();
    void doubleClickAsksForThePlot();
    void contextMenuAsksForThePlot_data();
    void contextMenuAsksForThePlot();

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

void TestSignalPanel::remoteFrameShowsNoRows()
{
    m_panel->setSymbols(loadSymbols(plotSymText()));
    CanFrame remote = motorFrame(0, 1);
    remote.rtr = true;
    m_panel->showFrame(&remote);
    QCOMPARE(title()->text(), QStringLiteral("<b>Motor</b> &nbsp; 100h"));
    QCOMPARE(table()->rowCount(), 0);
}

void TestSignalPanel::shortFrameNamesTheMissingSignals_data()
{
    QTest::addColumn<int>("dlc");
    QTest::addColumn<QStringList>("values");   // Drehzahl, Temp, Name, Leistung
    const QString dash = QStringLiteral("\u2014");
    QTest::newRow("no data") << 0 << QStringList {dash, dash, dash, dash};
    QTest::newRow("three bytes") << 3 << QStringList {"1", "-40", dash, dash};
    QTest::newRow("all eight") << 8 << QStringList {"1", "-40", "", "0"};
}

// A frame shorter than its message lists every signal; those it does not
// reach show the dash and, over the whole row, why.
void TestSignalPanel::shortFrameNamesTheMissingSignals()
{
    QFETCH(int, dlc);
    QFETCH(QStringList, values);
    m_panel->setSymbols(loadSymbols(plotSymText()));
    CanFrame frame = motorFrame(0, 1);
    frame.dlc = quint8(dlc);
    m_panel->showFrame(&frame);
    QCOMPARE(title()->text(), QStringLiteral("<b>Motor</b> &nbsp; 100h"));
    QCOMPARE(table()->rowCount(), 4);
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(table()->item(row, 1)->text(), values.at(row));
        const bool missing = values.at(row) == QStringLiteral("\u2014");
        for (int column = 0; column < 4; ++column) {
            const QString tip = table()->item(row, column)->toolTip();
            QCOMPARE(tip.startsWith(QStringLiteral("Fehlt im Frame: ")), missing);
        }
    }
    QCOMPARE(table()->item(0, 2)->text(), QStringLiteral("rpm"));
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

void TestSignalPanel::contextMenuAsksForThePlot_data()
{
    QTest::addColumn<int>("row");           // -1: below the last row
    QTest::addColumn<bool>("choose");       // false: the menu is dismissed
    QTest::addColumn<QString>("variable");  // empty: no request
    QTest::newRow("first row") << 0 << true << "Drehzahl";
    QTest::newRow("last row") << 3 << true << "Leistung";
    QTest::newRow("dismissed") << 1 << false << "";
    QTest::newRow("below the rows") << -1 << true << "";
}

void TestSignalPanel::contextMenuAsksForThePlot()
{
    QFETCH(int, row);
    QFETCH(bool, choose);
    QFETCH(QString, variable);
    m_panel->setSymbols(loadSymbols(plotSymText()));
    const CanFrame frame = motorFrame(0, 1200, 60, 1.5f);
    m_panel->showFrame(&frame);
    m_panel->resize(440, 500);
    m_panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_panel));
    QCOMPARE(table()->rowCount(), 4);
    const QRect lastRow = table()->visualItemRect(table()->item(3, 1));
    const QPoint at = row < 0 ? QPoint(lastRow.center().x(), lastRow.bottom() + 20)
                              : table()->visualItemRect(table()->item(row, 1)).center();

    QStringList entries;
    QTimer answer;
    answer.setInterval(10);
    connect(&answer, &QTimer::timeout, this, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (const QAction *action : menu->actions())
            entries << action->text();
        if (choose)
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions().value(0)).center());
        else
            QTest::keyClick(menu, Qt::Key_Escape);
    });
    answer.start();
    QSignalSpy spy(m_panel, &SignalPanel::plotRequested);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, table()->viewport()->mapToGlobal(at));
    QApplication::sendEvent(table()->viewport(), &event);
    answer.stop();

    QCOMPARE(entries, row < 0 ? QStringList() : QStringList{QStringLiteral("Im Plotter anzeigen")});
    QCOMPARE(spy.count(), variable.isEmpty() ? 0 : 1);
    if (!variable.isEmpty())
        QCOMPARE(spy.at(0).at(0).value<PlotSignalRef>(), (PlotSignalRef{"Motor", "", variable}));
}

QTEST_MAIN(TestSignalPanel)
#include "tst_signalpanel.moc"
