// The plot's data questions: summaries of long recordings, searches by time
// (also when time goes backwards), window statistics, value texts and the
// CSV table.
#include "plotcsv.h"
#include "plotdata.h"
#include "plotpyramid.h"
#include "plotstats.h"
#include "plottestutil.h"
#include "signalrecorder.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

class TestPlotStats : public QObject
{
    Q_OBJECT

private slots:
    void summaryOfAnyRangeEqualsAScan_data();
    void summaryOfAnyRangeEqualsAScan();
    void droppingTheOldestPointsKeepsTheSummaryRight_data();
    void droppingTheOldestPointsKeepsTheSummaryRight();
    void searchesByTime_data();
    void searchesByTime();
    void longSortedSearchesAgreeWithBinarySearch();
    void loweringTheLimitDropsTheOldestAtOnce();
    void statisticsOfAWindow_data();
    void statisticsOfAWindow();
    void statisticsAgreeWithAScanOnLongData();
    void valueTextsAsTheSignalPanelShowsThem_data();
    void valueTextsAsTheSignalPanelShowsThem();
    void stepsForStateSignals();
    void stringsAndRawBytesAreRefused();
    void csvOfAWindow();
    void csvWriteFailureIsReported();
};

namespace {

SignalRecorder::Trace traceOf(const QList<QPointF> &points)
{
    SignalRecorder::Trace trace;
    trace.points = points;
    trace.pyramid.rebuild(trace.points);
    return trace;
}

QList<QPointF> noisy(int count, quint32 seed, bool withNaN)
{
    QList<QPointF> points;
    double x = 0;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        x += 0.001 + (seed >> 20) % 7 * 0.001;
        double y = double(int((seed >> 8) % 2001) - 1000) / 8.0;
        if (withNaN && (i / 50) % 9 == 4)
            y = std::nan("");
        points.append({x, y});
    }
    return points;
}

} // namespace

void TestPlotStats::summaryOfAnyRangeEqualsAScan_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("withNaN");
    QTest::newRow("one point") << 1 << false;
    QTest::newRow("one node less one") << 15 << false;
    QTest::newRow("two levels") << 257 << false;
    QTest::newRow("four levels") << 70000 << false;
    QTest::newRow("NaN runs") << 5000 << true;
}

void TestPlotStats::summaryOfAnyRangeEqualsAScan()
{
    QFETCH(int, count);
    QFETCH(bool, withNaN);
    const QList<QPointF> points = noisy(count, 77, withNaN);
    PlotPyramid grown;   // point by point, as the recorder does
    for (int i = 0; i < count; ++i)
        grown.append(i, points.at(i));
    quint32 seed = 3;
    for (int round = 0; round < 300; ++round) {
        seed = seed * 1103515245u + 12345u;
        const qsizetype a = (seed >> 8) % quint32(count + 1);
        seed = seed * 1103515245u + 12345u;
        const qsizetype b = (seed >> 8) % quint32(count + 1);
        const qsizetype first = std::min(a, b);
        const qsizetype last = std::max(a, b);
        // The scan: first lowest and first highest, NaN counted only while alone.
        qsizetype low = -1;
        qsizetype high = -1;
        double sum = 0;
        for (qsizetype i = first; i < last; ++i) {
            const double y = points.at(i).y();
            if (low < 0 || std::isnan(points.at(low).y())) {
                low = high = i;
            } else if (y < points.at(low).y()) {
                low = i;
            } else if (y > points.at(high).y()) {
                high = i;
            }
            if (!std::isnan(y))
                sum += y;
        }
        const PlotPyramid::Summary s = grown.summary(points, first, last);
        QCOMPARE(s.count, last - first);
        if (last == first)
            continue;
        if (!std::isnan(points.at(low).y())) {
            QCOMPARE(s.low, low);
            QCOMPARE(s.high, high);
        }
        QVERIFY2(std::fabs(s.sum - sum) < 1e-6, qPrintable(QStringLiteral("%1 … %2").arg(first).arg(last)));
        QCOMPARE(s.minX, points.at(first).x());
    }
}

