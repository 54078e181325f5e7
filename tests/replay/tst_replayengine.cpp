// The replay's timing and selection, driven by a clock of the test: no
// thread, no sleep.
#include "replayengine.h"
#include "replayfakes.h"

#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(QList<FakeEntry>)

namespace {

constexpr qint64 StartNs = 5'000'000'000;

// One replay on the test's clock.
struct Rig
{
    explicit Rig(const QList<FakeEntry> &entries, const ReplayOptions &options = ReplayOptions())
        : source(entries)
        , target(&clockNs)
        , engine(&source, &target, options, [this] { return clockNs; })
    {
    }

    // Moves the clock to each due time in turn until the replay ends or
    // `limit` steps were taken.
    void playToEnd(int limit = 1000000)
    {
        for (int i = 0; i < limit; ++i) {
            const qint64 due = engine.step();
            if (due < 0)
                return;
            QVERIFY(due >= clockNs);
            clockNs = due;
        }
    }

    // Send times in ms after the start.
    QList<double> sentMs() const
    {
        QList<double> times;
        for (qint64 t : target.timesNs)
            times.append(double(t - StartNs) / 1e6);
        return times;
    }
    QList<quint32> sentIds() const { return QList<quint32>(target.ids.begin(), target.ids.end()); }

    qint64 clockNs = StartNs;
    FakeSource source;
    FakeTarget target;
    ReplayEngine engine;
};

QList<FakeEntry> evenTrace(int count, double stepMs)
{
    QList<FakeEntry> entries;
    for (int i = 0; i < count; ++i)
        entries.append({quint32(0x100 + i), 1000.0 + i * stepMs});
    return entries;
}

} // namespace

class TestReplayEngine : public QObject
{
    Q_OBJECT

private slots:
    void timingFollowsRecordedDistances_data();
    void timingFollowsRecordedDistances();
    void selection_data();
    void selection();
    void loops_data();
    void loops();
    void endlessLoopRunsUntilStopped();
    void pauseKeepsTheRemainingTiming();
    void maxSendsWhatIsDueBackToBack();
    void lateStepSendsTheBurstAndMeasuresLateness();
    void writeFailuresAreCountedAndPlayGoesOn();
    void failuresInsideABurst_data();
    void failuresInsideABurst();
    void lostConnectionEndsTheReplay();
    void nothingToSendIsRefused();
    void readFailureEndsTheReplay();
    void speedText();
};

void TestReplayEngine::timingFollowsRecordedDistances_data()
{
    QTest::addColumn<QList<FakeEntry>>("entries");
    QTest::addColumn<double>("speed");
    QTest::addColumn<qint64>("maxPauseMs");
    QTest::addColumn<QList<double>>("expectedMs");

    const QList<FakeEntry> mixed = {{1, 2000}, {2, 2010}, {3, 2010}, {4, 2035}, {5, 3000}};
    QTest::newRow("1x, first entry at once, burst kept") << mixed << 1.0 << qint64(0)
                                                        << QList<double>{0, 10, 10, 35, 1000};
    QTest::newRow("2x halves the distances") << mixed << 2.0 << qint64(0) << QList<double>{0, 5, 5, 17.5, 500};
    QTest::newRow("0.1x stretches them") << mixed << 0.1 << qint64(0) << QList<double>{0, 100, 100, 350, 10000};
    QTest::newRow("max sends all at once") << mixed << 0.0 << qint64(0) << QList<double>{0, 0, 0, 0, 0};

    // Backwards time counts as no pause; the distances after it follow the new times.
    const QList<FakeEntry> backwards = {{1, 100}, {2, 200}, {3, 50}, {4, 60}, {5, 260}};
    QTest::newRow("time going backwards") << backwards << 1.0 << qint64(0) << QList<double>{0, 100, 100, 110, 310};
    // Stamped before the trace's first entry (negative trace times): sent
    // like any backwards step, the default window does not cut them.
    const QList<FakeEntry> beforeStart = {{1, 0}, {2, 10}, {3, -5}, {4, -2}, {5, 20}};
    QTest::newRow("stamped before the first entry") << beforeStart << 1.0 << qint64(0)
                                                    << QList<double>{0, 10, 10, 13, 35};

    // Three hours between two entries, cut to one second when asked.
    const QList<FakeEntry> gap = {{1, 0}, {2, 5}, {3, 5 + 3 * 3600e3}, {4, 5 + 3 * 3600e3 + 20}};
    QTest::newRow("huge gap kept") << gap << 1.0 << qint64(0) << QList<double>{0, 5, 5 + 3 * 3600e3, 25 + 3 * 3600e3};
    QTest::newRow("huge gap cut") << gap << 1.0 << qint64(1000) << QList<double>{0, 5, 1005, 1025};
    QTest::newRow("cut and sped up") << gap << 10.0 << qint64(1000) << QList<double>{0, 0.5, 100.5, 102.5};

    // 200,000 entries 0.3 ms apart at 3x: the last one is due exactly 20 s in, no drift.
    QTest::newRow("no drift over a long trace")
        << evenTrace(200000, 0.3) << 3.0 << qint64(0) << QList<double>{19999.9};
}

