#include "clirun.h"
#include "plottestutil.h"

#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

// busvista-cli plot: the recorder's points of a trace file as CSV or PNG.
class TestCliPlot : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void csvHoldsEveryPointReadingBackExactly();
    void pngIsDrawnByTheScene();
    void unknownSignalsAreNamed();
    void missingOptionsShowTheUsage();
    void windowAndStatistics_data();
    void windowAndStatistics();
    void otherTraceFormatsAreReadByTheirContent_data();
    void otherTraceFormatsAreReadByTheirContent();

private:
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

    QTemporaryDir m_dir;
};

void TestCliPlot::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // As from cron or ssh: no session, so no runtime directory is given.
    qunsetenv("XDG_RUNTIME_DIR");
    QFile sym(path("plot.sym"));
    QVERIFY(sym.open(QIODevice::WriteOnly));
    sym.write(plotSymText());
    sym.write("\n[Skala]\nID=300h\nLen=2\nVar=Anteil unsigned 0,16 /f:0.1 /u:%\n");
    sym.close();

    QFile trc(path("in.trc"));
    QVERIFY(trc.open(QIODevice::WriteOnly));
    trc.write(";$FILEVERSION=1.1\n"
              ";$STARTTIME=46362.7500000000\n"
              "     1)      1000.0  Rx        0100  8  D2 04 2A 00 00 00 C0 3F\n"
              "     2)      1100.0  Rx        0300  2  D2 04\n"
              "     3)      1250.5  Rx        0100  8  2E 16 28 00 CD CC 4C 3E\n"
              "     4)      1300.0  Rx        0100  8  2E 16 28 00 00 00 C0 7F\n"
              "     5)      1400.0  Rx        0300  2  07 00\n");
}

