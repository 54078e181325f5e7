#include "clirun.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestCliSend : public QObject
{
    Q_OBJECT

private slots:
    void sendsCyclicRowsRepeatedlyAndOthersOnce();
    void unparsableListFails();
    void usageErrors_data();
    void usageErrors();
};

void TestCliSend::sendsCyclicRowsRepeatedlyAndOthersOnce()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.cxt"));
    // A bare array is accepted like the window's file object.
    QVERIFY(writeFile(path, R"([
        {"id": "100", "dlc": 8, "cycleMs": 10},
        {"id": "18FEF100", "extended": true, "dlc": 2, "data": [1, 2]},
        {"id": "7", "rtr": true, "cycleMs": 0},
        {"id": "200", "dlc": 1, "cycleMs": 1000}
    ])"));
    const CliRun run = runCli({QStringLiteral("send"), QStringLiteral("--sim"), QStringLiteral("--list"),
                            path, QStringLiteral("--seconds"), QStringLiteral("0.5")});
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    const QStringList cyclic = lines.at(0).split(QLatin1Char('\t'));
    QCOMPARE(cyclic.size(), 2);
    QCOMPARE(cyclic.at(0), QStringLiteral("100h"));
    // 51 on time (0, 10, ..., 500 ms); a busy machine may lose some ticks,
    // but dropped cycles are never made up in a burst.
    const int sends = cyclic.at(1).toInt();
    QVERIFY2(sends >= 20 && sends <= 51, qPrintable(lines.at(0)));
    QCOMPARE(lines.at(1), QStringLiteral("18FEF100h\t1"));
    QCOMPARE(lines.at(2), QStringLiteral("007h\t1"));
    QCOMPARE(lines.at(3), QStringLiteral("200h\t1"));
}

void TestCliSend::unparsableListFails()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.cxt"));
    QVERIFY(writeFile(path, R"({"messages": [{"id": "1"})"));
    CliRun run = runCli({QStringLiteral("send"), QStringLiteral("--sim"), QStringLiteral("--list"),
                      path, QStringLiteral("--seconds"), QStringLiteral("1")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith(QStringLiteral("Ungültige Datei: ")), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());

    run = runCli({QStringLiteral("send"), QStringLiteral("--sim"), QStringLiteral("--list"),
                  dir.filePath(QStringLiteral("fehlt.cxt")), QStringLiteral("--seconds"),
                  QStringLiteral("1")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(!run.err.trimmed().isEmpty());
}

void TestCliSend::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("without --sim") << QStringList{"--list", "a.cxt", "--seconds", "1"};
    QTest::newRow("without --list") << QStringList{"--sim", "--seconds", "1"};
    QTest::newRow("without --seconds") << QStringList{"--sim", "--list", "a.cxt"};
    QTest::newRow("negative duration") << QStringList{"--sim", "--list", "a.cxt", "--seconds", "-1"};
    QTest::newRow("no duration value") << QStringList{"--sim", "--list", "a.cxt", "--seconds"};
    QTest::newRow("unknown option") << QStringList{"--sim", "--list", "a.cxt", "--fast"};
}

void TestCliSend::usageErrors()
{
    QFETCH(QStringList, args);
    const CliRun run = runCli(QStringList{QStringLiteral("send")} + args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(QStringLiteral("Aufruf: busvista-cli send BUS")), qPrintable(run.err));
}

QTEST_GUILESS_MAIN(TestCliSend)
#include "tst_clisend.moc"
