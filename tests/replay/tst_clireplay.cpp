// busvista-cli replay, run as a program: what reaches the bus, the figures
// it prints and its exit codes.
#include "clirun.h"
#include "tracemodel.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

Q_DECLARE_METATYPE(TraceFile::Format)

class TestCliReplay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void playsAFileOntoTheBus_data();
    void playsAFileOntoTheBus();
    void lostConnectionExitsWithOne();
    void usageErrors_data();
    void usageErrors();

private:
    QString tracePath(TraceFile::Format format);
    QTemporaryDir m_dir;
    QString m_fifo;
    QFile m_fifoHolder;   // keeps a writer on the bus input, so it never ends
};

void TestCliReplay::initTestCase()
{
#ifdef Q_OS_WIN
    QSKIP("the bus input is a named pipe of POSIX");
#else
    m_fifo = m_dir.filePath(QStringLiteral("in.fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(m_fifo).constData(), 0600), 0);
    m_fifoHolder.setFileName(m_fifo);
    QVERIFY(m_fifoHolder.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
#endif
}

// 400 frames 1 ms apart, identifiers 0x100.. counting up; every fourth sent, one status entry.
QString TestCliReplay::tracePath(TraceFile::Format format)
{
    TraceModel model;
    model.setRecording(true);
    QList<CanFrame> frames;
    for (int i = 0; i < 400; ++i) {
        CanFrame frame;
        frame.id = quint32(0x100 + i);
        frame.dlc = 1;
        frame.data[0] = quint8(i);
        frame.tx = i % 4 == 0;
        frame.timestampUs = 1000 * i;
        frames.append(frame);
    }
    CanFrame status;
    status.status = true;
    status.timestampUs = 1000 * 400;
    frames.append(status);
    model.addFrames(frames);
    const QString path = m_dir.filePath(QStringLiteral("trace.") + TraceFile::ending(format));
    QString error;
    if (!model.save(path, format, &error))
        qWarning("%s", qPrintable(error));
    return path;
}

void TestCliReplay::playsAFileOntoTheBus_data()
{
    QTest::addColumn<TraceFile::Format>("format");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QList<int>>("expected");   // frame numbers that reach the bus, in order

    QList<int> all;
    for (int i = 0; i < 400; ++i)
        all.append(i);
    QList<int> received;
    for (int i = 0; i < 400; ++i)
        if (i % 4 != 0)
            received.append(i);
    QTest::newRow("trc, everything at 10x") << TraceFile::Format::Trc << QStringList{"--speed", "10"} << all;
    QTest::newRow("blf at max, received only") << TraceFile::Format::Blf << QStringList{"--speed", "max", "--rx"}
                                               << received;
    QTest::newRow("asc, window and filter, twice")
        << TraceFile::Format::Asc
        << QStringList{"--speed", "max", "--from", "0.1", "--to", "0.104", "--filter", "100-1FF,203", "--loop", "2"}
        << QList<int>{100, 101, 102, 103, 104, 100, 101, 102, 103, 104};
    QList<int> sentOutside{0};
    for (int i = 256; i < 400; i += 4)
        sentOutside.append(i);
    QTest::newRow("log, except and sent only") << TraceFile::Format::Log
                                               << QStringList{"--speed", "max", "--tx", "--except", "104-1FF"}
                                               << sentOutside;
}

void TestCliReplay::playsAFileOntoTheBus()
{
    QFETCH(TraceFile::Format, format);
    QFETCH(QStringList, options);
    QFETCH(QList<int>, expected);
    if (m_fifo.isEmpty())
        QSKIP("no bus input");

    const QString out = m_dir.filePath(QStringLiteral("out.log"));
    QFile::remove(out);
    const CliRun run = runCli(QStringList{"replay", tracePath(format), "--pipe", m_fifo, out} + options);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains(QStringLiteral("Gesendet: %1\n").arg(expected.size())), qPrintable(run.out));
    QVERIFY(run.out.contains(QStringLiteral("Fehlgeschlagen: 0\n")));
    QCOMPARE(run.out.contains(QStringLiteral("Größte Verspätung: ")), !options.contains(QStringLiteral("max")));

    QFile written(out);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QList<int> numbers;
    while (!written.atEnd()) {
        const QByteArray line = written.readLine().trimmed();
        const int hash = int(line.indexOf('#'));
        const QByteArray id = line.mid(line.lastIndexOf(' ') + 1, hash - line.lastIndexOf(' ') - 1);
        numbers.append(int(id.toUInt(nullptr, 16)) - 0x100);
        QCOMPARE(line.mid(hash + 1).toUInt(nullptr, 16), uint(quint8(numbers.last())));
    }
    QCOMPARE(numbers, expected);
}

void TestCliReplay::lostConnectionExitsWithOne()
{
    // An input that ends at once: the bus is gone while the trace still plays.
    const QString empty = m_dir.filePath(QStringLiteral("empty.log"));
    QFile file(empty);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const CliRun run = runCli(QStringList{"replay", tracePath(TraceFile::Format::Csv), "--pipe", empty,
                                          m_dir.filePath(QStringLiteral("lost.log")), "--speed", "0.1"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith(QStringLiteral("Verbindung verloren: ")), qPrintable(run.err));
    QVERIFY(run.out.contains(QStringLiteral("Gesendet: ")));
}

void TestCliReplay::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("speed too high") << QStringList{"--speed", "12"} << 2 << "Ungültige Geschwindigkeit: 12";
    QTest::newRow("negative loop") << QStringList{"--loop", "-1"} << 2 << "Ungültige Anzahl der Durchläufe: -1";
    QTest::newRow("from behind to") << QStringList{"--from", "5", "--to", "1"} << 2 << "--from liegt hinter --to.";
    QTest::newRow("two directions") << QStringList{"--rx", "--tx"} << 2 << "Nur eine von --rx, --tx und --both.";
    QTest::newRow("filter and except") << QStringList{"--filter", "100", "--except", "200"} << 2
                                       << "--filter und --except schließen einander aus.";
    QTest::newRow("bad filter") << QStringList{"--filter", "1FF-100"} << 2 << "Anfang ist größer als Ende";
}

void TestCliReplay::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const CliRun run = runCli(QStringList{"replay", tracePath(TraceFile::Format::Csv), "--sim"} + args);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));

    const CliRun missing = runCli({"replay", m_dir.filePath(QStringLiteral("fehlt.trc")), "--sim"});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY(!missing.err.isEmpty());
}

QTEST_GUILESS_MAIN(TestCliReplay)
#include "tst_clireplay.moc"
