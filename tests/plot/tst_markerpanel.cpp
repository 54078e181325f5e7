#include "markerpanel.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>

class TestMarkerPanel : public QObject
{
    Q_OBJECT

private slots:
    void markerOffShowsTheHintAndNoRows();
    void markerOnListsEveryRow();
    void unchangedCellsAreNotRewritten();
    void rightAxisNoteFitsTheDockWidth();
    void twoCursorsAddTheirColumns_data();
    void twoCursorsAddTheirColumns();
};

namespace {

QLabel *title(MarkerPanel &panel)
{
    return panel.findChild<QLabel *>(QStringLiteral("titleLabel"));
}

QTableWidget *table(MarkerPanel &panel)
{
    return panel.findChild<QTableWidget *>(QStringLiteral("table"));
}

} // namespace

void TestMarkerPanel::markerOffShowsTheHintAndNoRows()
{
    MarkerPanel panel;
    QCOMPARE(title(panel)->text(),
             QStringLiteral("Marker aus – im Plotter den Haken „Marker“ setzen, dann Klick oder Ziehen im Diagramm."));
    panel.setMarker(true, 1.5, {{"A.B", Qt::red, "1", "", false}});
    panel.setMarker(false, 1.5, {{"A.B", Qt::red, "1", "", false}});
    QCOMPARE(table(panel)->rowCount(), 0);

    panel.setMarker(true, 2.0, {});
    QCOMPARE(title(panel)->text(), QStringLiteral("<b>Marker bei t = 2.000 s</b>"));
    QCOMPARE(table(panel)->rowCount(), 0);
}

void TestMarkerPanel::markerOnListsEveryRow()
{
    MarkerPanel panel;
    panel.setMarker(true, 12.34567, {{"Motor.Drehzahl", QColor("#1f77b4"), "1200", "rpm", false},
                                     {"Motor.Temp", QColor("#d62728"), "–", "°C", true},
                                     {"Mux[M1].Wert", QColor("#2ca02c"), "–", "", false}});
    QCOMPARE(title(panel)->text(), QStringLiteral("<b>Marker bei t = 12.346 s</b>"));
    QTableWidget *t = table(panel);
    QCOMPARE(t->rowCount(), 3);
    QCOMPARE(t->item(0, 0)->background().color(), QColor("#1f77b4"));
    QCOMPARE(t->item(0, 1)->text(), QStringLiteral("Motor.Drehzahl"));
    QCOMPARE(t->item(0, 2)->text(), QStringLiteral("1200 rpm"));
    QCOMPARE(t->item(1, 1)->text(), QStringLiteral("Motor.Temp  (rechts)"));
    QCOMPARE(t->item(1, 2)->text(), QStringLiteral("– °C"));
    QCOMPARE(t->item(2, 2)->text(), QStringLiteral("–"));

    panel.setMarker(true, 1, {{"Motor.Drehzahl", QColor("#1f77b4"), "5", "rpm", true}});
    QCOMPARE(t->rowCount(), 1);
    QCOMPARE(t->item(0, 1)->text(), QStringLiteral("Motor.Drehzahl  (rechts)"));
}

void TestMarkerPanel::unchangedCellsAreNotRewritten()
{
    MarkerPanel panel;
    const QList<MarkerRow> rows{{"A.B", Qt::blue, "1", "V", false}, {"A.C", Qt::green, "2", "V", false}};
    panel.setMarker(true, 1, rows);
    QTableWidget *t = table(panel);
    QTableWidgetItem *kept = t->item(1, 2);
    t->selectRow(1);
    int changes = 0;
    connect(t->model(), &QAbstractItemModel::dataChanged, this, [&changes] { ++changes; });
    panel.setMarker(true, 1, rows);
    QCOMPARE(changes, 0);
    QCOMPARE(t->item(1, 2), kept);
    QCOMPARE(t->currentRow(), 1);
    panel.setMarker(true, 1, {{"A.B", Qt::blue, "1", "V", false}, {"A.C", Qt::green, "3", "V", false}});
    QCOMPARE(changes, 1);
    QCOMPARE(t->item(1, 2)->text(), QStringLiteral("3 V"));
}

