#include "commandline.h"

#include <QtTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void valueOptions_data();
    void valueOptions();
    void tab_data();
    void tab();
    void flagsAreCaseSensitiveWholeArguments();
    void automatedRunNeedsAValue();
    void plotNamesAreSplitAtCommas();
};

static QStringList args(const QString &line)
{
    return QStringList{QStringLiteral("busvista")} + line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

void TestCommandLine::valueOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("symbolFile");
    QTest::addColumn<QString>("settingsDir");

    QTest::newRow("plain") << args("--sym a.sym --settings-dir /tmp/x") << "a.sym" << "/tmp/x";
    QTest::newRow("first occurrence counts") << args("--sym a.sym --sym b.sym") << "a.sym" << "";
    QTest::newRow("last argument ignored") << args("--settings-dir d --sym") << "" << "d";
    QTest::newRow("empty value ignored") << (args("--sym") << QString() << "--sym" << "b.sym") << "" << "";
    QTest::newRow("unknown ignored") << args("--foo --sym s.sym bar") << "s.sym" << "";
    QTest::newRow("capitals ignored") << args("--SYM s.sym") << "" << "";
    QTest::newRow("prefix is no match") << args("--sym=s.sym") << "" << "";
    QTest::newRow("program name is no option") << QStringList{"--sym", "x.sym"} << "" << "";
}

void TestCommandLine::valueOptions()
{
    QFETCH(QStringList, arguments);
    const CommandLine line = CommandLine::parse(arguments);
    QTEST(line.symbolFile, "symbolFile");
    QTEST(line.settingsDir, "settingsDir");
}

void TestCommandLine::tab_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("hasTab");
    QTest::addColumn<int>("tab");

    QTest::newRow("number") << args("--tab 2") << true << 2;
    QTest::newRow("word selects first") << args("--tab Trace") << true << 0;
    QTest::newRow("out of range passes through") << args("--tab 99") << true << 99;
    QTest::newRow("hex is not decimal") << args("--tab 0x2") << true << 0;
    QTest::newRow("missing value") << args("--tab") << false << 0;
    QTest::newRow("first occurrence") << args("--tab 1 --tab 2") << true << 1;
}

void TestCommandLine::tab()
{
    QFETCH(QStringList, arguments);
    const CommandLine line = CommandLine::parse(arguments);
    QTEST(line.hasTab, "hasTab");
    QTEST(line.tab, "tab");
}

void TestCommandLine::flagsAreCaseSensitiveWholeArguments()
{
    CommandLine line = CommandLine::parse(args("--SIM --Trace --no-update-check"));
    QVERIFY(!line.sim);
    QVERIFY(!line.trace);
    QVERIFY(line.noUpdateCheck);

    line = CommandLine::parse(args("--trace --sim"));
    QVERIFY(line.sim);
    QVERIFY(line.trace);
}

void TestCommandLine::automatedRunNeedsAValue()
{
    QVERIFY(CommandLine::parse(args("--screenshot shot.png")).automated());
    QVERIFY(CommandLine::parse(args("--ui-snapshots dir")).automated());
    QVERIFY(!CommandLine::parse(args("--sim --screenshot")).automated());
}

void TestCommandLine::plotNamesAreSplitAtCommas()
{
    QCOMPARE(CommandLine::parse(args("--plot Motor.Drehzahl,,Mux[M1].Wert, --plot X.Y")).plotSignals,
             (QStringList{"Motor.Drehzahl", "Mux[M1].Wert"}));
    QVERIFY(CommandLine::parse(args("--plot")).plotSignals.isEmpty());
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