void TestPlotStats::droppingTheOldestPointsKeepsTheSummaryRight_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("drop");
    QTest::addColumn<bool>("laterPointRemoved");
    QTest::newRow("whole runs") << 70000 << 4096 << false;
    QTest::newRow("whole runs, down to one run") << 300 << 288 << false;
    QTest::newRow("part of a run") << 5000 << 100 << false;
    QTest::newRow("a removed point lay later") << 5000 << 160 << true;
}

void TestPlotStats::droppingTheOldestPointsKeepsTheSummaryRight()
{
    QFETCH(int, count);
    QFETCH(int, drop);
    QFETCH(bool, laterPointRemoved);
    QList<QPointF> points = noisy(count, 11, false);
    if (laterPointRemoved)
        points[drop - 3].rx() = 1e9;   // a clock jump among the removed points
    PlotPyramid pyramid;
    pyramid.rebuild(points);
    points.remove(0, drop);
    pyramid.dropFront(points, drop);
    PlotPyramid fresh;
    fresh.rebuild(points);
    QCOMPARE(pyramid.size(), points.size());
    for (qsizetype last : {qsizetype(1), qsizetype(12), points.size() / 2, points.size()}) {
        const PlotPyramid::Summary moved = pyramid.summary(points, 0, last);
        const PlotPyramid::Summary made = fresh.summary(points, 0, last);
        QCOMPARE(moved.low, made.low);
        QCOMPARE(moved.high, made.high);
        QCOMPARE(moved.sum, made.sum);
    }
    const double middle = points.at(points.size() / 2).x();
    QCOMPARE(pyramid.lowerBound(points, middle), fresh.lowerBound(points, middle));
    QCOMPARE(pyramid.lowerBound(points, middle), points.size() / 2);
    // Growing on after the move gives the same as a summary built at once.
    points.append({points.last().x() + 1, -5000});
    pyramid.append(points.size() - 1, points.last());
    fresh.rebuild(points);
    QCOMPARE(pyramid.summary(points, 0, points.size()).low, points.size() - 1);
    QCOMPARE(pyramid.summary(points, 0, points.size()).sum, fresh.summary(points, 0, points.size()).sum);
}

void TestPlotStats::searchesByTime_data()
{
    QTest::addColumn<QList<QPointF>>("points");
    QTest::addColumn<double>("t");
    QTest::addColumn<int>("atOrBefore");
    QTest::addColumn<int>("nearest");
    QTest::addColumn<int>("next");
    QTest::addColumn<int>("previous");
    const QList<QPointF> sorted{{0, 0}, {1, 1}, {2, 2}, {3, 3}};
    QTest::newRow("before the first") << sorted << -1.0 << -1 << 0 << 0 << -1;
    QTest::newRow("on a sample") << sorted << 2.0 << 2 << 2 << 3 << 1;
    QTest::newRow("between, nearer the later") << sorted << 1.7 << 1 << 2 << 2 << 1;
    QTest::newRow("between, midway takes the earlier") << sorted << 1.5 << 1 << 1 << 2 << 1;
    QTest::newRow("after the last") << sorted << 9.0 << 3 << 3 << -1 << 3;
    QTest::newRow("empty") << QList<QPointF>() << 1.0 << -1 << -1 << -1 << -1;
    // Mixed clocks: 5 s, then back to 3 s. The points after the step back
    // count as following 5 s; nothing is lost and nothing hangs.
    const QList<QPointF> back{{0, 0}, {1, 1}, {5, 5}, {3, 3}, {4, 4}, {6, 6}};
    QTest::newRow("time back, before the step") << back << 2.0 << 1 << 1 << 2 << 1;
    QTest::newRow("time back, inside the step") << back << 3.5 << 1 << 2 << 2 << 1;
    QTest::newRow("time back, at the top") << back << 5.0 << 4 << 2 << 5 << 1;
    QTest::newRow("time back, after") << back << 5.5 << 4 << 5 << 5 << 4;
}

