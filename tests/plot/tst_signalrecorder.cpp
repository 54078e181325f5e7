#include "plottestutil.h"
#include "signalrecorder.h"

#include <QTest>

#include <cmath>
#include <limits>

class TestSignalRecorder : public QObject
{
    Q_OBJECT

private slots:
    void referenceTextForms_data();
    void referenceTextForms();
    void sameReferenceIsAddedOnce();
    void timeAxisStartsAtTheFirstRecordedFrame();
    void flaggedFramesAddNoPoints_data();
    void flaggedFramesAddNoPoints();
    void onlyNumericCoveredFiniteValuesAreRecorded();
    void thinningDropsATenthOfTheOldestPoints();
    void tracesFollowSymbolReloads();
    void multiplexedVariantsResolveByMuxName();
    void removingATraceKeepsTheOthersRecording();
    void visibleWindow_data();
    void visibleWindow();
    void visibleRange_data();
    void visibleRange();
    void valueAt_data();
    void valueAt();
    void availableSignalsSkipBytesAndRepeats();
    void signalsAreFoundByDisplayName();
};

void TestSignalRecorder::referenceTextForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("mux");
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("display");
    QTest::newRow("plain") << "Motor||Speed" << "Motor" << "" << "Speed" << "Motor.Speed";
    QTest::newRow("mux") << "Motor|Mux1|Temp" << "Motor" << "Mux1" << "Temp" << "Motor[Mux1].Temp";
    QTest::newRow("one bar") << "Motor|Speed" << "" << "" << "" << "";
    QTest::newRow("four parts") << "a|b|c|d" << "" << "" << "" << "";
}

void TestSignalRecorder::referenceTextForms()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(QString, mux);
    QFETCH(QString, variable);
    QFETCH(QString, display);
    const PlotSignalRef ref = PlotSignalRef::fromString(text);
    QCOMPARE(ref.message, message);
    QCOMPARE(ref.mux, mux);
    QCOMPARE(ref.variable, variable);
    if (ref.isUsable()) {
        QCOMPARE(ref.toString(), text);
        QCOMPARE(ref.displayName(), display);
    }
}

void TestSignalRecorder::sameReferenceIsAddedOnce()
{
    SignalRecorder recorder;
    QVERIFY(recorder.add({"Motor", "", "Drehzahl"}));
    QVERIFY(!recorder.add({"Motor", "", "Drehzahl"}));
    QVERIFY(recorder.add({"Motor", "", "drehzahl"}));   // names are case-sensitive
    QCOMPARE(recorder.traces().size(), 2);
}

void TestSignalRecorder::timeAxisStartsAtTheFirstRecordedFrame()
{
    SignalRecorder recorder;
    recorder.setSymbols(loadSymbols(plotSymText()));
    recorder.add({"Motor", "", "Drehzahl"});
    recorder.add({"Motor", "", "Temp"});

    CanFrame other;   // not plotted: does not start the time axis
    other.id = 0x300;
    other.dlc = 8;
    other.timestampUs = 500000;
    recorder.handleFrames({other, motorFrame(3000000, 1200, 60), motorFrame(3250000, 1500, 30)});

    const SignalRecorder::Trace &speed = recorder.traces().at(0);
    QCOMPARE(speed.points, (QList<QPointF>{{0.0, 1200.0}, {0.25, 1500.0}}));
    QCOMPARE(speed.unit, QStringLiteral("rpm"));
    QVERIFY(speed.resolved);
    const SignalRecorder::Trace &temp = recorder.traces().at(1);
    QCOMPARE(temp.min, -10.0);
    QCOMPARE(temp.max, 20.0);
    QCOMPARE(temp.last, -10.0);
    QCOMPARE(temp.count, 2);
    QCOMPARE(recorder.latest(), 0.25);

    recorder.clearData();
    QCOMPARE(recorder.traces().at(1).count, 0);
    QCOMPARE(recorder.latest(), 0.0);
    recorder.handleFrames({motorFrame(9000000, 100, 41)});
    QCOMPARE(recorder.traces().at(1).points, (QList<QPointF>{{0.0, 1.0}}));
    QCOMPARE(recorder.traces().at(1).min, 1.0);
}

