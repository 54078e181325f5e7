// busvista-cli on SocketCAN: the interface list, reception, the German
// messages of a failed open, option checks, a record that keeps what it
// read when the interface goes down, and a replay at full speed through the
// interface's transmit queue of 10 frames. The tool runs with the stand-in kernel
// preloaded, set up through its environment variables.
#include "clirun.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString StandIn = QStringLiteral(SOCKETCAN_STANDIN);

// Runs the tool with the stand-in: interfaces can0 (up, 500 kBit/s, error
// active), can1 (down), vcan0 (up), plus `environment` (name=value each).
CliRun runWith(const QTemporaryDir &dir, const QStringList &environment, const QStringList &args)
{
    const QString sysfs = QDir(dir.path()).filePath(QStringLiteral("net"));
    QStringList variables {QStringLiteral("SOCKETCAN_STANDIN_SYSFS=") + sysfs,
                           QStringLiteral("BUSVISTA_SYSFS_NET=") + sysfs,
                           QStringLiteral("SOCKETCAN_STANDIN_IFACES=can0:1:500000:0,can1:0:0:-1,vcan0:1:0:-1"),
                           QStringLiteral("LD_PRELOAD=") + StandIn};
    // A sanitizer runtime wants to come first; the stand-in still has to win.
    QString asan = qEnvironmentVariable("ASAN_OPTIONS");
    variables << QStringLiteral("ASAN_OPTIONS=") + asan + (asan.isEmpty() ? "" : ":") + "verify_asan_link_order=0";
    variables << environment;
    QStringList names;
    for (const QString &entry : std::as_const(variables)) {
        const int equals = int(entry.indexOf(QLatin1Char('=')));
        names << entry.left(equals);
    }
    QMap<QString, QByteArray> saved;
    for (const QString &name : std::as_const(names)) {
        if (qEnvironmentVariableIsSet(name.toLatin1().constData()))
            saved[name] = qgetenv(name.toLatin1().constData());
    }
    for (const QString &entry : std::as_const(variables)) {
        const int equals = int(entry.indexOf(QLatin1Char('=')));
        qputenv(entry.left(equals).toLatin1().constData(), entry.mid(equals + 1).toUtf8());
    }
    const CliRun run = runCli(args);
    for (const QString &name : std::as_const(names)) {
        if (saved.contains(name))
            qputenv(name.toLatin1().constData(), saved.value(name));
        else
            qunsetenv(name.toLatin1().constData());
    }
    return run;
}

} // namespace

class TestCliSocketCan : public QObject
{
    Q_OBJECT

private slots:
    void interfacesListed_data();
    void interfacesListed();
    void channelsListWhatThereIsAndNameWhatIsMissing_data();
    void channelsListWhatThereIsAndNameWhatIsMissing();
    void dumpReceives();
    void openFailures_data();
    void openFailures();
    void recordKeepsWhatItReadWhenTheBusIsLost();
    void replayAtFullSpeedSendsEveryFrame();
};

void TestCliSocketCan::interfacesListed_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("three") << QStringList() << 0
                           << QStringLiteral("can0\taktiv, 500 kBit/s, Error active\n"
                                             "can1\tinaktiv\n"
                                             "vcan0\taktiv, virtuell\n")
                           << QString();
    QTest::newRow("none") << QStringList {"SOCKETCAN_STANDIN_IFACES="} << 1 << QString()
                          << QStringLiteral("Keine SocketCAN-Schnittstelle gefunden");
    QTest::newRow("no AF_CAN") << QStringList {"SOCKETCAN_STANDIN_IFACES=", "SOCKETCAN_STANDIN_AVAILABLE=0"} << 1
                               << QString() << QStringLiteral("SocketCAN ist auf diesem System nicht verfügbar");
}

void TestCliSocketCan::interfacesListed()
{
    QFETCH(QStringList, environment);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QTemporaryDir dir;
    const CliRun run = runWith(dir, environment, {"channels", "--socketcan"});
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, out);
    QVERIFY2(err.isEmpty() ? run.err.isEmpty() : run.err.startsWith(err), qPrintable(run.err));
}

void TestCliSocketCan::channelsListWhatThereIsAndNameWhatIsMissing_data()
{
    const QString pcanLines = QStringLiteral("0x51\tPCAN-USB 1   \u2014   PCAN-USB, Geräte-ID 0\n"
                                             "0x52\tPCAN-USB 2   \u2014   PCAN-USB FD, Geräte-ID 5, FD, belegt\n");
    const QString socketCanLines = QStringLiteral("can0\taktiv, 500 kBit/s, Error active\n"
                                                  "can1\tinaktiv\n"
                                                  "vcan0\taktiv, virtuell\n");
    const QString noLibrary = QStringLiteral("Datei nicht gefunden: /nonexistent/x.so");
    const QString noInterface = QStringLiteral("Keine SocketCAN-Schnittstelle gefunden");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("dll");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QStringList>("missing");   // the first words of each line on stderr
    QTest::newRow("both") << QStringList() << QStringLiteral(PCAN_STANDIN) << 0 << pcanLines + socketCanLines
                          << QStringList();
    QTest::newRow("no PCAN library") << QStringList() << QStringLiteral("/nonexistent/x.so") << 0 << socketCanLines
                                     << QStringList {noLibrary};
    QTest::newRow("no interface") << QStringList {"SOCKETCAN_STANDIN_IFACES="} << QStringLiteral(PCAN_STANDIN) << 0
                                  << pcanLines << QStringList {noInterface};
    QTest::newRow("nothing") << QStringList {"SOCKETCAN_STANDIN_IFACES="} << QStringLiteral("/nonexistent/x.so") << 1
                             << QString() << QStringList {noLibrary, noInterface};
}