void TestReplayEngine::timingFollowsRecordedDistances()
{
    QFETCH(QList<FakeEntry>, entries);
    QFETCH(double, speed);
    QFETCH(qint64, maxPauseMs);
    QFETCH(QList<double>, expectedMs);

    ReplayOptions options;
    options.speed = speed;
    options.maxPauseUs = maxPauseMs * 1000;
    Rig rig(entries, options);
    QVERIFY(rig.engine.start());
    rig.playToEnd();
    QCOMPARE(rig.engine.state(), ReplayEngine::Finished);
    QCOMPARE(rig.engine.progress().sent, qint64(entries.size()));
    QList<quint32> expectedIds;
    for (const FakeEntry &e : entries)
        expectedIds.append(e.id);
    QCOMPARE(rig.sentIds(), expectedIds);

    const QList<double> sent = rig.sentMs();
    // A single expected time checks only the last entry.
    const QList<double> compared = expectedMs.size() == 1 ? sent.mid(sent.size() - 1) : sent;
    QCOMPARE(compared.size(), expectedMs.size());
    for (int i = 0; i < compared.size(); ++i) {
        if (qAbs(compared.at(i) - expectedMs.at(i)) > 0.0005)
            QFAIL(qPrintable(QStringLiteral("entry %1 sent at %2 ms, due at %3 ms")
                                 .arg(i)
                                 .arg(compared.at(i), 0, 'f', 4)
                                 .arg(expectedMs.at(i), 0, 'f', 4)));
    }
    QCOMPARE(rig.engine.progress().maxLatenessNs, qint64(0));
}

void TestReplayEngine::selection_data()
{
    QTest::addColumn<QString>("filterText");
    QTest::addColumn<int>("filterMode");
    QTest::addColumn<int>("directions");
    QTest::addColumn<double>("fromMs");
    QTest::addColumn<double>("toMs");
    QTest::addColumn<QList<quint32>>("expected");

    const double all = 1e12;
    QTest::newRow("everything but error and status") << QString() << 0 << int(ReplayOptions::Both) << 0.0 << all
                                                     << QList<quint32>{0x100, 0x101, 0x200, 0x18FEF100, 0x100};
    QTest::newRow("received only") << QString() << 0 << int(ReplayOptions::Received) << 0.0 << all
                                   << QList<quint32>{0x100, 0x200, 0x18FEF100};
    QTest::newRow("sent only") << QString() << 0 << int(ReplayOptions::Sent) << 0.0 << all
                               << QList<quint32>{0x101, 0x100};
    QTest::newRow("filter nur") << QStringLiteral("100-1FF") << 0 << int(ReplayOptions::Both) << 0.0 << all
                                << QList<quint32>{0x100, 0x101, 0x100};
    QTest::newRow("filter außer") << QStringLiteral("100, 18FEF100") << 1 << int(ReplayOptions::Both) << 0.0 << all
                                  << QList<quint32>{0x101, 0x200};
    QTest::newRow("time window, both ends inclusive") << QString() << 0 << int(ReplayOptions::Both) << 20.0 << 40.0
                                                      << QList<quint32>{0x101, 0x200, 0x18FEF100};
    QTest::newRow("window, filter and direction together") << QStringLiteral("100-1FF") << 0
                                                           << int(ReplayOptions::Received) << 5.0 << all
                                                           << QList<quint32>{};
}

