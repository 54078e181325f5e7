#include "candumpline.h"
#include "pipebackend.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace {

QByteArray dataOf(const CanFrame &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data), frame.dlc).toHex().toUpper();
}

// "S 123 1122" / "X 1ABCDEF0 R" / "E 4 0004": kind, identifier, data or R + length.
QString describe(const CanFrame &frame)
{
    const QString kind = frame.error ? QStringLiteral("E") : frame.extended ? QStringLiteral("X") : QStringLiteral("S");
    const QString payload = frame.rtr ? QStringLiteral("R%1").arg(frame.dlc) : QString::fromLatin1(dataOf(frame));
    return QStringLiteral("%1 %2 %3").arg(kind).arg(frame.id, 0, 16).arg(payload).trimmed();
}

// describe() plus " FD<bytes written>" and the direction marker, when there.
QString describe(const CanDumpLine::Parsed &parsed)
{
    QString text = describe(parsed.frame);
    if (parsed.fd)
        text += QStringLiteral(" FD%1").arg(parsed.length);
    if (parsed.direction)
        text += QStringLiteral(" %1").arg(QLatin1Char(parsed.direction));
    return text;
}

} // namespace

class TestPipeBackend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parse_data();
    void parse();
    void busTakesClassicFramesOnly();
    void format_data();
    void format();
    void chunksAndLongLines();
    void readsFileUntilItsEnd();
    void writesCandumpLines();
    void writesBurstsInOneGo();
    void openFailures();
    void namedPipeStopsPromptly();
    void answersFollowTheirRequests();

private:
    // An input that ends at once: the tests that only write need no more.
    QString emptyInput()
    {
        const QString in = m_dir.filePath(QStringLiteral("empty.log"));
        QFile file(in);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot create %s", qPrintable(in));
        return in;
    }

    QTemporaryDir m_dir;
};

void TestPipeBackend::initTestCase()
{
    qRegisterMetaType<CanFrameList>();
}

void TestPipeBackend::parse_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("frame"); // empty: unreadable
    QTest::addColumn<qint64>("stampUs"); // of lines with a time stamp
    QTest::newRow("cansend") << QByteArray("605#4008100000000000") << "S 605 4008100000000000" << qint64(-1);
    QTest::newRow("extended") << QByteArray("1ABCDEF0#11") << "X 1abcdef0 11" << qint64(-1);
    QTest::newRow("remote") << QByteArray("123#R") << "S 123 R0" << qint64(-1);
    QTest::newRow("remote with length") << QByteArray("123#R4") << "S 123 R4" << qint64(-1);
    QTest::newRow("empty data") << QByteArray("7FF#") << "S 7ff" << qint64(-1);
    QTest::newRow("dots") << QByteArray("123#11.22.33") << "S 123 112233" << qint64(-1);
    QTest::newRow("candump -L") << QByteArray("(1733600000.123456) can0 585#4B08100000000000\r")
                                << "S 585 4B08100000000000" << qint64(1733600000123456);
    QTest::newRow("error frame") << QByteArray("(0.000001) vcan0 20000004#0004000000000000")
                                 << "E 4 0004000000000000" << qint64(1);
    QTest::newRow("lower case") << QByteArray("1a0#abcd") << "S 1a0 ABCD" << qint64(-1);
    QTest::newRow("id too big") << QByteArray("800#11") << "" << qint64(-1);
    QTest::newRow("4 digits") << QByteArray("0123#11") << "" << qint64(-1);
    QTest::newRow("flag bits beyond 29") << QByteArray("40000123#11") << "" << qint64(-1);
    QTest::newRow("nine bytes") << QByteArray("123#112233445566778899") << "" << qint64(-1);
    QTest::newRow("odd digits") << QByteArray("123#112") << "" << qint64(-1);
    QTest::newRow("CAN FD") << QByteArray("123##011223344") << "S 123 11223344 FD4" << qint64(-1);
    QTest::newRow("CAN FD above 8 bytes") << QByteArray("(2.0) can0 123##1" + QByteArray("11").repeated(12))
                                          << "S 123 1111111111111111 FD12" << qint64(2000000);
    QTest::newRow("CAN FD 65 bytes") << QByteArray("123##1" + QByteArray("11").repeated(65)) << "" << qint64(-1);
    QTest::newRow("CAN FD flags not hex") << QByteArray("123##X11") << "" << qint64(-1);
    QTest::newRow("CAN FD remote") << QByteArray("123##R") << "" << qint64(-1);
    QTest::newRow("direction marker") << QByteArray("(1.5) can0 001#AA t") << "S 1 AA T" << qint64(1500000);
    QTest::newRow("unknown marker") << QByteArray("(1.5) can0 001#AA X") << "" << qint64(-1);
    QTest::newRow("two markers") << QByteArray("(1.5) can0 001#AA R T") << "" << qint64(-1);
    QTest::newRow("no hash") << QByteArray("hallo") << "" << qint64(-1);
    QTest::newRow("short fraction") << QByteArray("(17.12) can0 123#11") << "S 123 11" << qint64(17120000);
    QTest::newRow("no fraction, tabs") << QByteArray("(17)\tcan0\t123#11") << "S 123 11" << qint64(17000000);
    QTest::newRow("negative, long fraction") << QByteArray("(-0.0000019) can0 123#") << "S 123" << qint64(-1);
    QTest::newRow("13 digits of seconds") << QByteArray("(1234567890123.000000) can0 123#") << "" << qint64(-1);
    QTest::newRow("empty fraction") << QByteArray("(1.) can0 123#") << "" << qint64(-1);
    QTest::newRow("stamp without interface") << QByteArray("(1.000000)123#11") << "" << qint64(-1);
    QTest::newRow("stamp and interface only") << QByteArray("(1.000000) can0") << "" << qint64(-1);
    QTest::newRow("remote length 9") << QByteArray("123#R9") << "" << qint64(-1);
    QTest::newRow("error frame remote") << QByteArray("20000004#R") << "" << qint64(-1);
    QTest::newRow("not utf-8") << QByteArray("12\xff#11") << "" << qint64(-1);
}

