#include "plotdata.h"

#include <QTest>

#include <cfloat>

class TestPlotData : public QObject
{
    Q_OBJECT

private slots:
    void formatValue_data();
    void formatValue();
    void autoRange_data();
    void autoRange();
    void manualRangeIsNeverEmpty();
    void paletteRepeatsAfterTen();
    void upToMaxUnreducedPointsAreCopied();
    void morePointsKeepTheExtremesOfEachBucket();
    void reducedPointsStayInTimeOrder();
    void extendLooksOnlyInsideTheDataRange();
};

void TestPlotData::formatValue_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("trailing zeros") << 1.5 << "1.5";
    QTest::newRow("whole") << 2.0 << "2";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("three decimals") << 12.3456 << "12.346";
    QTest::newRow("negative") << -0.25 << "-0.25";
    QTest::newRow("tiny") << 0.0001234 << "0.0001234";
    QTest::newRow("just not tiny") << 0.001 << "0.001";
    QTest::newRow("huge") << 1234567.0 << "1.23457e+06";
    QTest::newRow("just below huge") << 999999.5 << "999999.5";
    QTest::newRow("rounds to minus zero") << -0.0004 << "-0.0004";
}

void TestPlotData::formatValue()
{
    QFETCH(double, value);
    QTEST(PlotData::formatValue(value), "text");
}

void TestPlotData::autoRange_data()
{
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::newRow("no data") << DBL_MAX << -DBL_MAX << 0.0 << 1.0;
    QTest::newRow("constant 0") << 0.0 << 0.0 << -1.0 << 1.0;
    QTest::newRow("constant 50") << 50.0 << 50.0 << 45.0 << 55.0;
    QTest::newRow("constant -50") << -50.0 << -50.0 << -55.0 << -45.0;
    QTest::newRow("0 and 10") << 0.0 << 10.0 << -0.5 << 10.5;
}

void TestPlotData::autoRange()
{
    QFETCH(double, min);
    QFETCH(double, max);
    const PlotData::Range range = PlotData::autoRange(min, max);
    QTEST(range.min, "low");
    QTEST(range.max, "high");
}

void TestPlotData::manualRangeIsNeverEmpty()
{
    const PlotData::Range same = PlotData::manualRange(5, 5);
    QCOMPARE(same.min, 5 - 1e-6);
    QCOMPARE(same.max, 5.0);
    const PlotData::Range swapped = PlotData::manualRange(10, 2);
    QVERIFY(swapped.min < swapped.max);
}

void TestPlotData::paletteRepeatsAfterTen()
{
    QCOMPARE(PlotData::color(0), QColor("#1f77b4"));
    QCOMPARE(PlotData::color(9), QColor("#7f7f7f"));
    QCOMPARE(PlotData::color(11), QColor("#d62728"));
}

void TestPlotData::upToMaxUnreducedPointsAreCopied()
{
    QList<QPointF> points;
    for (int i = 0; i < PlotData::MaxUnreduced + 10; ++i)
        points.append(QPointF(i * 0.001, i % 7));
    QList<QPointF> out;
    PlotData::reduce(points, 5, 5 + PlotData::MaxUnreduced, 0, 10, &out);
    QCOMPARE(out, points.mid(5, PlotData::MaxUnreduced));
}

void TestPlotData::morePointsKeepTheExtremesOfEachBucket()
{
    // 3001 points over one second: two per bucket of 1/1500 s.
    QList<QPointF> points;
    for (int i = 0; i <= PlotData::MaxUnreduced; ++i)
        points.append(QPointF(i / 3000.0, i == 1500 ? 1000.0 : (i % 3) - 1.0));
    QList<QPointF> out;
    PlotData::reduce(points, 0, int(points.size()), 0, 1, &out);
    QVERIFY(out.size() <= 2 * (PlotData::Buckets + 1));
    QVERIFY(out.size() < points.size());
    double max = -DBL_MAX;
    double min = DBL_MAX;
    PlotData::extend(out, 0, 1, &min, &max);
    QCOMPARE(max, 1000.0);   // a spike survives
    QCOMPARE(min, -1.0);

    // A flat line collapses to one point per bucket.
    QList<QPointF> flat;
    for (int i = 0; i < 6000; ++i)
        flat.append(QPointF(i / 6000.0, 3.0));
    out.clear();
    PlotData::reduce(flat, 0, int(flat.size()), 0, 1, &out);
    QVERIFY(out.size() <= PlotData::Buckets + 1);
    for (const QPointF &point : out)
        QCOMPARE(point.y(), 3.0);
}

void TestPlotData::reducedPointsStayInTimeOrder()
{
    QList<QPointF> points;
    for (int i = 0; i < 10000; ++i)
        points.append(QPointF(i * 0.01, (i * 7919) % 101));
    QList<QPointF> out;
    PlotData::reduce(points, 0, int(points.size()), 0, 100, &out);
    for (int i = 1; i < out.size(); ++i)
        QVERIFY2(out.at(i - 1).x() <= out.at(i).x(), qPrintable(QString::number(i)));
}

void TestPlotData::extendLooksOnlyInsideTheDataRange()
{
    const QList<QPointF> points{{-1, 100}, {0, 5}, {1, 7}, {2, -100}};
    double min = DBL_MAX;
    double max = -DBL_MAX;
    PlotData::extend(points, 0, 1, &min, &max);
    QCOMPARE(min, 5.0);
    QCOMPARE(max, 7.0);
}

QTEST_GUILESS_MAIN(TestPlotData)
#include "tst_plotdata.moc"