void TestCliSocketCan::channelsListWhatThereIsAndNameWhatIsMissing()
{
    QFETCH(QStringList, environment);
    QFETCH(QString, dll);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QStringList, missing);
    QTemporaryDir dir;
    const CliRun run = runWith(dir, environment, {"channels", "--dll", dll});
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, out);
    const QStringList lines = run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), missing.size());
    for (int i = 0; i < missing.size(); ++i)
        QVERIFY2(lines.at(i).startsWith(missing.at(i)), qPrintable(run.err));
}

void TestCliSocketCan::dumpReceives()
{
    QTemporaryDir dir;
    const CliRun run = runWith(dir, {"SOCKETCAN_STANDIN_FEED=can0:3"},
                               {"dump", "--socketcan", "can0", "--seconds", "0.3", "--summary"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.startsWith(QStringLiteral("123h\t3")), qPrintable(run.out + run.err));
}

void TestCliSocketCan::openFailures_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("down") << QStringList {"dump", "--socketcan", "can1", "--seconds", "0"} << 1
                          << QStringLiteral("ip link set can1 up type can bitrate 500000");
    QTest::newRow("down, --btr 011C") << QStringList {"dump", "--socketcan", "can1", "--btr", "011C", "--seconds", "0"}
                                      << 1 << QStringLiteral("ip link set can1 up type can bitrate 250000");
    QTest::newRow("down, --bitrate 125") << QStringList {"dump", "--socketcan", "can1", "--bitrate", "125", "--seconds", "0"}
                                         << 1 << QStringLiteral("ip link set can1 up type can bitrate 125000");
    QTest::newRow("unknown") << QStringList {"dump", "--socketcan", "can7", "--seconds", "0"} << 1
                             << QStringLiteral("Die CAN-Schnittstelle can7 gibt es nicht.");
    QTest::newRow("--dll") << QStringList {"dump", "--socketcan", "can0", "--dll", "x.so", "--seconds", "0"} << 2
                           << QStringLiteral("--dll gilt nicht für --socketcan.");
    QTest::newRow("--error-frames on sim") << QStringList {"dump", "--sim", "--error-frames", "--seconds", "0"} << 2
                                           << QStringLiteral("--error-frames gilt nur für --pcan und --socketcan.");
    QTest::newRow("two buses") << QStringList {"dump", "--socketcan", "can0", "--sim", "--seconds", "0"} << 2
                               << QStringLiteral("Nur ein Bus kann gewählt werden.");
}

void TestCliSocketCan::openFailures()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const CliRun run = runWith(dir, {}, args);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
}

void TestCliSocketCan::recordKeepsWhatItReadWhenTheBusIsLost()
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("lost.trc"));
    QElapsedTimer timer;
    timer.start();
    const CliRun run = runWith(dir, {"SOCKETCAN_STANDIN_FEED=can0:1000:down"},
                               {"record", "--socketcan", "can0", "--error-frames", "--seconds", "30", "--out", out});
    // Ends at the loss, not after 30 s.
    QVERIFY(timer.elapsed() < 20000);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("Verbindung zum Bus verloren (Adapter getrennt)")), qPrintable(run.err));
    QVERIFY2(run.out.contains(QStringLiteral("Gespeichert: 1000")), qPrintable(run.out));
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    int frames = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (!line.startsWith(';') && line.contains("123"))
            ++frames;
    }
    QCOMPARE(frames, 1000);
}

void TestCliSocketCan::replayAtFullSpeedSendsEveryFrame()
{
    QTemporaryDir dir;
    const QString trace = dir.filePath(QStringLiteral("burst.log"));
    QFile file(trace);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < 300; ++i)
        file.write(QStringLiteral("(1.%1) can0 321#%2\n").arg(i, 6, 10, QLatin1Char('0')).arg(i % 256, 2, 16, QLatin1Char('0')).toLatin1());
    file.close();
    // 500 kBit/s: the queue takes about 4000 frames a second, far fewer than "max" hands it.
    const CliRun run = runWith(dir, {}, {"replay", trace, "--socketcan", "can0", "--speed", "max"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
    QVERIFY2(run.out.contains(QStringLiteral("Gesendet: 300\n")), qPrintable(run.out + run.err));
    QVERIFY2(run.out.contains(QStringLiteral("Fehlgeschlagen: 0\n")), qPrintable(run.out + run.err));
}

QTEST_GUILESS_MAIN(TestCliSocketCan)
#include "tst_clisocketcan.moc"