void TestPipeBackend::parse()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, frame);
    QFETCH(qint64, stampUs);
    CanDumpLine::Parsed parsed;
    const bool ok = CanDumpLine::parse(line.constData(), line.constData() + line.size(), &parsed);
    QCOMPARE(ok, !frame.isEmpty());
    if (!ok)
        return;
    QCOMPARE(describe(parsed), frame);
    QCOMPARE(parsed.hasTimestamp, line.startsWith('('));
    if (parsed.hasTimestamp)
        QCOMPARE(parsed.timestampUs, stampUs);
}

void TestPipeBackend::busTakesClassicFramesOnly()
{
    // CAN FD is not a frame of this bus; the markers of "candump -L -x" are:
    // T (sent by the host that recorded) is an echo, R a received frame.
    const QByteArray input = "123##011\n(1.000000) can0 124#11 T\n(1.000000) can0 125#22 R\n126#33\n"
                             "(1.000000) can0 127#44 X\n";
    PipeBackend::LineState state;
    QList<CanFrame> frames;
    PipeBackend::takeChunk(&state, input.constData(), input.size(), 7, &frames);
    QCOMPARE(state.bad, qint64(2));
    QCOMPARE(frames.size(), 3);
    QCOMPARE(frames.at(0).id, quint32(0x124));
    QVERIFY(frames.at(0).tx);
    QCOMPARE(frames.at(1).id, quint32(0x125));
    QVERIFY(!frames.at(1).tx);
    QCOMPARE(frames.at(2).id, quint32(0x126));
    QVERIFY(!frames.at(2).tx);
}

void TestPipeBackend::format_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("standard") << QByteArray("(1733600000.123456) busvista 585#4B08100000000000");
    QTest::newRow("extended") << QByteArray("(1733600000.000001) busvista 1ABCDEF0#11");
    QTest::newRow("remote") << QByteArray("(0.000000) busvista 123#R");
    QTest::newRow("remote 2") << QByteArray("(0.000000) busvista 123#R2");
    QTest::newRow("error") << QByteArray("(0.000000) busvista 20000004#0004");
    QTest::newRow("no data") << QByteArray("(12.500000) busvista 000#");
    QTest::newRow("before 1970") << QByteArray("(-0.500000) busvista 123#");
    QTest::newRow("before 1970, seconds") << QByteArray("(-12.000001) busvista 1ABCDEF0#R");
    QTest::newRow("far ahead") << QByteArray("(99999999999.999999) busvista 7FF#FFFFFFFFFFFFFFFF");
}

void TestPipeBackend::format()
{
    QFETCH(QByteArray, line);
    // What is read back is written the same way.
    CanDumpLine::Parsed parsed;
    QVERIFY(CanDumpLine::parse(line.constData(), line.constData() + line.size(), &parsed));
    QCOMPARE(CanDumpLine::logLine(parsed.frame, parsed.timestampUs), line + '\n');
}