void TestReplayEngine::selection()
{
    QFETCH(QString, filterText);
    QFETCH(int, filterMode);
    QFETCH(int, directions);
    QFETCH(double, fromMs);
    QFETCH(double, toMs);
    QFETCH(QList<quint32>, expected);

    FakeEntry errorFrame{0x300, 15};
    errorFrame.error = true;
    FakeEntry statusEntry{0, 25};
    statusEntry.status = true;
    FakeEntry sent1{0x101, 20};
    sent1.tx = true;
    FakeEntry sent2{0x100, 50};
    sent2.tx = true;
    const QList<FakeEntry> entries = {{0x100, 0},        errorFrame,  sent1, statusEntry,
                                      {0x200, 30},       {0x18FEF100, 40}, sent2};

    ReplayOptions options;
    options.speed = 0;
    options.directions = directions;
    options.fromUs = qint64(fromMs * 1000);
    options.toUs = toMs >= 1e12 ? options.toUs : qint64(toMs * 1000);
    if (!filterText.isEmpty()) {
        QVERIFY(options.filter.parse(filterText, nullptr));
        options.filter.enabled = true;
        options.filter.mode = filterMode;
    }
    Rig rig(entries, options);
    if (expected.isEmpty()) {
        QVERIFY(!rig.engine.start());
        QVERIFY(!rig.engine.message().isEmpty());
        return;
    }
    QVERIFY(rig.engine.start());
    rig.playToEnd();
    QCOMPARE(rig.sentIds(), expected);
    // Every entry was looked at, sent or not.
    QCOMPARE(rig.engine.progress().position, qint64(entries.size()));
}

void TestReplayEngine::loops_data()
{
    QTest::addColumn<QList<FakeEntry>>("entries");
    QTest::addColumn<double>("speed");
    QTest::addColumn<QList<double>>("expectedMs"); // of the three passes

    // The first entry in the window (from 10 ms) is at 10 ms. Each pass
    // starts at its first entry, right where the pass before ended.
    const QList<FakeEntry> windowed = {{1, 0}, {2, 10}, {3, 25}, {4, 40}};
    QTest::newRow("passes follow at once") << windowed << 1.0
                                           << QList<double>{0, 15, 30, 30, 45, 60, 60, 75, 90};
    // One time stamp for all: a pass lasts the minimum of 1 ms of trace time.
    const QList<FakeEntry> oneStamp = {{2, 15}, {3, 15}, {4, 15}};
    QTest::newRow("one time stamp at 1x") << oneStamp << 1.0 << QList<double>{0, 0, 0, 1, 1, 1, 2, 2, 2};
    QTest::newRow("one time stamp at 2x") << oneStamp << 2.0 << QList<double>{0, 0, 0, 0.5, 0.5, 0.5, 1, 1, 1};
    QTest::newRow("one time stamp at max") << oneStamp << 0.0 << QList<double>{0, 0, 0, 0, 0, 0, 0, 0, 0};
    // Shorter than the minimum: the rest of the millisecond is waited for.
    const QList<FakeEntry> short_ = {{2, 12}, {3, 12.25}, {4, 12.5}};
    QTest::newRow("pass of 0.5 ms") << short_ << 1.0
                                    << QList<double>{0, 0.25, 0.5, 1, 1.25, 1.5, 2, 2.25, 2.5};
}

void TestReplayEngine::loops()
{
    QFETCH(QList<FakeEntry>, entries);
    QFETCH(double, speed);
    QFETCH(QList<double>, expectedMs);
    ReplayOptions options;
    options.loops = 3;
    options.speed = speed;
    options.fromUs = 10000;
    Rig rig(entries, options);
    QVERIFY(rig.engine.start());
    rig.playToEnd();
    QCOMPARE(rig.engine.state(), ReplayEngine::Finished);
    QCOMPARE(rig.sentIds(), (QList<quint32>{2, 3, 4, 2, 3, 4, 2, 3, 4}));
    QCOMPARE(rig.sentMs(), expectedMs);
    QCOMPARE(rig.engine.progress().pass, 3);
    QCOMPARE(rig.source.rewinds, 3);
}

void TestReplayEngine::endlessLoopRunsUntilStopped()
{
    ReplayOptions options;
    options.loops = 0;
    Rig rig({{1, 0}, {2, 1}}, options);
    QVERIFY(rig.engine.start());
    rig.playToEnd(500);
    QCOMPARE(rig.engine.state(), ReplayEngine::Running);
    QVERIFY(rig.engine.progress().pass >= 200);
    rig.engine.stop();
    QCOMPARE(rig.engine.state(), ReplayEngine::Stopped);
    QCOMPARE(rig.engine.step(), qint64(-1));
}

