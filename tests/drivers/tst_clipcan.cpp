#include "clirun.h"
#include "pcanstandin.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

namespace {

// busvista-cli with the stand-in set up through its environment variables.
CliRun runWithStandIn(const QStringList &args, const QString &variable = QString(), const QString &value = QString())
{
    qputenv("PCANBASIC_STANDIN_TRAFFIC", "5");
    qunsetenv("PCANBASIC_STANDIN_FORCE");
    qunsetenv("PCANBASIC_STANDIN_REFUSE");
    if (!variable.isEmpty())
        qputenv(qPrintable(variable), value.toUtf8());
    return runCli(args);
}

QStringList pcan(const QStringList &more = {})
{
    return QStringList {"--pcan", "0x51", "--dll", PcanStandIn::path()} + more;
}

} // namespace

// busvista-cli on the PCAN-Basic stand-in.
class TestCliPcan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void dumpReceivesInOrder();
    void recordWritesTheTrace();
    void sendReachesTheBus();
    void lastFramesLeaveBeforeTheBusCloses_data();
    void lastFramesLeaveBeforeTheBusCloses();
    void channelsAreListed();
    void driverFailuresExitWithOne_data();
    void driverFailuresExitWithOne();
    void badChannelIsAUsageError();
    void defaultSearchNamesTheLinuxLibrary();

private:
    QTemporaryDir m_noInterfaces;
};

void TestCliPcan::initTestCase()
{
    // No SocketCAN interface of this machine gets into the channel lists.
    QVERIFY(m_noInterfaces.isValid());
    qputenv("BUSVISTA_SYSFS_NET", QFile::encodeName(m_noInterfaces.path()));
}

void TestCliPcan::dumpReceivesInOrder()
{
    const CliRun run = runWithStandIn(QStringList {"dump"} + pcan({"--btr", "011C", "--seconds", "0.3"}));
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.out.trimmed().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 5);
    for (int i = 0; i < 5; ++i) {
        const QStringList fields = lines[i].split(QLatin1Char('\t'));
        QCOMPARE(fields.value(1), QStringLiteral("Rx"));
        QCOMPARE(fields.value(2), QStringLiteral("100h"));
        QCOMPARE(fields.value(5), QStringLiteral("%1 00 00 00 00 00 00 00").arg(i, 2, 10, QLatin1Char('0')));
    }
    // Driver spacing of 1 ms is kept.
    const double firstMs = lines[0].section(QLatin1Char('\t'), 0, 0).toDouble();
    const double lastMs = lines[4].section(QLatin1Char('\t'), 0, 0).toDouble();
    QCOMPARE(qRound((lastMs - firstMs) * 1000), 4000);
}

void TestCliPcan::recordWritesTheTrace()
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("pcan.csv"));
    const CliRun run = runWithStandIn(QStringList {"record"} + pcan({"--listen-only", "--seconds", "0.3", "--out", out}));
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains(QStringLiteral("Gespeichert: 5")), qPrintable(run.out + run.err));
    QVERIFY(QFile::exists(out));
}

void TestCliPcan::sendReachesTheBus()
{
    QTemporaryDir dir;
    const QString list = dir.filePath(QStringLiteral("list.cxt"));
    QFile file(list);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"([{"id": "123", "dlc": 2, "data": [1, 2]}])");
    file.close();
    const CliRun run = runWithStandIn(QStringList {"send"} + pcan({"--list", list, "--seconds", "0.2"}));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.trimmed(), QStringLiteral("123h\t1"));
}

void TestCliPcan::lastFramesLeaveBeforeTheBusCloses_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("lastFrame");
    QTest::newRow("NMT command") << QStringList {"nmt", "stop", "5"} << "0 02 05";
    // Nobody answers: the time-out's abort is the last frame.
    QTest::newRow("abort after a time-out") << QStringList {"sdo", "read", "5", "1000:00", "--timeout", "60"}
                                            << "605 80 00 10 00 00 00 04 05";
}

// A controller that is still busy sends a frame some time after the write;
// closing the channel before then would drop it. The tool waits for the echo.
void TestCliPcan::lastFramesLeaveBeforeTheBusCloses()
{
    QFETCH(QStringList, args);
    QFETCH(QString, lastFrame);
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("sent.txt"));
    qputenv("PCANBASIC_STANDIN_SENTLOG", log.toLocal8Bit());
    QStringList command {args.takeFirst()};
    command << QStringList {"--pcan", "0x51", "--dll", PcanStandIn::path()} << args;
    const CliRun run = runWithStandIn(command, QStringLiteral("PCANBASIC_STANDIN_TXDELAY"), QStringLiteral("100"));
    qunsetenv("PCANBASIC_STANDIN_TXDELAY");
    qunsetenv("PCANBASIC_STANDIN_SENTLOG");
    QVERIFY2(run.exitCode >= 0, qPrintable(run.err));
    QFile file(log);
    QVERIFY2(file.open(QIODevice::ReadOnly), "nothing left the controller");
    const QStringList sent = QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(!sent.isEmpty());
    QCOMPARE(sent.last(), lastFrame);
}