void TestPipeBackend::chunksAndLongLines()
{
    const QByteArray input = "123#11\n\n" + QByteArray(PipeBackend::MaxLineBytes + 10, 'A') + "\nkaputt\n"
                             + "(5.000000) x 124#22\n(5.250000) x 125#33";
    for (int step : {1, 3, 64, int(input.size())}) {
        PipeBackend::LineState state;
        QList<CanFrame> frames;
        for (int at = 0; at < input.size(); at += step)
            PipeBackend::takeChunk(&state, input.constData() + at, qMin<qint64>(step, input.size() - at), 42, &frames);
        QVERIFY(state.carry.size() <= PipeBackend::MaxLineBytes);
        PipeBackend::takeEnd(&state, 43, &frames);
        QCOMPARE(frames.size(), 3);
        QCOMPARE(state.bad, qint64(2)); // the long line and "kaputt"; the blank one is no error
        QCOMPARE(frames.at(0).timestampUs, qint64(42)); // cansend: arrival time
        QCOMPARE(frames.at(1).timestampUs, qint64(42)); // candump -L: the first stamp at its arrival,
        QCOMPARE(frames.at(2).timestampUs, qint64(250042)); // later ones at their spacing
        QCOMPARE(frames.at(2).id, quint32(0x125));
    }
}

void TestPipeBackend::readsFileUntilItsEnd()
{
    const QString in = m_dir.filePath(QStringLiteral("in.log"));
    QFile file(in);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("(100.000000) can0 705#05\n(100.500000) can0 705#05\nMüll\n18FEF100#FFFF\n(101.000000) can0 123#R");
    file.close();
    PipeBackend bus(in, QStringLiteral("/dev/null"));
    QSignalSpy received(&bus, &CanBackend::framesReceived);
    QSignalSpy ended(&bus, &PipeBackend::inputEnded);
    QVERIFY(bus.open(ConnectParams(), nullptr));
    QVERIFY(bus.isOpen());
    QVERIFY(ended.wait(5000));
    QVERIFY(!bus.isOpen());
    QList<CanFrame> frames;
    for (const QList<QVariant> &args : received)
        frames += args.at(0).value<CanFrameList>();
    QCOMPARE(frames.size(), 4);
    QVERIFY(frames.at(0).timestampUs >= 0);
    QCOMPARE(frames.at(1).timestampUs - frames.at(0).timestampUs, qint64(500000));
    QVERIFY(frames.at(2).extended);
    QCOMPARE(frames.at(3).timestampUs - frames.at(0).timestampUs, qint64(1000000));
    QVERIFY(frames.at(3).rtr);
    QCOMPARE(bus.badLines(), qint64(1));
    QCOMPARE(bus.framesRead(), qint64(4));
    QString error;
    QVERIFY(!bus.write(frames.at(0), &error));
    QVERIFY(!error.isEmpty());
}

void TestPipeBackend::writesCandumpLines()
{
    const QString out = m_dir.filePath(QStringLiteral("out.log"));
    PipeBackend bus(emptyInput(), out);
    QSignalSpy received(&bus, &CanBackend::framesReceived);
    QVERIFY(bus.open(ConnectParams(), nullptr));
    CanFrame frame;
    frame.id = 0x605;
    frame.dlc = 8;
    frame.data[0] = 0x40;
    QVERIFY(bus.write(frame, nullptr));
    // Flushed at once: another reader sees the line before anything else happens.
    QFile written(out);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray line = written.readAll();
    QVERIFY2(line.endsWith(" busvista 605#4000000000000000\n"), line.constData());
    QVERIFY(line.startsWith('('));
    bus.flushQueue();
    QVERIFY(!received.isEmpty());
    QVERIFY(received.at(0).at(0).value<CanFrameList>().at(0).tx);
    bus.close();
}

