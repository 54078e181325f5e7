// The player thread: start, pause, stop and the end of a replay, and sending
// from its thread onto real backends while the owning thread runs them.
#include "replayfakes.h"
#include "tracemodel.h"
#include "tracemodelsource.h"
#include "traceplayer.h"

#include "pipebackend.h"
#include "simulationbackend.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace {

QList<FakeEntry> evenTrace(int count, double stepMs)
{
    QList<FakeEntry> entries;
    for (int i = 0; i < count; ++i)
        entries.append({quint32(i % 0x800), i * stepMs});
    return entries;
}

// A recorded trace of `count` frames, `stepUs` apart, identifiers counting up.
void record(TraceModel *model, int count, qint64 stepUs)
{
    model->setRecording(true);
    QList<CanFrame> frames;
    for (int i = 0; i < count; ++i) {
        CanFrame frame;
        frame.id = quint32(0x100 + i);
        frame.dlc = 2;
        frame.data[0] = quint8(i);
        frame.data[1] = quint8(i >> 8);
        frame.timestampUs = 1000 + i * stepUs;
        frames.append(frame);
    }
    model->addFrames(frames);
    model->setRecording(false);
}

} // namespace

class TestTracePlayer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<CanFrameList>(); }
    void playsToTheEndInOrder();
    void pauseResumeAndStop();
    void lostConnectionEndsWithAMessage();
    void refusesWhatCannotBePlayed();
    void echoesOfTheSimulatedBus();
    void pipeBusWritesLinesAndEndsWhenItsInputEnds();
};

void TestTracePlayer::playsToTheEndInOrder()
{
    TracePlayer player;
    QSignalSpy finished(&player, &TracePlayer::finished);
    auto target = std::make_unique<FakeTarget>();
    FakeTarget *sent = target.get();
    ReplayOptions options;
    options.speed = ReplayOptions::AsFastAsPossible;
    options.loops = 3;
    QString error;
    QVERIFY(player.start(std::make_unique<FakeSource>(evenTrace(5000, 1.0)), std::move(target), options, &error));
    QVERIFY(player.isActive());
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.at(0).at(0).toInt(), int(ReplayEngine::Finished));
    QVERIFY(finished.at(0).at(1).toString().isEmpty());
    QVERIFY(!player.isActive());
    QCOMPARE(player.progress().sent, qint64(15000));
    QCOMPARE(player.progress().pass, 3);
    const std::vector<quint32> ids = sent->sentIds();
    QCOMPARE(ids.size(), size_t(15000));
    for (size_t i = 0; i < ids.size(); ++i)
        QCOMPARE(ids[i], quint32((i % 5000) % 0x800));
}

void TestTracePlayer::pauseResumeAndStop()
{
    TracePlayer player;
    QSignalSpy finished(&player, &TracePlayer::finished);
    auto target = std::make_unique<FakeTarget>();
    FakeTarget *sent = target.get();
    QString error;
    // One entry every 20 ms: the first goes out at once.
    QVERIFY(player.start(std::make_unique<FakeSource>(evenTrace(1000, 20.0)), std::move(target), ReplayOptions(),
                         &error));
    QTRY_VERIFY(!sent->sentIds().empty());
    player.pause();
    QVERIFY(player.isPaused());
    QTRY_COMPARE(player.progress().state, ReplayEngine::Paused);
    const size_t atPause = sent->sentIds().size();
    QTest::qWait(100);   // five entries would have fallen due meanwhile (the timing is tst_replayengine's)
    QCOMPARE(sent->sentIds().size(), atPause);
    player.resume();
    QTRY_COMPARE(player.progress().state, ReplayEngine::Running);
    QTRY_VERIFY(sent->sentIds().size() > atPause);

    QElapsedTimer clock;
    clock.start();
    player.stop();
    QVERIFY(clock.elapsed() < 1000);   // woken from its sleep, not waiting for the next entry
    QVERIFY(!player.isActive());
    QCOMPARE(player.progress().state, ReplayEngine::Stopped);
    const size_t atStop = sent->sentIds().size();
    QTest::qWait(50);
    QCOMPARE(sent->sentIds().size(), atStop);
    QVERIFY(finished.isEmpty());   // stop() is no end by itself
}

void TestTracePlayer::lostConnectionEndsWithAMessage()
{
    TracePlayer player;
    QSignalSpy finished(&player, &TracePlayer::finished);
    auto target = std::make_unique<FakeTarget>();
    target->lostAfter = 100;
    ReplayOptions options;
    options.speed = ReplayOptions::AsFastAsPossible;
    options.loops = 0;
    QString error;
    QVERIFY(player.start(std::make_unique<FakeSource>(evenTrace(10, 1.0)), std::move(target), options, &error));
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.at(0).at(0).toInt(), int(ReplayEngine::ConnectionLost));
    QCOMPARE(finished.at(0).at(1).toString(), QStringLiteral("Verbindung verloren: Sendepuffer voll"));
    QCOMPARE(player.progress().sent, qint64(100));
    QCOMPARE(player.progress().failed, qint64(1));
}