void TestReplayEngine::pauseKeepsTheRemainingTiming()
{
    Rig rig(evenTrace(10, 100.0));   // one entry every 100 ms
    QVERIFY(rig.engine.start());
    QCOMPARE(rig.engine.step(), StartNs + 100'000'000);   // entry 0 sent at once
    rig.clockNs = StartNs + 30'000'000;                   // 30 ms into the wait for entry 1
    rig.engine.pause();
    QCOMPARE(rig.engine.state(), ReplayEngine::Paused);
    QCOMPARE(rig.engine.step(), qint64(-1));

    rig.clockNs += 10'000'000'000;                        // ten seconds paused
    QCOMPARE(rig.engine.step(), qint64(-1));
    QCOMPARE(rig.target.ids.size(), size_t(1));
    rig.engine.resume();
    // Nothing fell due while paused: entry 1 still has its 70 ms to go.
    const qint64 due = rig.engine.step();
    QCOMPARE(rig.target.ids.size(), size_t(1));
    QCOMPARE(due, rig.clockNs + 70'000'000);
    rig.playToEnd();
    const QList<double> sent = rig.sentMs();
    QCOMPARE(sent.size(), 10);
    QCOMPARE(sent.at(1), 10100.0);
    QCOMPARE(sent.at(9), 10900.0);
}

void TestReplayEngine::maxSendsWhatIsDueBackToBack()
{
    ReplayOptions options;
    options.speed = ReplayOptions::AsFastAsPossible;
    Rig rig(evenTrace(2500, 1000.0), options);
    QVERIFY(rig.engine.start());
    // A step sends at most the number asked for and says the rest is due now.
    QCOMPARE(rig.engine.step(1000), StartNs);
    QCOMPARE(rig.target.ids.size(), size_t(1000));
    rig.playToEnd();
    QCOMPARE(rig.target.ids.size(), size_t(2500));
    // Handed over in bursts as large as the step allows.
    QCOMPARE(rig.target.bursts, (std::vector<int>{1000, 1500}));
    for (size_t i = 0; i < rig.target.ids.size(); ++i)
        QCOMPARE(rig.target.ids[i], quint32(0x100 + i));
}

void TestReplayEngine::lateStepSendsTheBurstAndMeasuresLateness()
{
    Rig rig({{1, 0}, {2, 10}, {3, 20}, {4, 30}, {5, 500}});
    QVERIFY(rig.engine.start());
    rig.engine.step();
    // The thread woke 25 ms late: entries 2 and 3 go out back to back.
    rig.clockNs = StartNs + 35'000'000;
    QCOMPARE(rig.engine.step(), StartNs + 500'000'000);
    QCOMPARE(rig.sentIds(), (QList<quint32>{1, 2, 3, 4}));
    QCOMPARE(rig.target.bursts, (std::vector<int>{1, 3}));
    QCOMPARE(rig.engine.progress().maxLatenessNs, qint64(25'000'000));
    QCOMPARE(rig.engine.progress().traceUs, qint64(30000));
}

void TestReplayEngine::writeFailuresAreCountedAndPlayGoesOn()
{
    Rig rig({{1, 0}, {2, 1}, {3, 2}, {2, 3}, {4, 4}});
    rig.target.failIds = {2};
    QVERIFY(rig.engine.start());
    rig.playToEnd();
    QCOMPARE(rig.engine.state(), ReplayEngine::Finished);
    QCOMPARE(rig.engine.progress().sent, qint64(3));
    QCOMPARE(rig.engine.progress().failed, qint64(2));
    QCOMPARE(rig.engine.progress().lastError, QStringLiteral("Sendepuffer voll"));
    QCOMPARE(rig.sentIds(), (QList<quint32>{1, 3, 4}));
    // Failed sends keep the timing of the rest.
    QCOMPARE(rig.sentMs(), (QList<double>{0, 2, 4}));
}

void TestReplayEngine::failuresInsideABurst_data()
{
    QTest::addColumn<int>("lostAfter");
    QTest::addColumn<QList<quint32>>("sent");
    QTest::addColumn<int>("failed");
    QTest::addColumn<int>("endState");
    QTest::addColumn<qint64>("traceUs");
    // Six entries due at once; identifier 3 is refused.
    QTest::newRow("refused one, rest goes") << -1 << QList<quint32>{1, 2, 4, 5, 6} << 1 << int(ReplayEngine::Finished)
                                            << qint64(5000);
    QTest::newRow("lost in the middle") << 4 << QList<quint32>{1, 2, 4} << 2 << int(ReplayEngine::ConnectionLost)
                                        << qint64(4000);
}

