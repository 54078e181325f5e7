#include "markerpanel.h"

#include <QLabel>
#include <QTableWidget>
#include <QTest>

class TestMarkerPanel : public QObject
{
    Q_OBJECT

private slots:
    void markerOffShowsTheHintAndNoRows();
    void markerOnListsEveryRow();
    void unchangedCellsAreNotRewritten();
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

QTEST_MAIN(TestMarkerPanel)
#include "tst_markerpanel.moc"
