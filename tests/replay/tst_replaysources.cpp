// Where a replay reads from: the window's trace in place, and files of
// every format streamed from disk in chunks by a reader thread.
#include "tracefilesource.h"
#include "tracemodel.h"
#include "tracemodelsource.h"

#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(TraceFile::Format)

namespace {

// A recorded trace: every seventh frame extended, every fifth sent, 250 µs apart.
void record(TraceModel *model, int count, qint64 firstUs)
{
    model->setMaxEntries(count + 100);
    model->setRecording(true);
    QList<CanFrame> frames;
    for (int i = 0; i < count; ++i) {
        CanFrame frame;
        frame.id = quint32(0x100 + i % 300);
        frame.extended = i % 7 == 0;
        frame.tx = i % 5 == 0;
        frame.dlc = quint8(i % 9);
        for (int b = 0; b < 8; ++b)
            frame.data[b] = quint8(i >> b);
        frame.timestampUs = firstUs + qint64(i) * 250;
        frames.append(frame);
    }
    model->addFrames(frames);
}

struct Read
{
    QList<CanFrame> frames;
    QList<qint64> timesUs;
    QString error;
};

Read readPass(ReplaySource &source)
{
    Read read;
    if (!source.rewind(&read.error))
        return read;
    CanFrame frame;
    qint64 traceUs = 0;
    while (source.next(&frame, &traceUs, &read.error)) {
        read.frames.append(frame);
        read.timesUs.append(traceUs);
    }
    return read;
}

} // namespace

class TestReplaySources : public QObject
{
    Q_OBJECT

private slots:
    void modelSourceReadsInPlaceWithTraceTimes();
    void fileSourceStreamsEveryFormat_data();
    void fileSourceStreamsEveryFormat();
    void fileSourceFailures();
    void fileSourceStopsReadingWhenDropped();
};

void TestReplaySources::modelSourceReadsInPlaceWithTraceTimes()
{
    TraceModel model;
    record(&model, 1000, 7'000'000);
    TraceModelSource source(&model);
    QCOMPARE(source.size(), qint64(1000));
    for (int pass = 0; pass < 2; ++pass) {
        const Read read = readPass(source);
        QVERIFY(read.error.isEmpty());
        QCOMPARE(read.frames.size(), 1000);
        // Times count from the first recorded frame, as the time column shows them.
        QCOMPARE(read.timesUs.first(), qint64(0));
        QCOMPARE(read.timesUs.last(), qint64(999 * 250));
        QCOMPARE(read.frames.at(5).tx, true);
        QCOMPARE(read.frames.at(7).extended, true);
        QCOMPARE(read.frames.at(8).dlc, quint8(8));
    }
}

void TestReplaySources::fileSourceStreamsEveryFormat_data()
{
    QTest::addColumn<TraceFile::Format>("format");
    QTest::addColumn<qint64>("resolutionUs");
    QTest::newRow("trc") << TraceFile::Format::Trc << qint64(100);
    QTest::newRow("csv") << TraceFile::Format::Csv << qint64(1);
    QTest::newRow("asc") << TraceFile::Format::Asc << qint64(1);
    QTest::newRow("blf") << TraceFile::Format::Blf << qint64(1);
    QTest::newRow("log") << TraceFile::Format::Log << qint64(1);
}

void TestReplaySources::fileSourceStreamsEveryFormat()
{
    QFETCH(TraceFile::Format, format);
    QFETCH(qint64, resolutionUs);

    // More entries than the reader's queue holds, so it has to wait for the player.
    constexpr int Count = 50000;
    TraceModel recorded;
    record(&recorded, Count, 0);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trace.") + TraceFile::ending(format));
    QString error;
    QVERIFY2(recorded.save(path, format, &error), qPrintable(error));
    TraceModel loaded;
    int count = 0;
    QVERIFY2(loaded.load(path, format, &error, &count), qPrintable(error));

    TraceFileSource source(path, format);
    QCOMPARE(source.size(), qint64(-1));
    for (int pass = 0; pass < 2; ++pass) {
        const Read read = readPass(source);
        QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
        QCOMPARE(read.frames.size(), loaded.rowCount());
        QCOMPARE(read.frames.size(), Count);
        for (int i = 0; i < Count; i += 997) {
            const CanFrame expected = loaded.entryAt(i).frame;
            const CanFrame &got = read.frames.at(i);
            QCOMPARE(got.id, expected.id);
            QCOMPARE(got.extended, expected.extended);
            QCOMPARE(got.tx, expected.tx);
            QCOMPARE(got.dlc, expected.dlc);
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(got.data), got.dlc),
                     QByteArray(reinterpret_cast<const char *>(expected.data), expected.dlc));
            QCOMPARE(read.timesUs.at(i), expected.timestampUs);
            QVERIFY(qAbs(read.timesUs.at(i) - qint64(i) * 250) < resolutionUs);
        }
        // After a whole pass the size is known.
        QCOMPARE(source.size(), qint64(Count));
    }
}

void TestReplaySources::fileSourceFailures()
{
    QTemporaryDir dir;
    TraceFileSource missing(dir.filePath(QStringLiteral("fehlt.trc")), TraceFile::Format::Trc);
    Read read = readPass(missing);
    QVERIFY(read.frames.isEmpty());
    QVERIFY(!read.error.isEmpty());

    // A CSV file without a single readable line is no trace.
    const QString junkPath = dir.filePath(QStringLiteral("junk.csv"));
    QFile junk(junkPath);
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("\xff\xfe kein Trace\nnoch eine Zeile\n");
    junk.close();
    TraceFileSource broken(junkPath, TraceFile::Format::Csv);
    read = readPass(broken);
    QVERIFY(read.frames.isEmpty());
    QVERIFY(!read.error.isEmpty());
}

void TestReplaySources::fileSourceStopsReadingWhenDropped()
{
    TraceModel recorded;
    record(&recorded, 200000, 0);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.csv"));
    QString error;
    QVERIFY(recorded.save(path, TraceFile::Format::Csv, &error));
    {
        TraceFileSource source(path, TraceFile::Format::Csv);
        QString readError;
        QVERIFY(source.rewind(&readError));
        CanFrame frame;
        qint64 traceUs = 0;
        for (int i = 0; i < 10; ++i)
            QVERIFY(source.next(&frame, &traceUs, &readError));
        // A new pass in the middle starts over from the first entry.
        QVERIFY(source.rewind(&readError));
        QVERIFY(source.next(&frame, &traceUs, &readError));
        QCOMPARE(traceUs, qint64(0));
    } // the reader waits for room in its queue; dropping the source must end it
}

QTEST_GUILESS_MAIN(TestReplaySources)
#include "tst_replaysources.moc"
