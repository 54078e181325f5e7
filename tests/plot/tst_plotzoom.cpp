#include "plotstyle.h"
#include "plotzoom.h"

#include <QTest>

#include <algorithm>

// The plot's zoom arithmetic, its view history and how a signal is drawn,
// apart from any widget.
class TestPlotZoom : public QObject
{
    Q_OBJECT

private slots:
    void rangesZoomAroundAFixedPoint_data();
    void rangesZoomAroundAFixedPoint();
    void freeWindowFollowsOrStays_data();
    void freeWindowFollowsOrStays();
    void historyStepsBackAndForgetsTheOldest();
    void styleTextsRoundTrip_data();
    void styleTextsRoundTrip();
    void stepsHoldTheValueUntilTheNextSample_data();
    void stepsHoldTheValueUntilTheNextSample();
    void dotsOnlyWhereSamplesStandApart_data();
    void dotsOnlyWhereSamplesStandApart();
};

void TestPlotZoom::rangesZoomAroundAFixedPoint_data()
{
    QTest::addColumn<double>("at");
    QTest::addColumn<double>("factor");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    // Range 10…20 throughout.
    QTest::newRow("halved around the middle") << 0.5 << 0.5 << 12.5 << 17.5;
    QTest::newRow("halved at the left edge") << 0.0 << 0.5 << 10.0 << 15.0;
    QTest::newRow("doubled at the right edge") << 1.0 << 2.0 << 0.0 << 20.0;
    QTest::newRow("at a quarter") << 0.25 << 0.2 << 12.0 << 14.0;
}

void TestPlotZoom::rangesZoomAroundAFixedPoint()
{
    QFETCH(double, at);
    QFETCH(double, factor);
    const PlotZoom::Range zoomed = PlotZoom::around({10, 20}, at, factor);
    QTEST(zoomed.min, "min");
    QTEST(zoomed.max, "max");
    // The point under the mouse stays where it was.
    QCOMPARE(zoomed.min + at * zoomed.span(), 10 + at * 10);

    const PlotZoom::Range part = PlotZoom::part({10, 20}, 0.8, 0.3);   // any order
    QCOMPARE(part.min, 13.0);
    QCOMPARE(part.max, 18.0);
    QVERIFY(PlotZoom::wheelFactor(120) < 1);
    QVERIFY(qFuzzyCompare(PlotZoom::wheelFactor(120) * PlotZoom::wheelFactor(-120), 1.0));
    QVERIFY(qFuzzyCompare(PlotZoom::wheelFactor(240), PlotZoom::wheelFactor(120) * PlotZoom::wheelFactor(120)));
}

void TestPlotZoom::freeWindowFollowsOrStays_data()
{
    QTest::addColumn<double>("latest");
    QTest::addColumn<double>("width");
    QTest::addColumn<bool>("live");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("shownStart");
    QTest::addColumn<double>("maxStart");
    QTest::newRow("live follows the newest") << 30.0 << 2.0 << true << 5.0 << 28.0 << 28.0;
    QTest::newRow("live with little data") << 1.0 << 2.0 << true << 5.0 << 0.0 << 0.0;
    QTest::newRow("held where zoomed") << 30.0 << 2.0 << false << 5.0 << 5.0 << 28.0;
    QTest::newRow("never before 0") << 30.0 << 2.0 << false << -3.0 << 0.0 << 28.0;
    // A box drawn into the empty part of a preset window stays there.
    QTest::newRow("beyond the newest") << 3.0 << 2.0 << false << 6.0 << 6.0 << 6.0;
}

void TestPlotZoom::freeWindowFollowsOrStays()
{
    QFETCH(double, latest);
    QFETCH(double, width);
    QFETCH(bool, live);
    QFETCH(double, start);
    const SignalRecorder::TimeWindow w = PlotZoom::freeWindow(latest, width, live, start);
    QTEST(w.start, "shownStart");
    QCOMPARE(w.end, w.start + width);
    QTEST(w.maxStart, "maxStart");
    QCOMPARE(PlotZoom::freeWindow(latest, 0, false, 1).end - 1, PlotZoom::MinTimeSpan);
}

void TestPlotZoom::historyStepsBackAndForgetsTheOldest()
{
    PlotZoom::History history;
    QVERIFY(history.isEmpty());
    PlotZoom::View first;
    first.windowIndex = 3;
    PlotZoom::View second = first;
    second.free = true;
    second.freeWidth = 0.5;
    history.push(first);
    history.push(first);   // the same view twice is one step
    history.push(second);
    QCOMPARE(history.size(), 2);
    QCOMPARE(history.pop(), second);
    QCOMPARE(history.pop(), first);
    QVERIFY(history.isEmpty());

    for (int i = 0; i < PlotZoom::History::Depth + 5; ++i) {
        PlotZoom::View view;
        view.start = i;
        history.push(view);
    }
    QCOMPARE(history.size(), PlotZoom::History::Depth);
    PlotZoom::View oldest;
    while (!history.isEmpty())
        oldest = history.pop();
    QCOMPARE(oldest.start, 5.0);
}