void TestPipeBackend::writesBurstsInOneGo()
{
    const QString out = m_dir.filePath(QStringLiteral("burst.log"));
    PipeBackend bus(emptyInput(), out);
    QSignalSpy received(&bus, &CanBackend::framesReceived);
    QVERIFY(bus.open(ConnectParams(), nullptr));
    CanFrame frames[3];
    frames[0].id = 0x123;
    frames[0].dlc = 2;
    frames[0].data[0] = 0x11;
    frames[0].data[1] = 0x22;
    frames[1].id = 0x1ABCDEF0;
    frames[1].extended = true;
    frames[1].rtr = true;
    frames[1].dlc = 4;
    frames[2].id = 0x7FF;
    frames[2].dlc = 12;   // more than 8 is cut to 8
    frames[2].status = true;
    QCOMPARE(bus.writeFrames(frames, 3, nullptr), 3);
    QCOMPARE(bus.writeFrames(frames, 0, nullptr), 0);

    QFile written(out);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = written.readAll().split('\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines.at(3).isEmpty());
    const QStringList expected = {QStringLiteral("S 123 1122"), QStringLiteral("X 1abcdef0 R4"),
                                  QStringLiteral("S 7ff 0000000000000000")};
    for (int i = 0; i < 3; ++i) {
        CanDumpLine::Parsed parsed;
        QVERIFY2(CanDumpLine::parse(lines.at(i).constData(), lines.at(i).constData() + lines.at(i).size(), &parsed),
                 lines.at(i).constData());
        QCOMPARE(describe(parsed.frame), expected.at(i));
        QCOMPARE(lines.at(i).left(lines.at(i).indexOf(')')), lines.at(0).left(lines.at(0).indexOf(')')));
    }
    bus.flushQueue();
    QList<CanFrame> echoes;
    for (const QList<QVariant> &args : received)
        echoes += args.at(0).value<CanFrameList>();
    QCOMPARE(echoes.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(echoes.at(i).tx);
        QVERIFY(!echoes.at(i).status);
        QCOMPARE(describe(echoes.at(i)), expected.at(i));
        QCOMPARE(echoes.at(i).timestampUs, echoes.at(0).timestampUs);
    }
    bus.close();

#ifndef Q_OS_WIN
    // A full output: nothing of the burst counts as sent, and the connection is gone.
    if (QFile::exists(QStringLiteral("/dev/full"))) {
        PipeBackend full(emptyInput(), QStringLiteral("/dev/full"));
        QVERIFY(full.open(ConnectParams(), nullptr));
        QString error;
        QCOMPARE(full.writeFrames(frames, 3, &error), 0);
        QVERIFY2(error.startsWith(QLatin1String("Ausgabe /dev/full")), qPrintable(error));
        QVERIFY(full.connectionLost());
    }
#endif
}

void TestPipeBackend::openFailures()
{
    QString error;
    PipeBackend missing(m_dir.filePath(QStringLiteral("fehlt.log")), QStringLiteral("/dev/null"));
    QVERIFY(!missing.open(ConnectParams(), &error));
    QVERIFY2(error.startsWith(QLatin1String("Eingabe ")), qPrintable(error));
    QVERIFY(!missing.isOpen());
    PipeBackend badOut(QStringLiteral("/dev/null"), m_dir.filePath(QStringLiteral("kein/ordner/out.log")));
    QVERIFY(!badOut.open(ConnectParams(), &error));
    QVERIFY2(error.startsWith(QLatin1String("Ausgabe ")), qPrintable(error));
}

void TestPipeBackend::namedPipeStopsPromptly()
{
#ifdef Q_OS_WIN
    QSKIP("named pipes of this kind are POSIX only");
#else
    const QString fifo = m_dir.filePath(QStringLiteral("bus.fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    PipeBackend bus(fifo, QStringLiteral("/dev/null"));
    QSignalSpy received(&bus, &CanBackend::framesReceived);
    QVERIFY(bus.open(ConnectParams(), nullptr));
    QFile writer(fifo);
    QVERIFY(writer.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    writer.write("705#7F\n");
    QVERIFY(received.wait(5000));
    QCOMPARE(received.at(0).at(0).value<CanFrameList>().at(0).id, quint32(0x705));
    // The writer stays open: the reader waits, and close must still return.
    QElapsedTimer timer;
    timer.start();
    bus.close();
    QVERIFY(timer.elapsed() < 2000);
    writer.close();
#endif
}

// A request sent on the bus and the answer read later share one time base,
// whatever the stamps of the input say.
void TestPipeBackend::answersFollowTheirRequests()
{
#ifdef Q_OS_WIN
    QSKIP("named pipes of this kind are POSIX only");
#else
    const QString fifo = m_dir.filePath(QStringLiteral("answers.fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    PipeBackend bus(fifo, QStringLiteral("/dev/null"));
    QList<CanFrame> frames;
    connect(&bus, &CanBackend::framesReceived, this, [&](const CanFrameList &batch) { frames += batch; });
    QVERIFY(bus.open(ConnectParams(), nullptr));
    QFile writer(fifo);
    QVERIFY(writer.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    QTest::qWait(100);
    CanFrame request;
    request.id = 0x601;
    request.dlc = 8;
    QVERIFY(bus.write(request, nullptr));
    QTest::qWait(30);
    writer.write("(1733600000.000000) can0 581#4B00100000000000 R\n(1733600000.002500) can0 581#60 R\n");
    QTRY_COMPARE(frames.size(), 3);
    QVERIFY(frames.at(0).tx);
    QCOMPARE(frames.at(1).id, quint32(0x581));
    QVERIFY2(frames.at(1).timestampUs > frames.at(0).timestampUs,
             qPrintable(QStringLiteral("Anfrage %1 µs, Antwort %2 µs").arg(frames.at(0).timestampUs).arg(frames.at(1).timestampUs)));
    QCOMPARE(frames.at(2).timestampUs - frames.at(1).timestampUs, qint64(2500));
    bus.close();
    writer.close();
#endif
}

QTEST_GUILESS_MAIN(TestPipeBackend)
#include "tst_pipebackend.moc"