void TestPlotStats::searchesByTime()
{
    QFETCH(QList<QPointF>, points);
    QFETCH(double, t);
    const SignalRecorder::Trace trace = traceOf(points);
    QTEST(SignalRecorder::indexAtOrBefore(trace, t), "atOrBefore");
    QTEST(SignalRecorder::nearestIndex(trace, t), "nearest");
    QTEST(SignalRecorder::nextIndex(trace, t), "next");
    QTEST(SignalRecorder::previousIndex(trace, t), "previous");
    QFETCH(int, atOrBefore);
    double value = -99;
    QCOMPARE(SignalRecorder::valueAt(trace, t, &value), atOrBefore >= 0);
    if (atOrBefore >= 0)
        QCOMPARE(value, points.at(atOrBefore).y());
}

void TestPlotStats::longSortedSearchesAgreeWithBinarySearch()
{
    // Long enough for several summary levels; equal times included.
    QList<QPointF> points;
    for (int i = 0; i < 50000; ++i)
        points.append({double(i / 3) * 0.01, double(i)});
    const SignalRecorder::Trace trace = traceOf(points);
    const auto byX = [](const QPointF &p, double x) { return p.x() < x; };
    const auto xBelow = [](double x, const QPointF &p) { return x < p.x(); };
    for (double t : {-1.0, 0.0, 0.005, 1.0, 33.33, 55.555, 166.65, 166.66, 500.0}) {
        const int lower = int(std::lower_bound(points.cbegin(), points.cend(), t, byX) - points.cbegin());
        const int upper = int(std::upper_bound(points.cbegin(), points.cend(), t, xBelow) - points.cbegin());
        QCOMPARE(SignalRecorder::indexAtOrBefore(trace, t), upper - 1);
        QCOMPARE(SignalRecorder::previousIndex(trace, t), lower - 1);
        QCOMPARE(SignalRecorder::nextIndex(trace, t), upper < points.size() ? upper : -1);
        QCOMPARE(SignalRecorder::visibleRange(trace, t, t + 7.0), SignalRecorder::visibleRange(points, t, t + 7.0));
    }
}

void TestPlotStats::loweringTheLimitDropsTheOldestAtOnce()
{
    auto db = loadSymbols(plotSymText());
    SignalRecorder recorder;
    recorder.setMaxPoints(SignalRecorder::MaxMaxPoints);
    recorder.setSymbols(db);
    recorder.add({"Motor", "", "Drehzahl"});
    QList<CanFrame> frames;
    for (int i = 0; i < 5000; ++i)
        frames.append(motorFrame(qint64(i) * 1000, i));
    recorder.handleFrames(frames);
    recorder.setMaxPoints(1234);
    const SignalRecorder::Trace &trace = recorder.traces().at(0);
    QCOMPARE(trace.points.size(), 1234);
    QCOMPARE(trace.points.first(), QPointF(3.766, 3766));
    QCOMPARE(trace.count, 5000);   // values seen, not kept
    const PlotStats::Stats stats = PlotStats::compute(trace, 0, 10);
    QCOMPARE(stats.count, 1234);
    QCOMPARE(stats.min, 3766.0);
    QCOMPARE(stats.mean, (3766.0 + 4999.0) / 2);
}

void TestPlotStats::statisticsOfAWindow_data()
{
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<double>("mean");
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("last");
    // Points (0, 1), (1, 5), (2, -3), (3, 4), (4, 4).
    QTest::newRow("everything") << -1.0 << 10.0 << qint64(5) << -3.0 << 5.0 << 2.2 << 1.0 << 4.0;
    QTest::newRow("inside") << 0.5 << 2.5 << qint64(2) << -3.0 << 5.0 << 1.0 << 5.0 << -3.0;
    QTest::newRow("edges belong to the window") << 1.0 << 3.0 << qint64(3) << -3.0 << 5.0 << 2.0 << 5.0 << 4.0;
    QTest::newRow("one sample") << 3.0 << 3.0 << qint64(1) << 4.0 << 4.0 << 4.0 << 4.0 << 4.0;
    QTest::newRow("between samples") << 1.2 << 1.8 << qint64(0) << 0.0 << 0.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("reversed window") << 3.0 << 1.0 << qint64(0) << 0.0 << 0.0 << 0.0 << 0.0 << 0.0;
}