void TestPlotZoom::styleTextsRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("color");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("written");
    QTest::newRow("defaults") << ";auto;1" << QColor() << int(PlotStyle::Auto) << true << ";auto;1";
    QTest::newRow("all set") << "#00ff00;step;0" << QColor(Qt::green) << int(PlotStyle::Step) << false
                             << "#00ff00;step;0";
    QTest::newRow("points") << "#123456;points;1" << QColor("#123456") << int(PlotStyle::Points) << true
                            << "#123456;points;1";
    QTest::newRow("garbage keeps defaults") << "rot;zickzack" << QColor() << int(PlotStyle::Auto) << true
                                            << ";auto;1";
    QTest::newRow("empty") << "" << QColor() << int(PlotStyle::Auto) << true << ";auto;1";
}

void TestPlotZoom::styleTextsRoundTrip()
{
    QFETCH(QString, text);
    const PlotStyle style = PlotStyle::fromText(text);
    QTEST(style.color, "color");
    QTEST(int(style.mode), "mode");
    QTEST(style.shown, "shown");
    QTEST(style.toText(), "written");
    QCOMPARE(PlotStyle::fromText(style.toText()), style);
}

void TestPlotZoom::stepsHoldTheValueUntilTheNextSample_data()
{
    QTest::addColumn<QList<QPointF>>("points");
    QTest::addColumn<double>("offset");
    QTest::addColumn<bool>("steps");
    QTest::addColumn<QList<QPointF>>("drawn");
    const QList<QPointF> three{{0, 1}, {1, 3}, {2, 2}};
    QTest::newRow("line unchanged") << three << 0.0 << false << three;
    QTest::newRow("steps") << three << 0.0 << true << QList<QPointF>{{0, 1}, {1, 1}, {1, 3}, {2, 3}, {2, 2}};
    QTest::newRow("time base shifts") << three << 100.0 << false
                                      << QList<QPointF>{{100, 1}, {101, 3}, {102, 2}};
    QTest::newRow("one sample") << QList<QPointF>{{4, 7}} << 0.0 << true << QList<QPointF>{{4, 7}};
    QTest::newRow("empty") << QList<QPointF>{} << 0.0 << true << QList<QPointF>{};
    // A clock that jumps back draws no run backwards.
    QTest::newRow("time going back") << QList<QPointF>{{5, 1}, {2, 4}} << 0.0 << true
                                     << QList<QPointF>{{5, 1}, {2, 4}};
}

void TestPlotZoom::stepsHoldTheValueUntilTheNextSample()
{
    QFETCH(QList<QPointF>, points);
    QFETCH(double, offset);
    QFETCH(bool, steps);
    QList<QPointF> drawn{{9, 9}};   // replaced, not appended to
    PlotDraw::toDisplay(points, offset, steps, &drawn);
    QTEST(drawn, "drawn");
}

void TestPlotZoom::dotsOnlyWhereSamplesStandApart_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("spanSeconds");     // of the samples
    QTest::addColumn<double>("windowSeconds");
    QTest::addColumn<double>("widthPixels");
    QTest::addColumn<bool>("dots");
    QTest::newRow("three over the window") << 3 << 10.0 << 10.0 << 1000.0 << true;
    QTest::newRow("one sample") << 1 << 0.0 << 10.0 << 1000.0 << true;
    QTest::newRow("199, 5 px apart") << 199 << 10.0 << 10.0 << 1000.0 << false;
    QTest::newRow("100, 10 px apart") << 100 << 10.0 << 10.0 << 1000.0 << true;
    // 30 samples in the first third of a 525 px wide area: 6 px apart, a thick line of dots.
    QTest::newRow("30 crowded at the start") << 30 << 3.3 << 10.0 << 525.0 << false;
    QTest::newRow("200 or more never") << 200 << 10.0 << 1.0 << 100000.0 << false;
    QTest::newRow("width not known") << 150 << 10.0 << 10.0 << 0.0 << true;
    QTest::newRow("no window") << 150 << 10.0 << 0.0 << 1000.0 << true;
}

void TestPlotZoom::dotsOnlyWhereSamplesStandApart()
{
    QFETCH(int, count);
    QFETCH(double, spanSeconds);
    QFETCH(double, windowSeconds);
    QFETCH(double, widthPixels);
    QList<QPointF> points;
    for (int i = 0; i < count; ++i)
        points.append(QPointF(count > 1 ? 100.0 + spanSeconds * i / (count - 1) : 100.0, i % 7));
    QTEST(PlotDraw::dotsOnLine(points, windowSeconds, widthPixels), "dots");
    // The order of the samples does not matter (time going back).
    std::reverse(points.begin(), points.end());
    QTEST(PlotDraw::dotsOnLine(points, windowSeconds, widthPixels), "dots");
}

QTEST_APPLESS_MAIN(TestPlotZoom)
#include "tst_plotzoom.moc"