void TestSignalRecorder::flaggedFramesAddNoPoints_data()
{
    QTest::addColumn<int>("flag");
    QTest::newRow("rtr") << 0;
    QTest::newRow("error") << 1;
    QTest::newRow("status") << 2;
}

void TestSignalRecorder::flaggedFramesAddNoPoints()
{
    QFETCH(int, flag);
    SignalRecorder recorder;
    recorder.setSymbols(loadSymbols(plotSymText()));
    recorder.add({"Motor", "", "Drehzahl"});
    CanFrame frame = motorFrame(1000, 42);
    (flag == 0 ? frame.rtr : flag == 1 ? frame.error : frame.status) = true;
    recorder.handleFrames({frame});
    QCOMPARE(recorder.traces().at(0).count, 0);
    // Nor do they start the time axis.
    recorder.handleFrames({motorFrame(2000, 43)});
    QCOMPARE(recorder.traces().at(0).points, (QList<QPointF>{{0.0, 43.0}}));
}

void TestSignalRecorder::onlyNumericCoveredFiniteValuesAreRecorded()
{
    SignalRecorder recorder;
    recorder.setSymbols(loadSymbols(plotSymText()));
    QVERIFY(recorder.add({"Motor", "", "Name"}));
    recorder.add({"Motor", "", "Leistung"});
    recorder.add({"Motor", "", "Drehzahl"});

    CanFrame shortFrame = motorFrame(0, 7);
    shortFrame.dlc = 2;   // power lies beyond the data
    recorder.handleFrames({shortFrame,
                           motorFrame(1000, 1, 0, std::numeric_limits<float>::quiet_NaN()),
                           motorFrame(2000, 2, 0, std::numeric_limits<float>::infinity()),
                           motorFrame(3000, 3, 0, 2.5f)});
    QCOMPARE(recorder.traces().at(0).count, 0);
    const SignalRecorder::Trace &power = recorder.traces().at(1);
    QCOMPARE(power.points, (QList<QPointF>{{0.003, 2.5}}));
    QCOMPARE(power.min, 2.5);
    QCOMPARE(recorder.traces().at(2).count, 4);
}

void TestSignalRecorder::thinningDropsATenthOfTheOldestPoints()
{
    SignalRecorder recorder;
    recorder.setSymbols(loadSymbols(plotSymText()));
    recorder.add({"Motor", "", "Drehzahl"});
    QCOMPARE(recorder.maxPoints(), 200000);
    QList<CanFrame> frames;
    for (int i = 0; i < 200000; ++i)
        frames.append(motorFrame(qint64(i) * 1000, i & 0xFFFF));
    recorder.handleFrames(frames);
    QCOMPARE(recorder.traces().at(0).points.size(), 200000);
    recorder.handleFrames({motorFrame(200000000, 5)});
    const SignalRecorder::Trace &trace = recorder.traces().at(0);
    QCOMPARE(trace.points.size(), 200001 - 20000);
    QCOMPARE(trace.points.first().x(), 20.0);
    QCOMPARE(trace.count, 200001);
    QCOMPARE(trace.max, 65535.0);   // extremes keep the dropped points

    SignalRecorder tiny;   // a tenth of 5 is nothing: no thinning at all
    tiny.setMaxPoints(5);
    tiny.setSymbols(recorder.symbols());
    tiny.add({"Motor", "", "Drehzahl"});
    tiny.handleFrames(frames.mid(0, 8));
    QCOMPARE(tiny.traces().at(0).points.size(), 8);
}