void TestPlotStats::statisticsOfAWindow()
{
    QFETCH(double, from);
    QFETCH(double, to);
    const SignalRecorder::Trace trace = traceOf({{0, 1}, {1, 5}, {2, -3}, {3, 4}, {4, 4}});
    const PlotStats::Stats stats = PlotStats::compute(trace, from, to);
    QTEST(stats.count, "count");
    if (stats.count == 0)
        return;
    QTEST(stats.min, "min");
    QTEST(stats.max, "max");
    QTEST(stats.mean, "mean");
    QTEST(stats.first, "first");
    QTEST(stats.last, "last");
}

void TestPlotStats::statisticsAgreeWithAScanOnLongData()
{
    // Through the recorder, so that the summary is the one grown per frame.
    auto db = loadSymbols(plotSymText());
    SignalRecorder recorder;
    recorder.setSymbols(db);
    recorder.add({"Motor", "", "Drehzahl"});
    QList<CanFrame> frames;
    for (int i = 0; i < 100000; ++i)
        frames.append(motorFrame(qint64(i) * 1000, (i * 7919) % 60000));
    recorder.handleFrames(frames);
    const SignalRecorder::Trace &trace = recorder.traces().at(0);
    for (const auto &[from, to] : {std::pair{0.0, 99.999}, std::pair{12.3456, 12.9}, std::pair{50.0, 50.0001},
                                   std::pair{3.0, 97.5}}) {
        qint64 count = 0;
        double min = HUGE_VAL, max = -HUGE_VAL, sum = 0, first = 0, last = 0;
        for (const QPointF &p : trace.points) {
            if (p.x() < from || p.x() > to)
                continue;
            if (count++ == 0)
                first = p.y();
            last = p.y();
            min = std::min(min, p.y());
            max = std::max(max, p.y());
            sum += p.y();
        }
        const PlotStats::Stats stats = PlotStats::compute(trace, from, to);
        QCOMPARE(stats.count, count);
        QCOMPARE(stats.min, min);
        QCOMPARE(stats.max, max);
        QCOMPARE(stats.first, first);
        QCOMPARE(stats.last, last);
        QVERIFY(std::fabs(stats.mean - sum / double(count)) < 1e-9 * std::fabs(stats.mean));
    }
}

void TestPlotStats::valueTextsAsTheSignalPanelShowsThem_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("number");
    QTest::newRow("enumeration") << "Gang" << 2.0 << "Zwei" << "2";
    QTest::newRow("enumeration without text") << "Gang" << 7.0 << "7" << "7";
    QTest::newRow("mean of an integer signal") << "Gang" << 1.25 << "Eins" << "1.25";
    QTest::newRow("decimals of the file") << "Druck" << 1.5 << "1.50" << "1.50";
    QTest::newRow("scaled, decimals of the factor") << "Temp" << 21.3 << "21.3" << "21.3";
    QTest::newRow("mean of a scaled signal") << "Temp" << 21.33333 << "21.3" << "21.333";
    QTest::newRow("hexadecimal display") << "Code" << 171.0 << "0ABh" << "171";
    QTest::newRow("large values in full") << "Zaehler" << 1234567.0 << "1234567" << "1234567";
    QTest::newRow("large float in full") << "Leistung" << 123456789.0 << "123456789" << "123456789";
    QTest::newRow("no variable") << "" << 1234567.0 << "1234567" << "1234567";
}

void TestPlotStats::valueTextsAsTheSignalPanelShowsThem()
{
    QFETCH(QString, variable);
    QFETCH(double, value);
    auto db = loadSymbols("FormatVersion=6.0\n{ENUMS}\nEnum=Gears(1=\"Eins\", 2=\"Zwei\")\n{RECEIVE}\n[S]\nID=1\nLen=8\n"
                          "Var=Gang unsigned 0,4 /e:Gears\nVar=Druck unsigned 4,8 /f:0.5 /p:2\n"
                          "Var=Temp unsigned 12,8 /f:0.1 /o:-40\nVar=Code unsigned 20,12 -h\n"
                          "Var=Zaehler unsigned 32,32\n[F]\nID=2\nLen=8\nVar=Leistung float 0,32\n");
    const SymVariable *found = nullptr;
    for (const SymMessage &message : db->messages) {
        for (const SymVariable &v : message.variables) {
            if (v.name == variable)
                found = &v;
        }
    }
    QCOMPARE(found != nullptr, !variable.isEmpty());
    QTEST(PlotData::valueText(db.get(), found, value), "text");
    QTEST(PlotData::numberText(db.get(), found, value), "number");
}