void TestTracePlayer::refusesWhatCannotBePlayed()
{
    TracePlayer player;
    QString error;
    QVERIFY(!player.start(std::make_unique<FakeSource>(QList<FakeEntry>()), std::make_unique<FakeTarget>(),
                          ReplayOptions(), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!player.isActive());

    QVERIFY(player.start(std::make_unique<FakeSource>(evenTrace(10, 1000.0)), std::make_unique<FakeTarget>(),
                         ReplayOptions(), &error));
    QVERIFY(!player.start(std::make_unique<FakeSource>(evenTrace(10, 1.0)), std::make_unique<FakeTarget>(),
                          ReplayOptions(), &error));
    QCOMPARE(error, QStringLiteral("Es wird bereits abgespielt."));
}

void TestTracePlayer::echoesOfTheSimulatedBus()
{
    TraceModel trace;
    record(&trace, 3000, 100);
    SimulationBackend bus;
    QVERIFY(bus.open(ConnectParams(), nullptr));
    QList<CanFrame> echoes;
    connect(&bus, &CanBackend::framesReceived, this, [&](const CanFrameList &frames) {
        for (const CanFrame &frame : frames)
            if (frame.tx)
                echoes.append(frame);
    });
    TracePlayer player;
    QSignalSpy finished(&player, &TracePlayer::finished);
    ReplayOptions options;
    options.speed = 10;   // 0.3 s of trace in 30 ms, while the simulation ticks in this thread
    QString error;
    QVERIFY2(player.start(std::make_unique<TraceModelSource>(&trace), &bus, options, &error), qPrintable(error));
    QVERIFY(finished.wait(10000));
    bus.flushQueue();
    QCOMPARE(echoes.size(), 3000);
    for (int i = 0; i < echoes.size(); ++i) {
        QCOMPARE(echoes.at(i).id, quint32(0x100 + i));
        QCOMPARE(echoes.at(i).data[1], quint8(i >> 8));
    }
    // The echoes keep the order of their send times.
    for (int i = 1; i < echoes.size(); ++i)
        QVERIFY(echoes.at(i).timestampUs >= echoes.at(i - 1).timestampUs);
    bus.close();
}

void TestTracePlayer::pipeBusWritesLinesAndEndsWhenItsInputEnds()
{
#ifdef Q_OS_WIN
    QSKIP("named pipes of this kind are POSIX only");
#else
    TraceModel trace;
    record(&trace, 500, 0);
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("in.fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString out = dir.filePath(QStringLiteral("out.log"));
    PipeBackend bus(fifo, out);
    QVERIFY(bus.open(ConnectParams(), nullptr));
    QFile writer(fifo);
    QVERIFY(writer.open(QIODevice::WriteOnly | QIODevice::Unbuffered));

    TracePlayer player;
    QSignalSpy finished(&player, &TracePlayer::finished);
    ReplayOptions options;
    options.loops = 0;   // endlessly, until the bus goes away
    QString error;
    QVERIFY(player.start(std::make_unique<TraceModelSource>(&trace), &bus, options, &error));
    // The owning thread sends at the same time.
    CanFrame own;
    own.id = 0x7FF;
    for (int i = 0; i < 200; ++i)
        QVERIFY(bus.write(own, nullptr));
    QTRY_VERIFY(player.progress().sent > 2000);
    QVERIFY(finished.isEmpty());

    writer.close();   // the input ends: the bus is gone
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.at(0).at(0).toInt(), int(ReplayEngine::ConnectionLost));
    QVERIFY(finished.at(0).at(1).toString().startsWith(QLatin1String("Verbindung verloren: ")));
    bus.close();

    QFile written(out);
    QVERIFY(written.open(QIODevice::ReadOnly));
    int played = 0;
    int own7ff = 0;
    while (!written.atEnd()) {
        const QByteArray line = written.readLine();
        // Whole lines only: the two senders never write into each other's line.
        QVERIFY2(line.startsWith('(') && line.endsWith('\n'), line.constData());
        if (line.contains(" busvista 7FF#"))
            ++own7ff;
        else if (line.contains(QByteArray(" busvista ") + QByteArray::number(0x100 + played % 500, 16).toUpper() + '#'))
            ++played;
        else
            QFAIL(line.constData());
    }
    QCOMPARE(own7ff, 200);
    QCOMPARE(qint64(played), player.progress().sent);
#endif
}

QTEST_GUILESS_MAIN(TestTracePlayer)
#include "tst_traceplayer.moc"