void TestSignalRecorder::tracesFollowSymbolReloads()
{
    SignalRecorder recorder;
    recorder.add({"Motor", "", "Temp"});
    QVERIFY(!recorder.traces().at(0).resolved);
    recorder.handleFrames({motorFrame(0, 1, 50)});   // no symbols: nothing recorded
    QCOMPARE(recorder.traces().at(0).count, 0);

    recorder.setSymbols(loadSymbols(plotSymText()));
    recorder.handleFrames({motorFrame(0, 1, 50)});
    QCOMPARE(recorder.traces().at(0).count, 1);

    QByteArray without = plotSymText();
    without.replace("Var=Temp", "Var=Temperatur");
    recorder.setSymbols(loadSymbols(without));
    QVERIFY(!recorder.traces().at(0).resolved);
    recorder.handleFrames({motorFrame(1000000, 1, 60)});
    QCOMPARE(recorder.traces().at(0).count, 1);
    QCOMPARE(recorder.traces().at(0).points.size(), 1);   // recorded points stay

    recorder.setSymbols(loadSymbols(plotSymText()));
    QVERIFY(recorder.traces().at(0).resolved);
    recorder.handleFrames({motorFrame(2000000, 1, 70)});
    QCOMPARE(recorder.traces().at(0).points.last(), QPointF(2.0, 30.0));
}

void TestSignalRecorder::multiplexedVariantsResolveByMuxName()
{
    SignalRecorder recorder;
    recorder.setSymbols(loadSymbols(plotSymText()));
    recorder.add({"Mux", "M2", "Zweiter"});
    recorder.add({"Mux", "M1", "Wert"});
    recorder.add({"Mux", "", "Wert"});   // no such variant
    QVERIFY(recorder.traces().at(0).resolved);
    QVERIFY(recorder.traces().at(1).resolved);
    QVERIFY(!recorder.traces().at(2).resolved);

    CanFrame m1;
    m1.id = 0x200;
    m1.dlc = 4;
    m1.data[0] = 1;
    m1.data[1] = 0x34;
    m1.data[2] = 0x12;
    CanFrame m2 = m1;
    m2.data[0] = 2;
    m2.timestampUs = 10000;
    recorder.handleFrames({m1, m2});
    QCOMPARE(recorder.traces().at(0).points, (QList<QPointF>{{0.01, 0x12}}));
    QCOMPARE(recorder.traces().at(1).points, (QList<QPointF>{{0.0, 0x1234}}));
}

void TestSignalRecorder::removingATraceKeepsTheOthersRecording()
{
    SignalRecorder recorder;
    recorder.setSymbols(loadSymbols(plotSymText()));
    recorder.add({"Motor", "", "Drehzahl"});
    recorder.add({"Motor", "", "Temp"});
    recorder.setAxis(1, 1);
    recorder.setAxis(7, 1);   // outside: ignored
    recorder.remove(-1);
    recorder.remove(0);
    QCOMPARE(recorder.traces().size(), 1);
    QCOMPARE(recorder.traces().at(0).axis, 1);
    recorder.handleFrames({motorFrame(0, 5, 45)});
    QCOMPARE(recorder.traces().at(0).points, (QList<QPointF>{{0.0, 5.0}}));
    recorder.setAxis(0, 3);
    QCOMPARE(recorder.traces().at(0).axis, 0);
}

void TestSignalRecorder::visibleWindow_data()
{
    QTest::addColumn<double>("latest");
    QTest::addColumn<double>("window");
    QTest::addColumn<bool>("live");
    QTest::addColumn<double>("scrollStart");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("end");
    QTest::addColumn<double>("maxStart");
    QTest::newRow("live, short recording") << 3.0 << 10.0 << true << 0.0 << 0.0 << 10.0 << 0.0;
    QTest::newRow("scrolled beyond the end") << 25.0 << 10.0 << false << 40.0 << 15.0 << 25.0 << 15.0;
    QTest::newRow("scrolled") << 25.0 << 10.0 << false << 4.0 << 4.0 << 14.0 << 15.0;
    QTest::newRow("scrolled before 0") << 25.0 << 10.0 << false << -3.0 << 0.0 << 10.0 << 15.0;
    QTest::newRow("live") << 25.0 << 10.0 << true << 4.0 << 15.0 << 25.0 << 15.0;
    QTest::newRow("all") << 3.2 << 0.0 << true << 0.0 << 0.0 << 3.2 << 0.0;
    QTest::newRow("all, nothing recorded") << 0.0 << 0.0 << true << 0.0 << 0.0 << 1.0 << 0.0;
    QTest::newRow("negative latest") << -5.0 << 10.0 << true << 0.0 << 0.0 << 10.0 << 0.0;
}

