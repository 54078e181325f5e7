// busvista-cli symcheck and decode, run as a process the way scripts use them.
#include "clirun.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString symFile = QStringLiteral(BUSVISTA_TEST_DATA "/symbols/cli.sym");

} // namespace

class TestSymbolCli : public QObject
{
    Q_OBJECT

private slots:
    void symcheckPrintsWarningsAndSummary();
    void symcheckFailures();
    void decodeFramesFromArguments();
    void decodeCandumpLinesFromInput();
    void decodeFailures();
    void symconvertBothWays();
};

void TestSymbolCli::symcheckPrintsWarningsAndSummary()
{
    const CliRun run = runCli({QStringLiteral("symcheck"), symFile});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("Zeile 14: [Engine] Bogus: Datentyp \"word\" wird ab FormatVersion 5 nicht mehr unterstützt\n"
                                     "OK: 2 Nachrichten, 1 Hinweise\n"));
    QCOMPARE(run.err, QString());
}

void TestSymbolCli::symcheckFailures()
{
    QTemporaryDir dir;
    CliRun run = runCli({QStringLiteral("symcheck"), dir.filePath(QStringLiteral("missing.sym"))});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QString());
    QVERIFY(!run.err.isEmpty());

    const QString empty = dir.filePath(QStringLiteral("empty.sym"));
    QFile file(empty);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("FormatVersion=6.0\n");
    file.close();
    run = runCli({QStringLiteral("symcheck"), empty});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, QStringLiteral("Die Datei enthält keine Symbole (Nachrichtendefinitionen).\n"));

    // An enumeration that never closes swallows the symbols: the warning
    // that names it comes before the failure.
    const QString unclosed = dir.filePath(QStringLiteral("unclosed.sym"));
    QFile broken(unclosed);
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("FormatVersion=6.0\n{ENUMS}\nenum OnOff(0=\"Aus\", 1=\"Ein\"\n{SEND}\n[A]\nID=100h\nDLC=1\n");
    broken.close();
    run = runCli({QStringLiteral("symcheck"), unclosed});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, QStringLiteral("Zeile 7: Ungültige Enum-Definition\n"
                                     "Die Datei enthält keine Symbole (Nachrichtendefinitionen).\n"));

    run = runCli({QStringLiteral("symcheck")});
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.err.contains(QStringLiteral("symcheck FILE.sym")));
}

void TestSymbolCli::symconvertBothWays()
{
    QTemporaryDir dir;
    const QString dbc = dir.filePath(QStringLiteral("cli.dbc"));
    CliRun run = runCli({QStringLiteral("symconvert"), symFile, dbc});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.startsWith(QStringLiteral("OK: 2 Nachrichten als DBC geschrieben, 1 Hinweise beim Lesen")), qPrintable(run.out));
    QVERIFY2(run.err.contains(QStringLiteral("word")), qPrintable(run.err));   // the load's warning

    // The DBC decodes the frames as the symbol file does.
    const QStringList frames = {QStringLiteral("123#E8030100"), QStringLiteral("18FEF100#3C")};
    const CliRun fromSym = runCli(QStringList({QStringLiteral("decode"), QStringLiteral("--sym"), symFile}) + frames);
    const CliRun fromDbc = runCli(QStringList({QStringLiteral("decode"), QStringLiteral("--sym"), dbc}) + frames);
    QCOMPARE(fromDbc.exitCode, 0);
    QCOMPARE(fromDbc.out, fromSym.out);

    const QString back = dir.filePath(QStringLiteral("back.SYM"));
    run = runCli({QStringLiteral("symconvert"), dbc, back});
    QCOMPARE(run.exitCode, 0);
    const CliRun fromBack = runCli(QStringList({QStringLiteral("decode"), QStringLiteral("--sym"), back}) + frames);
    QCOMPARE(fromBack.out, fromSym.out);

    run = runCli({QStringLiteral("symconvert"), symFile, dir.filePath(QStringLiteral("out.txt"))});
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.err.contains(QStringLiteral(".sym oder .dbc")));
    run = runCli({QStringLiteral("symconvert"), dir.filePath(QStringLiteral("missing.dbc")), dbc});
    QCOMPARE(run.exitCode, 1);
    run = runCli({QStringLiteral("symconvert"), symFile, dir.filePath(QStringLiteral("no/such/dir/x.dbc"))});
    QCOMPARE(run.exitCode, 1);

    // A DBC without messages has no symbol for a symbol file: refused with
    // the reason, and no file that would not load is left behind.
    const QString nodes = dir.filePath(QStringLiteral("nodes.dbc"));
    QFile file(nodes);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("VERSION \"\"\n\nNS_ :\n\nBS_:\n\nBU_: ECU1 ECU2\n");
    file.close();
    const QString empty = dir.filePath(QStringLiteral("nodes.sym"));
    run = runCli({QStringLiteral("symconvert"), nodes, empty});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("keine Botschaften")), qPrintable(run.err));
    QVERIFY(!QFile::exists(empty));
}

void TestSymbolCli::decodeFramesFromArguments()
{
    const CliRun run = runCli({QStringLiteral("decode"), QStringLiteral("--sym"), symFile, QStringLiteral("123#E8030100"),
                            QStringLiteral("18FEF100#3C"), QStringLiteral("123#R"), QStringLiteral("7FF#")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("123#E8030100\tEngine\tSpeed=1000 rpm; Run=Ein\n"
                                     "18FEF100#3C\tPgn\tTemp=20 °C\n"
                                     "123#R\tEngine\t\n"
                                     "7FF#\t\t\n"));
}

void TestSymbolCli::decodeCandumpLinesFromInput()
{
    const QByteArray input = "(1700000000.123456) can0 123#10270000\n"
                             "\n"
                             "not a frame\n"
                             "18FEF100#00\r\n"
                             "(1700000000.2) vcan1 12345#00\n"
                             "(1700000000.3) can0 7#01\n";
    const CliRun run = runCli({QStringLiteral("decode"), QStringLiteral("--sym"), symFile}, input);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("123#10270000\tEngine\tSpeed=10000 rpm; Run=Aus\n"
                                     "18FEF100#00\tPgn\tTemp=-40 °C\n"
                                     "7#01\t\t\n"));
    QCOMPARE(run.err.count(QLatin1Char('\n')), 2);
    QVERIFY(run.err.contains(QStringLiteral("Zeile 3")));
    QVERIFY(run.err.contains(QStringLiteral("Zeile 5")));
}

void TestSymbolCli::decodeFailures()
{
    QTemporaryDir dir;
    CliRun run = runCli({QStringLiteral("decode"), QStringLiteral("--sym"), dir.filePath(QStringLiteral("none.sym")),
                      QStringLiteral("123#00")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QString());
    QVERIFY(!run.err.isEmpty());

    run = runCli({QStringLiteral("decode"), QStringLiteral("123#00")});
    QCOMPARE(run.exitCode, 2);
    run = runCli({QStringLiteral("decode"), QStringLiteral("--sym"), symFile, QStringLiteral("1234#00")});
    QCOMPARE(run.exitCode, 2);
    run = runCli({QStringLiteral("decode"), QStringLiteral("--sym"), symFile, QStringLiteral("800#00")});
    QCOMPARE(run.exitCode, 2);   // beyond the 11-bit range
    run = runCli({QStringLiteral("decode"), QStringLiteral("--sym"), symFile, QStringLiteral("123#001")});
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QString());
}

QTEST_GUILESS_MAIN(TestSymbolCli)
#include "tst_symbolcli.moc"
