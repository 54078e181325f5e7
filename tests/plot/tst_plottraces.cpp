#include "plottraces.h"

#include <QTest>

#include <cmath>
#include <limits>
#include <random>

// The curves item, drawn without a window: which pixels a curve colours for
// dense and sparse point lists, gaps, values far off the axes, the second
// axis, hidden curves and sample dots.
class TestPlotTraces : public QObject
{
    Q_OBJECT

private slots:
    void curvesColourThePixelsTheyPass_data();
    void curvesColourThePixelsTheyPass();
    void denseCurveFillsEachColumnBetweenItsExtremes();
    void randomCurvesStayInsideThePicture();
};

namespace {

constexpr int Width = 200;
constexpr int Height = 100;
const QColor Blue(0x1f, 0x77, 0xb4);
const double NaN = std::numeric_limits<double>::quiet_NaN();

// n points evenly over x 0…1 with y from `value`.
template<typename Value>
QList<QPointF> curve(int n, Value value)
{
    QList<QPointF> points;
    for (int i = 0; i < n; ++i) {
        const double x = n > 1 ? double(i) / (n - 1) : 0.0;
        points.append(QPointF(x, value(x, i)));
    }
    return points;
}

bool painted(const QImage &image, int x, int y)
{
    return qAlpha(image.pixel(x, y)) != 0;
}

int paintedIn(const QImage &image, int x)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        count += painted(image, x, y);
    return count;
}

} // namespace

using Pixels = QList<QPoint>;

void TestPlotTraces::curvesColourThePixelsTheyPass_data()
{
    QTest::addColumn<QList<QPointF>>("points");
    QTest::addColumn<QList<QPointF>>("dots");
    QTest::addColumn<bool>("right");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<Pixels>("coloured");
    QTest::addColumn<Pixels>("clear");

    // Axes: x 0…1, left y 0…1, right y 0…10; the item is 200 × 100 pixels.
    const auto flat = [](double, int) { return 0.5; };
    QTest::newRow("dense flat line")
        << curve(5000, flat) << QList<QPointF>() << false << true
        << Pixels{{0, 50}, {100, 50}, {199, 50}} << Pixels{{100, 20}, {100, 80}};
    QTest::newRow("sparse flat line")
        << curve(3, flat) << QList<QPointF>() << false << true
        << Pixels{{5, 50}, {100, 50}, {195, 50}} << Pixels{{100, 20}, {100, 80}};
    QTest::newRow("sparse diagonal")
        << curve(2, [](double x, int) { return x; }) << QList<QPointF>() << false << true
        << Pixels{{50, 75}, {100, 50}, {150, 25}} << Pixels{{50, 25}, {150, 75}};
    QTest::newRow("no number breaks a sparse line")
        << QList<QPointF>{{0.0, 0.5}, {0.4, 0.5}, {0.5, NaN}, {0.6, 0.5}, {1.0, 0.5}} << QList<QPointF>() << false
        << true << Pixels{{40, 50}, {160, 50}} << Pixels{{100, 50}};
    QTest::newRow("no number breaks a dense line")
        << curve(5000, [](double x, int) { return x > 0.45 && x < 0.55 ? NaN : 0.5; }) << QList<QPointF>() << false
        << true << Pixels{{40, 50}, {160, 50}} << Pixels{{100, 50}};
    // Far beyond the axis: the visible part of the segment still has its slope.
    QTest::newRow("sparse values far off the axis")
        << QList<QPointF>{{0.0, -1e300}, {0.5, 0.5}, {1.0, 1e300}} << QList<QPointF>() << false << true
        << Pixels{{100, 50}} << Pixels{{20, 50}, {180, 50}};
    QTest::newRow("dense values far off the axis")
        << curve(5000, [](double, int i) { return i % 2 ? 1e300 : -1e300; }) << QList<QPointF>() << false << true
        << Pixels{{0, 0}, {100, 50}, {199, 99}} << Pixels{};
    QTest::newRow("right axis")
        << curve(3, [](double, int) { return 5.0; }) << QList<QPointF>() << true << true
        << Pixels{{100, 50}} << Pixels{{100, 0}, {100, 99}};
    QTest::newRow("hidden")
        << curve(5000, flat) << QList<QPointF>{{0.5, 0.5}} << false << false << Pixels{}
        << Pixels{{100, 50}, {0, 50}};
    QTest::newRow("dots without a line")
        << QList<QPointF>() << QList<QPointF>{{0.25, 0.25}, {0.75, 0.75}, {0.5, NaN}} << false << true
        << Pixels{{50, 75}, {150, 25}} << Pixels{{100, 50}, {100, 25}};
    QTest::newRow("dense time going back")
        << curve(5000, [](double x, int) { return x; }) + QList<QPointF>{{0.1, 0.9}} << QList<QPointF>() << false
        << true << Pixels{{20, 90}, {100, 50}, {110, 5}} << Pixels{{20, 50}};
}

