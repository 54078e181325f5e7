#include "plotdata.h"
#include "symbolfile.h"

#include <QTest>

#include <cfloat>
#include <cmath>
#include <limits>

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
    void blockSummariesGiveTheSameReduction_data();
    void blockSummariesGiveTheSameReduction();
    void recorderKeepsItsSummariesThroughThinning();
    void collectOnThreadsGivesEveryTraceItsOwnReduction();
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
    QTest::newRow("large values in full") << 1234567.0 << "1234567";
    QTest::newRow("large with decimals") << -2500000.25 << "-2500000.25";
    QTest::newRow("beyond in full") << 1e15 << "1e+15";
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

namespace {

// The reduction as plainly stated: every point's bucket is computed on its
// own, and the first lowest and first highest point of a run of points in
// the same bucket are kept.
QList<QPointF> referenceReduction(const QList<QPointF> &points, int first, int last, double from, double to)
{
    const double scale = PlotData::Buckets / std::max(to - from, 1e-9);
    QList<QPointF> out;
    int bucket = -1;
    QPointF low;
    QPointF high;
    const auto flush = [&] {
        if (bucket < 0)
            return;
        if (low == high)
            out << low;
        else
            out << (low.x() <= high.x() ? QList<QPointF>{low, high} : QList<QPointF>{high, low});
    };
    for (int i = first; i < last; ++i) {
        const QPointF &point = points.at(i);
        const double position = (point.x() - from) * scale;
        const int b = std::clamp(position > 0 ? int(std::min(position, double(PlotData::Buckets))) : 0, 0,
                                 PlotData::Buckets);
        if (b != bucket) {
            flush();
            bucket = b;
            low = high = point;
        } else if (point.y() < low.y()) {
            low = point;
        } else if (point.y() > high.y()) {
            high = point;
        }
    }
    flush();
    return out;
}

} // namespace

void TestPlotData::blockSummariesGiveTheSameReduction_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("first");
    QTest::addColumn<double>("windowStart");
    QTest::addColumn<double>("windowEnd");
    QTest::addColumn<int>("levels");    // few levels: many equal values
    QTest::addColumn<int>("special");   // every n-th value NaN or infinite (0: none)
    QTest::addColumn<bool>("sorted");
    QTest::newRow("whole, smooth") << 50000 << 0 << 0.0 << 500.0 << 1000000 << 0 << true;
    QTest::newRow("whole, ties") << 50000 << 0 << 0.0 << 500.0 << 3 << 0 << true;
    QTest::newRow("constant") << 30000 << 0 << 0.0 << 300.0 << 1 << 0 << true;
    QTest::newRow("unaligned start") << 40000 << 7 << 3.0 << 397.0 << 50 << 0 << true;
    QTest::newRow("unaligned start and end") << 40003 << 13 << 3.0 << 397.0 << 50 << 0 << true;
    QTest::newRow("few per bucket") << 4000 << 0 << 0.0 << 40.0 << 1000 << 0 << true;
    QTest::newRow("window beyond the data") << 20000 << 0 << -50.0 << 900.0 << 17 << 0 << true;
    QTest::newRow("window inside the data") << 60000 << 0 << 100.0 << 200.0 << 1000 << 0 << true;
    QTest::newRow("NaN values") << 30000 << 0 << 0.0 << 300.0 << 100 << 5 << true;
    QTest::newRow("NaN runs") << 30000 << 0 << 0.0 << 300.0 << 100 << 1 << true;
    QTest::newRow("infinite values") << 30000 << 0 << 0.0 << 300.0 << 100 << 7 << true;
    QTest::newRow("time going back") << 30000 << 0 << 0.0 << 300.0 << 100 << 0 << false;
}

void TestPlotData::blockSummariesGiveTheSameReduction()
{
    QFETCH(int, count);
    QFETCH(int, first);
    QFETCH(double, windowStart);
    QFETCH(double, windowEnd);
    QFETCH(int, levels);
    QFETCH(int, special);
    QFETCH(bool, sorted);
    QList<QPointF> points;
    quint32 seed = 12345;
    double x = 0;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        x += 0.005 + (seed >> 16) % 100 * 0.0001;   // uneven steps
        if (!sorted && i % 97 == 0)
            x -= 0.3;
        double y = double((seed >> 8) % quint32(levels));
        if (special == 1 && (i / 40) % 3 == 1)
            y = std::nan("");   // whole runs of NaN, some of them starting a bucket
        else if (special == 5 && i % 5 == 0)
            y = std::nan("");
        else if (special == 7 && i % 7 == 0)
            y = i % 2 ? HUGE_VAL : -HUGE_VAL;
        points.append(QPointF(x, y));
    }
    PlotPyramid pyramid;
    pyramid.rebuild(points);
    QList<QPointF> plain;
    QList<QPointF> summarized;
    PlotData::reduce(points, first, count, windowStart, windowEnd, &plain);
    PlotData::reduce(points, first, count, windowStart, windowEnd, &summarized, &pyramid);
    QVERIFY(plain.size() < count - first);
    QCOMPARE(summarized.size(), plain.size());
    // Bit for bit: QPointF's own comparison is fuzzy and NaN never equals itself.
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(summarized.constData()), summarized.size() * sizeof(QPointF)),
             QByteArray(reinterpret_cast<const char *>(plain.constData()), plain.size() * sizeof(QPointF)));
    if (sorted && special == 0)
        QCOMPARE(plain, referenceReduction(points, first, count, windowStart, windowEnd));
}