void TestSignalRecorder::visibleWindow()
{
    QFETCH(double, latest);
    QFETCH(double, window);
    QFETCH(bool, live);
    QFETCH(double, scrollStart);
    const SignalRecorder::TimeWindow w = SignalRecorder::visibleWindow(latest, window, live, scrollStart);
    QTEST(w.start, "start");
    QTEST(w.end, "end");
    QTEST(w.maxStart, "maxStart");
}

void TestSignalRecorder::visibleRange_data()
{
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    // Points at x = 0, 1, ..., 9.
    QTest::newRow("inner") << 2.5 << 5.5 << 2 << 7;
    QTest::newRow("on points") << 3.0 << 5.0 << 2 << 7;
    QTest::newRow("from the start") << -1.0 << 1.5 << 0 << 3;
    QTest::newRow("up to the end") << 8.5 << 20.0 << 8 << 10;
    QTest::newRow("after all") << 12.0 << 20.0 << 9 << 10;
    QTest::newRow("before all") << -5.0 << -1.0 << 0 << 1;
}

void TestSignalRecorder::visibleRange()
{
    QFETCH(double, from);
    QFETCH(double, to);
    QList<QPointF> points;
    for (int i = 0; i < 10; ++i)
        points.append(QPointF(i, i * i));
    const auto range = SignalRecorder::visibleRange(points, from, to);
    QTEST(range.first, "first");
    QTEST(range.second, "last");
    QCOMPARE(SignalRecorder::visibleRange(QList<QPointF>(), 0, 1), std::make_pair(0, 0));
}

void TestSignalRecorder::valueAt_data()
{
    QTest::addColumn<double>("t");
    QTest::addColumn<bool>("found");
    QTest::addColumn<double>("value");
    // Points (1, 10), (2, 20), (3, 30).
    QTest::newRow("before the first") << 0.5 << false << 0.0;
    QTest::newRow("on the first") << 1.0 << true << 10.0;
    QTest::newRow("between") << 2.7 << true << 20.0;
    QTest::newRow("after the last") << 9.0 << true << 30.0;
}

void TestSignalRecorder::valueAt()
{
    QFETCH(double, t);
    const QList<QPointF> points{{1, 10}, {2, 20}, {3, 30}};
    double value = 0;
    QTEST(SignalRecorder::valueAt(points, t, &value), "found");
    QTEST(value, "value");
    QVERIFY(!SignalRecorder::valueAt(QList<QPointF>(), t, &value));
}

void TestSignalRecorder::availableSignalsSkipBytesAndRepeats()
{
    QByteArray text = plotSymText();
    text += "\n[Motor]\nID=101h\nLen=2\nVar=Drehzahl unsigned 0,16\nVar=Neu unsigned 0,8\n";
    const auto db = loadSymbols(text);
    QStringList names;
    for (const PlotSignalRef &ref : SignalRecorder::availableSignals(*db))
        names << ref.toString();
    QCOMPARE(names, (QStringList{"Motor||Drehzahl", "Motor||Temp", "Motor||Leistung", "Mux|M1|Wert",
                                 "Mux|M2|Wert", "Mux|M2|Zweiter", "Motor||Neu"}));
}

void TestSignalRecorder::signalsAreFoundByDisplayName()
{
    const auto db = loadSymbols(plotSymText());
    QStringList unknown;
    const QList<PlotSignalRef> refs = SignalRecorder::signalsNamed(
        *db, {"Mux[M2].Zweiter", "Motor.Drehzahl", "Motor.Name", "Nix.Da", "Motor.Drehzahl"}, &unknown);
    QCOMPARE(refs, (QList<PlotSignalRef>{{"Mux", "M2", "Zweiter"}, {"Motor", "", "Drehzahl"}}));
    QCOMPARE(unknown, (QStringList{"Motor.Name", "Nix.Da"}));
}

QTEST_GUILESS_MAIN(TestSignalRecorder)
#include "tst_signalrecorder.moc"