void TestPlotTraces::curvesColourThePixelsTheyPass()
{
    QFETCH(QList<QPointF>, points);
    QFETCH(QList<QPointF>, dots);
    QFETCH(bool, right);
    QFETCH(bool, shown);
    QFETCH(Pixels, coloured);
    QFETCH(Pixels, clear);

    PlotTraces traces;
    traces.setSize(QSizeF(Width, Height));
    traces.setCurveCount(1);
    traces.setXRange(0.0, 1.0);
    traces.setYRange(false, 0.0, 1.0);
    traces.setYRange(true, 0.0, 10.0);
    traces.setColor(0, Blue);
    traces.setRightAxis(0, right);
    traces.setCurveShown(0, shown);
    traces.setPoints(0, points);
    traces.setDots(0, dots);
    QCOMPARE(traces.pointCount(0), int(points.size()));
    QCOMPARE(traces.dotCount(0), int(dots.size()));

    const QImage image = traces.picture();
    QCOMPARE(image.size(), QSize(Width, Height));
    for (const QPoint &pixel : coloured)
        QVERIFY2(painted(image, pixel.x(), pixel.y()), qPrintable(QStringLiteral("(%1, %2) is clear").arg(pixel.x()).arg(pixel.y())));
    for (const QPoint &pixel : clear)
        QVERIFY2(!painted(image, pixel.x(), pixel.y()), qPrintable(QStringLiteral("(%1, %2) is coloured").arg(pixel.x()).arg(pixel.y())));
    // Lines are drawn in the curve's colour itself, not only blended shades of it.
    if (!coloured.isEmpty()) {
        bool exact = false;
        for (int y = 0; y < image.height() && !exact; ++y) {
            for (int x = 0; x < image.width() && !exact; ++x)
                exact = image.pixelColor(x, y) == Blue;
        }
        QVERIFY(exact);
    }
}

void TestPlotTraces::denseCurveFillsEachColumnBetweenItsExtremes()
{
    PlotTraces traces;
    traces.setSize(QSizeF(Width, Height));
    traces.setCurveCount(2);
    traces.setXRange(0.0, 1.0);
    traces.setYRange(false, 0.0, 1.0);
    // A saw tooth from 0.2 to 0.8 every 10 points: each column spans it.
    traces.setPoints(0, curve(20000, [](double, int i) { return 0.2 + 0.6 * (i % 10) / 9.0; }));
    const QImage image = traces.picture();
    for (int x = 0; x < Width; ++x) {
        QVERIFY2(painted(image, x, 50) && painted(image, x, 21) && painted(image, x, 79), qPrintable(QString::number(x)));
        QVERIFY(!painted(image, x, 10) && !painted(image, x, 90));
        // 0.8 … 0.2 is rows 20 … 80, two pixels of line thickness more at most.
        QVERIFY(paintedIn(image, x) >= 60 && paintedIn(image, x) <= 63);
    }

    // Moving the axis draws the same points elsewhere; clearing leaves nothing.
    traces.setYRange(false, 0.0, 2.0);
    const QImage moved = traces.picture();
    QVERIFY(painted(moved, 100, 75) && !painted(moved, 100, 30));
    // Ranges too narrow to divide by draw nothing rather than garbage.
    traces.setXRange(0.0, 4.9e-324);
    for (int x = 0; x < Width; ++x)
        QCOMPARE(paintedIn(traces.picture(), x), 0);
    traces.setXRange(0.0, 1.0);
    traces.setYRange(false, 0.0, 4.9e-324);
    QCOMPARE(paintedIn(traces.picture(), 100), 0);
    traces.setYRange(false, 0.0, 2.0);

    traces.clearPoints();
    QCOMPARE(traces.pointCount(0), 0);
    const QImage cleared = traces.picture();
    for (int x = 0; x < Width; ++x)
        QCOMPARE(paintedIn(cleared, x), 0);
}

void TestPlotTraces::randomCurvesStayInsideThePicture()
{
    // Pixels are written straight into memory: random curves of every size
    // and magnitude (under the address sanitizer a write outside the picture
    // fails the run); those lying wholly above the axis leave it clear.
    std::mt19937 random(20261208);
    const double magnitudes[] = {1e-320, 1e-3, 1.0, 1e3, 1e15, 1e300, HUGE_VAL};
    const auto value = [&](double scale) {
        switch (random() % 16) {
        case 0:
            return NaN;
        case 1:
            return -scale;
        default:
            return (double(random()) / random.max() * 2.0 - 1.0) * scale;
        }
    };
    for (int round = 0; round < 200; ++round) {
        PlotTraces traces;
        traces.setSize(QSizeF(1 + random() % 300, 1 + random() % 200));
        traces.setCurveCount(2);
        const double xScale = magnitudes[random() % 7];
        const double yScale = magnitudes[random() % 7];
        const double xMin = value(std::isinf(xScale) ? 1.0 : xScale);
        const double yMin = value(std::isinf(yScale) ? 1.0 : yScale);
        traces.setXRange(xMin, xMin + std::fabs(value(1.0)) + 1e-9);
        traces.setYRange(false, yMin, yMin + 1.0);
        const bool above = round % 4 == 0 && std::isfinite(yMin);
        for (int c = 0; c < 2; ++c) {
            QList<QPointF> points;
            const int count = int(random() % 3 ? random() % 50 : random() % 5000);
            for (int i = 0; i < count; ++i) {
                const double y = above ? yMin + 3.0 + std::fabs(value(yScale)) : value(yScale);
                points.append(QPointF(value(xScale), std::isnan(y) ? yMin + 3.0 : y));
            }
            traces.setPoints(c, points);
            traces.setDots(c, points.mid(0, 300));
        }
        const QImage image = traces.picture();
        QCOMPARE(image.size(), traces.size().toSize());
        if (above) {
            for (int x = 0; x < image.width(); ++x)
                QVERIFY2(paintedIn(image, x) == 0, qPrintable(QStringLiteral("round %1, column %2").arg(round).arg(x)));
        }
    }
}

QTEST_MAIN(TestPlotTraces)
#include "tst_plottraces.moc"