void TestCliPlot::csvHoldsEveryPointReadingBackExactly()
{
    const CliRun run = runCli({"plot", path("in.trc"), "--sym", path("plot.sym"), "--signal", "Motor.Drehzahl",
                               "--signal", "Skala.Anteil", "--signal", "Motor.Leistung", "--out", path("out.csv")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(run.err, QString());
    QFile csv(path("out.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    QCOMPARE(lines.value(0), QByteArray("time_s;signal;value"));
    QCOMPARE(lines.value(1), QByteArray("0.000000;Motor.Drehzahl;1234"));
    QCOMPARE(lines.value(2), QByteArray("0.250500;Motor.Drehzahl;5678"));
    QCOMPARE(lines.value(3), QByteArray("0.300000;Motor.Drehzahl;5678"));
    QCOMPARE(lines.value(4).left(22), QByteArray("0.100000;Skala.Anteil;"));
    QCOMPARE(lines.value(5).left(22), QByteArray("0.400000;Skala.Anteil;"));
    // Values in the shortest text that reads back as the recorder's double.
    const auto db = loadSymbols(QByteArray(plotSymText()) + "\n[Skala]\nID=300h\nLen=2\nVar=Anteil unsigned 0,16 /f:0.1\n");
    CanFrame scaled;
    scaled.id = 0x300;
    scaled.dlc = 2;
    scaled.data[0] = 0xD2;
    scaled.data[1] = 0x04;
    const double expected = db->physicalValue(db->find(scaled)->variables.at(0), scaled);
    QCOMPARE(lines.value(4).mid(22).toDouble(), expected);
    QCOMPARE(lines.value(4).mid(22), QByteArray::number(expected, 'g', QLocale::FloatingPointShortest));
    // Float power: 1.5 and 0.2f; the NaN of frame 4 is no point.
    QCOMPARE(lines.value(6), QByteArray("0.000000;Motor.Leistung;1.5"));
    QCOMPARE(lines.value(7).left(24), QByteArray("0.250500;Motor.Leistung;"));
    QCOMPARE(lines.value(7).mid(24).toDouble(), double(0.2f));
    QCOMPARE(lines.value(8), QByteArray());
    QVERIFY(run.out.contains(QStringLiteral("5 Nachrichten, 7 Werte")));
}

void TestCliPlot::pngIsDrawnByTheScene()
{
    const CliRun run = runCli({"plot", path("in.trc"), "--sym", path("plot.sym"), "--signal", "Motor.Drehzahl",
                               "--signal", "Motor.Temp", "--out", path("out.png")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(run.err, QString());   // nothing from Qt about its runtime directory
    QImageReader reader(path("out.png"));
    QCOMPARE(reader.format(), QByteArray("png"));
    const QImage image = reader.read();
    QCOMPARE(image.width(), 1200);
    QVERIFY(image.height() > 600);
    // The first series colour is drawn in the chart, above the legend.
    bool blue = false;
    for (int y = 0; y < 600 && !blue; ++y) {
        for (int x = 0; x < image.width() && !blue; ++x)
            blue = image.pixelColor(x, y) == QColor("#1f77b4");
    }
    QVERIFY(blue);
}

void TestCliPlot::unknownSignalsAreNamed()
{
    const CliRun run = runCli({"plot", path("in.trc"), "--sym", path("plot.sym"), "--signal", "Motor.Drehzahl",
                               "--signal", "Motor.Name", "--signal", "Gibt.Es", "--out", path("none.csv")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("Unbekannte Signale")), qPrintable(run.err));
    QVERIFY(run.err.contains(QStringLiteral("Motor.Name, Gibt.Es")));
    QVERIFY(!QFile::exists(path("none.csv")));
}

void TestCliPlot::missingOptionsShowTheUsage()
{
    QCOMPARE(runCli({"plot", path("in.trc"), "--sym", path("plot.sym"), "--out", path("x.csv")}).exitCode, 2);
    QCOMPARE(runCli({"plot", path("in.trc"), "--sym", path("plot.sym"), "--signal", "Motor.Drehzahl", "--out",
                     path("x.txt")}).exitCode, 2);
    const CliRun missing = runCli({"plot", path("nix.trc"), "--sym", path("plot.sym"), "--signal", "Motor.Drehzahl",
                                   "--out", path("x.csv")});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY(!missing.err.isEmpty());
}

void TestCliPlot::windowAndStatistics_data()
{
    QTest::addColumn<QStringList>("window");
    QTest::addColumn<QStringList>("statistics");
    QTest::addColumn<int>("csvLines");
    QTest::newRow("everything") << QStringList() << QStringList{"Motor.Drehzahl;3;1234;5678;4196.666666666667;1234;5678"} << 3;
    QTest::newRow("from and to, decimal comma")
        << QStringList{"--from", "0,2", "--to", "0.3"}
        << QStringList{"Motor.Drehzahl;2;5678;5678;5678;5678;5678", "Skala.Anteil;0;;;;;"} << 2;
    QTest::newRow("from only") << QStringList{"--from", "0.26"} << QStringList{"Motor.Drehzahl;1;5678;5678;5678;5678;5678"} << 1;
    QTest::newRow("to only") << QStringList{"--to", "0.1"} << QStringList{"Motor.Drehzahl;1;1234;1234;1234;1234;1234"} << 1;
}

void TestCliPlot::windowAndStatistics()
{
    QFETCH(QStringList, window);
    QFETCH(QStringList, statistics);
    QFETCH(int, csvLines);
    QFile::remove(path("window.csv"));
    const CliRun run = runCli(QStringList{"plot", path("in.trc"), "--sym", path("plot.sym"), "--signal", "Motor.Drehzahl",
                                          "--signal", "Skala.Anteil", "--stats", "--out", path("window.csv")}
                              + window);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY(run.out.contains(QStringLiteral("signal;count;min;max;mean;first;last\n")));
    for (const QString &line : statistics)
        QVERIFY2(run.out.contains(line + QLatin1Char('\n')), qPrintable(run.out));
    QFile csv(path("window.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    QCOMPARE(int(std::count_if(lines.cbegin(), lines.cend(),
                               [](const QByteArray &line) { return line.contains("Motor.Drehzahl"); })),
             csvLines);
}

void TestCliPlot::otherTraceFormatsAreReadByTheirContent_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("ASC") << "in.asc"
                         << QByteArray("date Sam Sep 30 15:06:13.191 2017\nbase hex  timestamps absolute\n"
                                       "Begin Triggerblock Sam Sep 30 15:06:13.191 2017\n"
                                       "   1.000000 1  100             Rx   d 8 D2 04 2A 00 00 00 C0 3F\n"
                                       "   1.250500 1  100             Rx   d 8 2E 16 28 00 CD CC 4C 3E\n"
                                       "End TriggerBlock\n");
    QTest::newRow("candump log without its ending") << "in.txt"
                                                    << QByteArray("(1733600001.000000) can0 100#D2042A000000C03F\n"
                                                                  "(1733600001.250500) can0 100#2E162800CDCC4C3E\n");
}

void TestCliPlot::otherTraceFormatsAreReadByTheirContent()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFile file(m_dir.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    const CliRun run = runCli({"plot", file.fileName(), "--sym", path("plot.sym"), "--signal", "Motor.Drehzahl", "--stats"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains(QStringLiteral("Motor.Drehzahl;2;1234;5678;3456;1234;5678")), qPrintable(run.out));
}

QTEST_GUILESS_MAIN(TestCliPlot)
#include "tst_cliplot.moc"