void TestMarkerPanel::rightAxisNoteFitsTheDockWidth()
{
    // The dock's width in the main window at its default size.
    MarkerPanel panel;
    panel.resize(440, 300);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    panel.setMarker(true, 1, {{"Motor.Drehzahl", QColor("#1f77b4"), "12345.678", "rpm", true},
                              {"Getriebe.Eingangsdrehzahl", QColor("#d62728"), "1234567", "1/min", true}});
    QTableWidget *t = table(panel);
    QHeaderView *header = t->horizontalHeader();
    const QFontMetrics metrics(t->font());
    for (int row = 0; row < 2; ++row) {
        const QString name = t->item(row, 1)->text();
        QVERIFY(name.endsWith(QStringLiteral("(rechts)")));
        QVERIFY2(header->sectionSize(1) > metrics.horizontalAdvance(name), qPrintable(name));
        QVERIFY(header->sectionSize(2) > metrics.horizontalAdvance(t->item(row, 2)->text()));
    }
    QCOMPARE(t->horizontalScrollBar()->maximum(), 0);

    // Narrower than the texts: the name gives way in its middle, the value and
    // the note at the end stay whole.
    panel.resize(260, 300);
    QTRY_COMPARE(t->horizontalScrollBar()->maximum(), 0);
    QVERIFY(header->sectionSize(2) > metrics.horizontalAdvance(t->item(1, 2)->text()));
    QCOMPARE(t->textElideMode(), Qt::ElideMiddle);
}

void TestMarkerPanel::twoCursorsAddTheirColumns_data()
{
    QTest::addColumn<double>("timeA");
    QTest::addColumn<double>("timeB");
    QTest::addColumn<QString>("title");
    QTest::newRow("B after A") << 1.0 << 1.25
                               << "<b>A: t = 1.000 s &nbsp; B: t = 1.250 s</b><br>Δt = 0.250 s &nbsp; 1/Δt = 4 Hz";
    QTest::newRow("B before A") << 2.0 << 1.5
                                << "<b>A: t = 2.000 s &nbsp; B: t = 1.500 s</b><br>Δt = -0.500 s &nbsp; 1/Δt = 2 Hz";
    QTest::newRow("microseconds apart") << 3.000001 << 3.000002
                                        << "<b>A: t = 3.000001 s &nbsp; B: t = 3.000002 s</b><br>Δt = 0.000001 s "
                                           "&nbsp; 1/Δt = 1000000 Hz";
    QTest::newRow("same time") << 1.0 << 1.0
                               << "<b>A: t = 1.000 s &nbsp; B: t = 1.000 s</b><br>Δt = 0.000 s &nbsp; 1/Δt = –";
}

void TestMarkerPanel::twoCursorsAddTheirColumns()
{
    QFETCH(double, timeA);
    QFETCH(double, timeB);
    MarkerPanel panel;
    MarkerState state;
    state.enabled = true;
    state.time = timeA;
    state.second = true;
    state.timeB = timeB;
    state.rows = {{"A.B", Qt::red, "1", "V", false, "3.5", "2.5"}, {"A.C", Qt::blue, "Ein", "", true, "–", "–"}};
    panel.setState(state);
    QTEST(title(panel)->text(), "title");
    QTableWidget *t = table(panel);
    QCOMPARE(t->horizontalHeaderItem(2)->text(), QStringLiteral("A [Einheit]"));
    QVERIFY(!t->isColumnHidden(3) && !t->isColumnHidden(4));
    QCOMPARE(t->item(0, 2)->text(), QStringLiteral("1 V"));
    QCOMPARE(t->item(0, 3)->text(), QStringLiteral("3.5 V"));
    QCOMPARE(t->item(0, 4)->text(), QStringLiteral("2.5 V"));
    QCOMPARE(t->item(1, 3)->text(), QStringLiteral("–"));

    // Back to the marker alone.
    state.second = false;
    panel.setState(state);
    QCOMPARE(t->horizontalHeaderItem(2)->text(), QStringLiteral("Wert [Einheit]"));
    QVERIFY(t->isColumnHidden(3) && t->isColumnHidden(4));
    QCOMPARE(title(panel)->text(), QStringLiteral("<b>Marker bei t = %1 s</b>").arg(timeA, 0, 'f', 3));
}

QTEST_MAIN(TestMarkerPanel)
#include "tst_markerpanel.moc"