void TestPlotStats::stepsForStateSignals()
{
    auto db = loadSymbols("FormatVersion=6.0\n{ENUMS}\nEnum=E(0=\"Aus\", 1=\"An\")\n{RECEIVE}\n[S]\nID=1\nLen=8\n"
                          "Var=Zustand unsigned 0,8 /e:E\nVar=Bit bit 8,1\nVar=Drei unsigned 9,3\n"
                          "Var=Vier unsigned 12,4\nVar=Wert unsigned 16,16\nVar=Kommazahl float 32,32\n");
    QStringList steps;
    for (const SymVariable &v : db->messages.first().variables) {
        if (PlotData::prefersSteps(*db, v))
            steps << v.name;
    }
    QCOMPARE(steps, (QStringList{"Zustand", "Bit", "Drei"}));
}

void TestPlotStats::stringsAndRawBytesAreRefused()
{
    auto db = loadSymbols(plotSymText() + "\n[Roh]\nID=300h\nLen=8\nVar=Bytes raw 0,32\n");
    QString error;
    QVERIFY(SignalRecorder::checkPlottable(*db, {"Motor", "", "Drehzahl"}, &error));
    QVERIFY(error.isEmpty());
    QVERIFY(!SignalRecorder::checkPlottable(*db, {"Motor", "", "Name"}, &error));
    QCOMPARE(error, QStringLiteral("Motor.Name ist eine Zeichenkette und kann nicht geplottet werden."));
    QVERIFY(!SignalRecorder::checkPlottable(*db, {"Roh", "", "Bytes"}, &error));
    QCOMPARE(error, QStringLiteral("Roh.Bytes enthält Rohdaten und kann nicht geplottet werden."));
    QVERIFY(!SignalRecorder::checkPlottable(*db, {"Motor", "", "Fehlt"}, &error));
    QVERIFY(error.contains(QStringLiteral("nicht in der Symboldatei")));
}

void TestPlotStats::csvOfAWindow()
{
    auto db = loadSymbols(plotSymText());
    SignalRecorder recorder;
    recorder.setSymbols(db);
    recorder.add({"Motor", "", "Drehzahl"});
    recorder.add({"Motor", "", "Temp"});
    recorder.handleFrames({motorFrame(1000000, 100, 50), motorFrame(1500000, 1234567, 60),
                           motorFrame(3000000, 300, 70)});
    const auto csv = [&](const PlotCsv::Options &options) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QString error;
        if (!PlotCsv::write(recorder, &buffer, options, &error))
            return error.toUtf8();
        return buffer.data();
    };
    QCOMPARE(csv({}), QByteArray("time_s;signal;value\n"
                                 "0.000000;Motor.Drehzahl;100\n0.500000;Motor.Drehzahl;54919\n"
                                 "2.000000;Motor.Drehzahl;300\n"
                                 "0.000000;Motor.Temp;10\n0.500000;Motor.Temp;20\n2.000000;Motor.Temp;30\n"));
    PlotCsv::Options window;
    window.from = 0.5;
    window.to = 1.9;
    window.traces = {1};
    window.timeOffset = 10.25;
    QCOMPARE(csv(window), QByteArray("time_s;signal;value\n10.750000;Motor.Temp;20\n"));
}

void TestPlotStats::csvWriteFailureIsReported()
{
    SignalRecorder recorder;
    QTemporaryDir dir;
    QString error;
    QVERIFY(!PlotCsv::writeFile(recorder, dir.filePath("fehlt/werte.csv"), {}, &error));
    QVERIFY(error.startsWith(QStringLiteral("Datei kann nicht geschrieben werden: ")));
    QVERIFY(PlotCsv::writeFile(recorder, dir.filePath("werte.csv"), {}, &error));
}

QTEST_GUILESS_MAIN(TestPlotStats)
#include "tst_plotstats.moc"