void TestPlotData::recorderKeepsItsSummariesThroughThinning()
{
    // After appending and thinning the recorder's summaries equal fresh ones.
    const QByteArray text = "FormatVersion=6.0\n{RECEIVE}\n[M]\nID=100h\nLen=2\nVar=V unsigned 0,16\n";
    auto db = std::make_shared<SymbolDatabase>();
    QVERIFY(db->loadData(text, QStringLiteral("m.sym")));
    for (int maxPoints : {1600, 1003}) {   // a tenth of 1003 is no whole number of runs
        SignalRecorder recorder;
        recorder.setMaxPoints(maxPoints);
        recorder.setSymbols(db);
        recorder.add({"M", "", "V"});
        QList<CanFrame> frames;
        for (int i = 0; i < 2500; ++i) {
            CanFrame frame;
            frame.id = 0x100;
            frame.dlc = 2;
            frame.data[0] = quint8(i * 37);
            frame.data[1] = quint8(i % 5);
            frame.timestampUs = i * 1000;
            frames.append(frame);
        }
        recorder.handleFrames(frames);
        const SignalRecorder::Trace &trace = recorder.traces().at(0);
        QVERIFY(trace.points.size() < 2500);
        PlotPyramid fresh;
        fresh.rebuild(trace.points);
        QVERIFY(trace.pyramid.covers(trace.points));
        for (qsizetype first : {0, 5, 16, 300}) {
            for (qsizetype last : {qsizetype(17), qsizetype(256), qsizetype(1000), trace.points.size()}) {
                const PlotPyramid::Summary kept = trace.pyramid.summary(trace.points, first, last);
                const PlotPyramid::Summary made = fresh.summary(trace.points, first, last);
                QCOMPARE(kept.low, made.low);
                QCOMPARE(kept.high, made.high);
                QCOMPARE(kept.sum, made.sum);
            }
        }
        QCOMPARE(trace.pyramid.lowerBound(trace.points, trace.points.at(700).x()), 700);
        recorder.clearData();
        QCOMPARE(recorder.traces().at(0).pyramid.size(), 0);
    }
}

void TestPlotData::collectOnThreadsGivesEveryTraceItsOwnReduction()
{
    // Six signals of different shapes, the last two on the right axis:
    // reduced on threads, each keeps its own points and the axes their extremes.
    QByteArray text = "FormatVersion=6.0\n{RECEIVE}\n";
    for (int s = 0; s < 6; ++s)
        text += "[M" + QByteArray::number(s) + "]\nID=" + QByteArray::number(0x100 + s, 16) + "h\nLen=2\nVar=V signed 0,16\n";
    auto db = std::make_shared<SymbolDatabase>();
    QVERIFY(db->loadData(text, QStringLiteral("m.sym")));
    SignalRecorder recorder;
    recorder.setMaxPoints(100000);
    recorder.setSymbols(db);
    QList<CanFrame> frames;
    for (int s = 0; s < 6; ++s)
        QVERIFY(recorder.add({QStringLiteral("M%1").arg(s), QString(), QStringLiteral("V")}));
    recorder.setAxis(4, 1);
    recorder.setAxis(5, 1);
    for (int i = 0; i < 20000; ++i) {
        for (int s = 0; s < 6; ++s) {
            CanFrame frame;
            frame.id = quint32(0x100 + s);
            frame.dlc = 2;
            const int value = (s + 1) * ((i * (s + 3)) % 1000) - 500 * s;
            frame.data[0] = quint8(value);
            frame.data[1] = quint8(value >> 8);
            frame.timestampUs = qint64(i) * 100 + s;
            frames.append(frame);
        }
    }
    recorder.handleFrames(frames);

    SignalRecorder::TimeWindow w{0.1, 1.7};
    PlotData::WindowData serial;
    PlotData::WindowData threaded;
    PlotData::collect(recorder, w, w.end, true, &serial, std::numeric_limits<qsizetype>::max());
    for (int round = 0; round < 20; ++round) {   // a reused result, as the widget reuses its own
        PlotData::collect(recorder, w, w.end, true, &threaded, 0);
        QCOMPARE(threaded.points.size(), qsizetype(6));
        for (int s = 0; s < 6; ++s)
            QCOMPARE(threaded.points.at(s), serial.points.at(s));
        for (int axis : {0, 1}) {
            QCOMPARE(threaded.min[axis], serial.min[axis]);
            QCOMPARE(threaded.max[axis], serial.max[axis]);
        }
    }
    QVERIFY(serial.points.at(0) != serial.points.at(1));
    QCOMPARE(serial.max[0], 2492.0);   // signal 3: 4 × 998 − 1500, the highest of the left axis
    QVERIFY(serial.min[1] < serial.max[1]);
}

QTEST_GUILESS_MAIN(TestPlotData)
#include "tst_plotdata.moc"
