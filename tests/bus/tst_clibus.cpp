#include "busvistaversion.h"
#include "clirun.h"

#include <QTest>

// The bus selection shared by the subcommands that open a bus, and the help
// of every subcommand, through the real busvista-cli.
class TestCliBus : public QObject
{
    Q_OBJECT

private slots:
    void everyCommandAnswersHelp_data();
    void everyCommandAnswersHelp();
    void badBusSelectionIsAUsageError_data();
    void badBusSelectionIsAUsageError();
    void versionComesFromTheBuild();
};

void TestCliBus::everyCommandAnswersHelp_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("usage");
    QTest::addColumn<bool>("bus");
    QTest::newRow("dump") << QStringList {"dump", "--help"} << "dump BUS --seconds S" << true;
    QTest::newRow("record, -h among others") << QStringList {"record", "--sim", "-h", "--bogus"} << "record BUS" << true;
    QTest::newRow("send") << QStringList {"send", "--help"} << "send BUS --list" << true;
    QTest::newRow("convert") << QStringList {"convert", "--help"} << "convert EINGABE AUSGABE" << false;
    QTest::newRow("symcheck") << QStringList {"symcheck", "--help"} << "symcheck FILE.sym" << false;
    QTest::newRow("decode") << QStringList {"decode", "--help"} << "decode --sym" << false;
    QTest::newRow("no command") << QStringList {"--help"} << "busvista-cli BEFEHL" << false;
}

void TestCliBus::everyCommandAnswersHelp()
{
    QFETCH(QStringList, args);
    QFETCH(QString, usage);
    QFETCH(bool, bus);
    const CliRun run = runCli(args);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.err.isEmpty());
    QVERIFY2(run.out.startsWith(QStringLiteral("Aufruf: busvista-cli ")), qPrintable(run.out));
    QVERIFY2(run.out.contains(usage), qPrintable(run.out));
    QCOMPARE(run.out.contains(QLatin1String("\n  --sim ")), bus);
}

void TestCliBus::badBusSelectionIsAUsageError_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("no bus") << QStringList {"dump", "--seconds", "0"} << "Kein Bus gewählt.";
    QTest::newRow("--sim with --dll") << QStringList {"dump", "--sim", "--dll", "x.dll", "--seconds", "0"}
                                     << "--dll, --bitrate, --btr und --listen-only gelten nicht für --sim.";
    QTest::newRow("--sim with --listen-only") << QStringList {"record", "--sim", "--listen-only", "--seconds", "0", "--out", "x.trc"}
                                              << "--dll, --bitrate, --btr und --listen-only gelten nicht für --sim.";
    QTest::newRow("--btr not hex") << QStringList {"send", "--sim", "--btr", "12G4", "--list", "a.cxt", "--seconds", "0"}
                                   << "Ungültiger BTR0/BTR1-Wert: 12G4 (1 bis FFFF hexadezimal)";
    QTest::newRow("--btr zero") << QStringList {"dump", "--btr", "0", "--sim", "--seconds", "0"}
                                << "Ungültiger BTR0/BTR1-Wert: 0 (1 bis FFFF hexadezimal)";
    QTest::newRow("--btr too wide") << QStringList {"dump", "--btr", "0x10000", "--sim", "--seconds", "0"}
                                    << "Ungültiger BTR0/BTR1-Wert: 0x10000 (1 bis FFFF hexadezimal)";
    QTest::newRow("--sim with --bitrate") << QStringList {"dump", "--sim", "--bitrate", "500", "--seconds", "0"}
                                         << "--dll, --bitrate, --btr und --listen-only gelten nicht für --sim.";
    QTest::newRow("--bitrate not standard")
        << QStringList {"dump", "--pcan", "0x51", "--bitrate", "499", "--seconds", "0"}
        << "Keine Standard-Bitrate: 499 kBit/s (möglich: 1000, 800, 500, 250, 125, 100, 95,238, 83,333, 50, 47,619, "
           "33,333, 20, 10, 5; andere mit --btr HEX)";
    QTest::newRow("--bitrate and --btr") << QStringList {"send", "--pcan", "0x51", "--btr", "001C", "--bitrate", "500",
                                                         "--list", "a.cxt"}
                                         << "Die Bitrate nur einmal angeben: --btr oder --bitrate.";
    QTest::newRow("--bitrate last") << QStringList {"dump", "--pcan", "0x51", "--bitrate"} << "--bitrate braucht einen Wert.";
    QTest::newRow("--dll last") << QStringList {"dump", "--sim", "--seconds", "0", "--dll"} << "--dll braucht einen Wert.";
}

void TestCliBus::badBusSelectionIsAUsageError()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const CliRun run = runCli(args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty());
    const QStringList lines = run.err.split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0), message);
    QVERIFY2(lines.value(1).startsWith(QStringLiteral("Aufruf: busvista-cli %1 BUS").arg(args.first())), qPrintable(run.err));
    QVERIFY(lines.value(2).startsWith(QStringLiteral("  BUS = --sim")));
}

void TestCliBus::versionComesFromTheBuild()
{
    const CliRun run = runCli({QStringLiteral("--version")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("busvista-cli " BUSVISTA_VERSION "\n"));
    QVERIFY(run.err.isEmpty());
    const CliRun help = runCli({QStringLiteral("--help")});
    QVERIFY2(help.out.contains(QLatin1String("busvista-cli --help | --version")), qPrintable(help.out));
}

QTEST_GUILESS_MAIN(TestCliBus)
#include "tst_clibus.moc"