void TestCliPcan::channelsAreListed()
{
    const CliRun run = runWithStandIn({"channels", "--dll", PcanStandIn::path()});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("0x51\tPCAN-USB 1   \u2014   PCAN-USB, Geräte-ID 0\n"
                                     "0x52\tPCAN-USB 2   \u2014   PCAN-USB FD, Geräte-ID 5, FD, belegt\n"));
}

void TestCliPcan::driverFailuresExitWithOne_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("message");
    QTest::newRow("library missing") << QStringList {"dump", "--pcan", "0x51", "--dll", "/nonexistent/x.so", "--seconds", "0"}
                                     << "" << "" << "Datei nicht gefunden: /nonexistent/x.so";
    QTest::newRow("export missing")
        << QStringList {"dump", "--pcan", "81", "--dll", PcanStandIn::pathWithout("CAN_SetValue"), "--seconds", "0"} << ""
        << "" << "libpcanbasic.so ist unvollständig, fehlende Funktionen: CAN_SetValue";
    QTest::newRow("initialise") << (QStringList {"record"} + pcan({"--seconds", "0", "--out", "/tmp/never.trc"}))
                                << "PCANBASIC_STANDIN_FORCE" << "CAN_Initialize=1400"
                                << "PCAN-USB 1 konnte nicht initialisiert werden:\nUngültiges Hardware-Handle (0x1400)";
    QTest::newRow("listen-only") << (QStringList {"dump"} + pcan({"--listen-only", "--seconds", "0"}))
                                 << "PCANBASIC_STANDIN_REFUSE" << "listenOnly"
                                 << "Listen-Only-Modus konnte nicht aktiviert werden:\nUngültiger Parametertyp (0x4000)";
    QTest::newRow("no channels") << QStringList {"channels", "--dll", PcanStandIn::path()}
                                 << "PCANBASIC_STANDIN_FORCE" << "CAN_GetValue=4000"
                                 << "Keine PCAN-Hardware gefunden (PCAN-USB/-PCI/-LAN angeschlossen und "
                                    "PEAK-Gerätetreiber installiert?).";
}

void TestCliPcan::driverFailuresExitWithOne()
{
    QFETCH(QStringList, args);
    QFETCH(QString, variable);
    QFETCH(QString, value);
    QFETCH(QString, message);
    const CliRun run = runWithStandIn(args, variable, value);
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.out.isEmpty());
    if (args.first() != QLatin1String("channels")) {
        QCOMPARE(run.err.trimmed(), message);
        return;
    }
    // The channel list also names the SocketCAN interfaces it did not find.
    QVERIFY2(run.err.startsWith(message + QLatin1Char('\n')), qPrintable(run.err));
    const QString rest = run.err.mid(message.size()).trimmed();
    QVERIFY2(rest.isEmpty() || rest.contains(QLatin1String("SocketCAN")), qPrintable(run.err));
}

void TestCliPcan::badChannelIsAUsageError()
{
    for (const char *channel : {"0x10000", "0", "PCAN-USB1", "0x"}) {
        const CliRun run = runWithStandIn({"dump", "--pcan", channel, "--seconds", "0"});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.startsWith(QStringLiteral("Ungültiger PCAN-Kanal: %1").arg(channel)), qPrintable(run.err));
    }
    const CliRun both = runWithStandIn({"dump", "--pcan", "0x51", "--sim", "--seconds", "0"});
    QCOMPARE(both.exitCode, 2);
    QVERIFY(both.err.startsWith(QStringLiteral("Nur ein Bus kann gewählt werden.")));
}

// Nothing installed: the message names the file and places searched here,
// not the Windows DLL.
void TestCliPcan::defaultSearchNamesTheLinuxLibrary()
{
    qunsetenv("LD_LIBRARY_PATH");
    const CliRun run = runWithStandIn({"channels"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith(QStringLiteral("libpcanbasic.so konnte nicht geladen werden:\n")), qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("\n\nIst PCAN-Basic für Linux installiert? Gesucht wird in "
                                             "LD_LIBRARY_PATH, /usr/local/lib, /usr/lib.\n")),
             qPrintable(run.err));
    QVERIFY2(!run.err.contains(QLatin1String("PCANBasic.dll")), qPrintable(run.err));
}

QTEST_GUILESS_MAIN(TestCliPcan)
#include "tst_clipcan.moc"
