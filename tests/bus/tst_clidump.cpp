#include <QMap>
#include <QProcess>
#include <QTest>

// Runs the real busvista-cli binary on the simulated bus.
class TestCliDump : public QObject
{
    Q_OBJECT

private slots:
    void bootUpFrameComesFirst();
    void summaryShowsThePeriods();
    void badArgumentsExitWithTwo_data();
    void badArgumentsExitWithTwo();

private:
    static bool run(const QStringList &args, QByteArray *out, QByteArray *err, int *exitCode);
};

bool TestCliDump::run(const QStringList &args, QByteArray *out, QByteArray *err, int *exitCode)
{
    QProcess process;
    process.start(QStringLiteral(BUSVISTA_CLI), QStringList {QStringLiteral("dump")} + args);
    if (!process.waitForFinished(60000))
        return false;
    *out = process.readAllStandardOutput();
    *err = process.readAllStandardError();
    *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return true;
}

void TestCliDump::bootUpFrameComesFirst()
{
    QByteArray out, err;
    int exitCode = -1;
    QVERIFY(run({"--sim", "--seconds", "0.3"}, &out, &err, &exitCode));
    QCOMPARE(exitCode, 0);
    const QList<QByteArray> lines = out.trimmed().split('\n');
    QVERIFY(lines.size() > 10);
    QCOMPARE(lines.first(), QByteArray("0.000\tRx\t705h\tStd\t1\t00"));

    // Every line has six fields; the first 100h frame carries the first sine value.
    bool sawFirst100 = false;
    double previousMs = 0;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split('\t');
        QCOMPARE(fields.size(), 6);
        const double ms = fields.at(0).toDouble();
        QVERIFY(ms >= previousMs);
        previousMs = ms;
        QVERIFY(fields.at(0).indexOf('.') == fields.at(0).size() - 4);
        if (!sawFirst100 && fields.at(2) == "100h") {
            sawFirst100 = true;
            QCOMPARE(fields.at(3), QByteArray("Std"));
            QCOMPARE(fields.at(4), QByteArray("8"));
            QCOMPARE(fields.at(5), QByteArray("07 6C 5A 00 00 00 00 00"));
            QVERIFY(ms >= 10.0);
        }
        if (fields.at(2) == "18FEF100h")
            QCOMPARE(fields.at(3), QByteArray("Ext"));
    }
    QVERIFY(sawFirst100);
}

void TestCliDump::summaryShowsThePeriods()
{
    QByteArray out, err;
    int exitCode = -1;
    QVERIFY(run({"--summary", "--seconds", "2.5", "--sim"}, &out, &err, &exitCode));
    QCOMPARE(exitCode, 0);
    QMap<QByteArray, double> cycle;
    QMap<QByteArray, int> count;
    QList<QByteArray> order;
    for (const QByteArray &line : out.trimmed().split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        QCOMPARE(fields.size(), 3);
        order.append(fields.at(0));
        count.insert(fields.at(0), fields.at(1).toInt());
        cycle.insert(fields.at(0), fields.at(2).toDouble());
        QCOMPARE(fields.at(2).indexOf('.'), fields.at(2).size() - 2);
    }
    QCOMPARE(order.first(), QByteArray("705h"));
    QCOMPARE(order.size(), 11);
    // Loaded machines drop sends, which only lengthens the mean cycle.
    const struct { const char *id; double periodMs; } expected[] = {
        {"100h", 10}, {"1A0h", 20}, {"2F0h", 100}, {"351h", 50}, {"18FEF100h", 100},
        {"192h", 50}, {"1A2h", 50}, {"710h", 500},
    };
    for (const auto &row : expected) {
        QVERIFY2(cycle.contains(row.id), row.id);
        const double ms = cycle.value(row.id);
        QVERIFY2(ms >= row.periodMs * 0.9 && ms <= row.periodMs * 3.0,
                 qPrintable(QStringLiteral("%1: %2 ms").arg(row.id).arg(ms)));
    }
    // The boot-up frame and heartbeats of node 5 share one identifier.
    QVERIFY(count.value("705h") >= 2);
    QVERIFY(cycle.value("705h") >= 900);
}

void TestCliDump::badArgumentsExitWithTwo_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("nothing") << QStringList {};
    QTest::newRow("missing --sim") << QStringList {"--seconds", "1"};
    QTest::newRow("missing --seconds") << QStringList {"--sim"};
    QTest::newRow("--seconds without value") << QStringList {"--sim", "--seconds"};
    QTest::newRow("--seconds not a number") << QStringList {"--sim", "--seconds", "abc"};
    QTest::newRow("--seconds negative") << QStringList {"--sim", "--seconds", "-1"};
    QTest::newRow("--seconds not finite") << QStringList {"--sim", "--seconds", "inf"};
    QTest::newRow("unknown option") << QStringList {"--sim", "--seconds", "1", "--bogus"};
    QTest::newRow("stray word") << QStringList {"--sim", "--seconds", "1", "extra"};
}

void TestCliDump::badArgumentsExitWithTwo()
{
    QFETCH(QStringList, args);
    QByteArray out, err;
    int exitCode = -1;
    QVERIFY(run(args, &out, &err, &exitCode));
    QCOMPARE(exitCode, 2);
    QVERIFY(out.isEmpty());
    QVERIFY(err.contains("Aufruf: busvista-cli dump BUS --seconds S [--summary]"));
}

QTEST_GUILESS_MAIN(TestCliDump)
#include "tst_clidump.moc"