void TestReplayEngine::failuresInsideABurst()
{
    QFETCH(int, lostAfter);
    QFETCH(QList<quint32>, sent);
    QFETCH(int, failed);
    QFETCH(int, endState);
    QFETCH(qint64, traceUs);
    Rig rig({{1, 0}, {2, 1}, {3, 2}, {4, 3}, {5, 4}, {6, 5}});
    rig.target.failIds = {3};
    rig.target.lostAfter = lostAfter;
    QVERIFY(rig.engine.start());
    rig.clockNs = StartNs + 1'000'000'000;   // everything is due
    QCOMPARE(rig.engine.step(), qint64(-1));
    QCOMPARE(int(rig.engine.state()), endState);
    QCOMPARE(rig.sentIds(), sent);
    QCOMPARE(rig.engine.progress().sent, qint64(sent.size()));
    QCOMPARE(rig.engine.progress().failed, qint64(failed));
    QCOMPARE(rig.engine.progress().traceUs, traceUs);
    // The first call carried the whole burst; after a refusal the rest follows.
    QCOMPARE(rig.target.bursts.front(), 6);
    QCOMPARE(rig.target.bursts.at(1), 3);
}

void TestReplayEngine::lostConnectionEndsTheReplay()
{
    ReplayOptions options;
    options.loops = 0;
    Rig rig(evenTrace(10, 1.0), options);
    rig.target.lostAfter = 4;
    QVERIFY(rig.engine.start());
    rig.playToEnd();
    QCOMPARE(rig.engine.state(), ReplayEngine::ConnectionLost);
    QCOMPARE(rig.engine.message(), QStringLiteral("Verbindung verloren: Sendepuffer voll"));
    QCOMPARE(rig.engine.progress().sent, qint64(4));
    QCOMPARE(rig.engine.progress().failed, qint64(1));
    QCOMPARE(rig.engine.step(), qint64(-1));
}

void TestReplayEngine::nothingToSendIsRefused()
{
    FakeEntry status{0, 0};
    status.status = true;
    Rig rig({status});
    QVERIFY(!rig.engine.start());
    QCOMPARE(rig.engine.state(), ReplayEngine::Failed);
    QVERIFY(rig.engine.message().contains(QStringLiteral("nichts abzuspielen")));

    Rig empty({});
    QVERIFY(!empty.engine.start());
}

void TestReplayEngine::readFailureEndsTheReplay()
{
    Rig rig(evenTrace(10, 1.0));
    rig.source.failAt = 6;
    QVERIFY(rig.engine.start());
    rig.playToEnd();
    QCOMPARE(rig.engine.state(), ReplayEngine::Failed);
    QCOMPARE(rig.engine.message(), QStringLiteral("Lesefehler"));
    QCOMPARE(rig.engine.progress().sent, qint64(6));
}

void TestReplayEngine::speedText()
{
    double speed = -1;
    QVERIFY(ReplayOptions::parseSpeed(QStringLiteral("max"), &speed, nullptr));
    QCOMPARE(speed, 0.0);
    QVERIFY(ReplayOptions::parseSpeed(QStringLiteral("0,5"), &speed, nullptr));
    QCOMPARE(speed, 0.5);
    QVERIFY(ReplayOptions::parseSpeed(QStringLiteral("10x"), &speed, nullptr));
    QCOMPARE(speed, 10.0);
    QString error;
    QVERIFY(!ReplayOptions::parseSpeed(QStringLiteral("0.05"), &speed, &error));
    QCOMPARE(error, QStringLiteral("Ungültige Geschwindigkeit: 0.05 (0,1 bis 10 oder max)"));
    QVERIFY(!ReplayOptions::parseSpeed(QStringLiteral("11"), &speed, nullptr));
    QVERIFY(!ReplayOptions::parseSpeed(QStringLiteral("schnell"), &speed, nullptr));
    QCOMPARE(ReplayOptions::speedText(0.5), QStringLiteral("0,5×"));
    QCOMPARE(ReplayOptions::speedText(0), QStringLiteral("max"));
}

QTEST_GUILESS_MAIN(TestReplayEngine)
#include "tst_replayengine.moc"
