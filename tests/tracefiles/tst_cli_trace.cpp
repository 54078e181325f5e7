#include "clirun.h"
#include "traceline.h"
#include "tracemodel.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

qint64 number(const QString &out, const QString &label)
{
    const QRegularExpression pattern(QRegularExpression::escape(label) + QStringLiteral(": (\\d+)"));
    const QRegularExpressionMatch match = pattern.match(out);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

} // namespace

class TestCliTrace : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void recordsTheSimulatedBusThroughTheFilter()
    {
        const CliRun run = runCli({"record", "--sim", "--seconds", "0.5", "--out", path("include.trc"), "--filter", "100-1FF"});
        QCOMPARE(run.exitCode, 0);
        const qint64 recorded = number(run.out, QStringLiteral("Aufgezeichnet"));
        const qint64 filtered = number(run.out, QStringLiteral("Gefiltert"));
        QVERIFY2(recorded > 0 && filtered > 0, qPrintable(run.out));

        TraceModel model;
        QString error;
        int count = 0;
        QVERIFY2(model.loadTrc(path("include.trc"), &error, &count), qPrintable(error));
        QCOMPARE(count, int(recorded));
        for (int i = 0; i < count; ++i) {
            const CanFrame frame = model.entryAt(i).frame;
            QVERIFY(frame.error || frame.status || (frame.id >= 0x100 && frame.id <= 0x1FF));
        }

        const CliRun excluded = runCli({"record", "--sim", "--seconds", "0.5", "--out", path("exclude.CSV"), "--filter",
                                  "100-1FF", "--exclude"});
        QCOMPARE(excluded.exitCode, 0);
        QVERIFY(model.loadCsv(path("exclude.CSV"), &error, &count));
        QCOMPARE(count, int(number(excluded.out, QStringLiteral("Aufgezeichnet"))));
        for (int i = 0; i < count; ++i) {
            const CanFrame frame = model.entryAt(i).frame;
            QVERIFY(frame.error || frame.status || frame.id < 0x100 || frame.id > 0x1FF);
        }
    }

    void recordKeepsAtMostMaxEntries()
    {
        const CliRun run = runCli({"record", "--sim", "--seconds", "1", "--out", path("limited.trc"), "--max-entries", "100"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(number(run.out, QStringLiteral("Aufgezeichnet")) > 100, qPrintable(run.out));
        TraceModel model;
        int count = 0;
        QVERIFY(model.loadTrc(path("limited.trc"), nullptr, &count));
        QCOMPARE(count, 100);
        // The newest frames are kept, numbered as recorded.
        QCOMPARE(qint64(model.entryAt(99).number), number(run.out, QStringLiteral("Aufgezeichnet")));
    }

    void convertsBetweenFormats()
    {
        const CliRun record = runCli({"record", "--sim", "--seconds", "0.3", "--out", path("source.trc")});
        QCOMPARE(record.exitCode, 0);
        const CliRun toCsv = runCli({"convert", path("source.trc"), path("converted.csv")});
        QCOMPARE(toCsv.exitCode, 0);
        const CliRun back = runCli({"convert", path("converted.csv"), path("back.trc")});
        QCOMPARE(back.exitCode, 0);
        QCOMPARE(back.out.trimmed(), toCsv.out.trimmed());

        TraceModel source;
        TraceModel converted;
        int count = 0;
        QVERIFY(source.loadTrc(path("source.trc"), nullptr, &count));
        QCOMPARE(toCsv.out.trimmed(), QStringLiteral("%1 Nachrichten").arg(count));
        QVERIFY(converted.loadTrc(path("back.trc"), nullptr, nullptr));
        QCOMPARE(converted.rowCount(), count);
        for (int i = 0; i < count; ++i)
            QVERIFY(TraceLine::sameEntry(source.entryAt(i), converted.entryAt(i)));
    }

    void convertChoosesByEndingOrContent_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("format");  // of the output, by its content
        QTest::newRow("asc in capitals to blf") << "log.ASC" << "log.Blf" << "blf";
        QTest::newRow("blf to candump log") << "log.Blf" << "log.log" << "log";
        QTest::newRow("log without ending to asc") << "candump" << "back.asc" << "asc";
        QTest::newRow("output without ending is trc") << "back.asc" << "plain" << "trc";
        QTest::newRow("trc with a status entry to log") << "status.trc" << "status.log" << "log";
    }
    void convertChoosesByEndingOrContent()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QFETCH(QString, format);
        if (QTest::currentDataTag() == QByteArray("asc in capitals to blf")) {
            QFile asc(m_dir.filePath(in));
            QVERIFY(asc.open(QIODevice::WriteOnly));
            asc.write("date Sam Sep 30 15:06:13.191 2017\nbase hex  timestamps absolute\n"
                      "  1.000000 1  123x Rx d 2 01 02\n  1.500000 CANFD 1 Rx 124 1 0 f 64 " + QByteArray("00 ").repeated(64) + "\n"
                      "  2.000000 1  7FF Tx d 0\n");
        }
        if (QTest::currentDataTag() == QByteArray("log without ending to asc"))
            QVERIFY(QFile::copy(m_dir.filePath(QStringLiteral("log.log")), m_dir.filePath(in)));
        const bool status = in.startsWith(QLatin1String("status"));
        if (status) {
            // A bus log has no place for the driver's status entries.
            TraceModel model;
            std::deque<TraceEntry> entries{{1, {}}, {2, {}}, {3, {}}};
            entries[0].frame.id = 0x123;
            entries[1].frame.status = true;
            entries[1].frame.dlc = 4;
            entries[2].frame.id = 0x7FF;
            entries[2].frame.tx = true;
            model.replaceEntries(std::move(entries), QDateTime::currentDateTime());
            QVERIFY(model.saveTrc(m_dir.filePath(in), nullptr));
        }
        const CliRun run = runCli({"convert", m_dir.filePath(in), m_dir.filePath(out)});
        QCOMPARE(run.exitCode, 0);
        QStringList expected{QStringLiteral("%1 Nachrichten").arg(status ? 3 : 2)};
        if (in.endsWith(QLatin1String(".ASC")))
            expected.append(QStringLiteral("1 CAN-FD-Nachrichten übersprungen"));
        if (status)
            expected.append(QStringLiteral("1 Statuseinträge nicht gespeichert (im Format nicht darstellbar)"));
        QCOMPARE(run.out.trimmed().split(QLatin1Char('\n')), expected);
        TraceFile::Format written = TraceFile::Format::Csv;
        QFile file(m_dir.filePath(out));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(TraceFile::formatOfContent(file.read(4096), &written));
        QCOMPARE(TraceFile::ending(written), format);
        TraceModel model;
        QVERIFY(model.load(m_dir.filePath(out), written, nullptr, nullptr));
        QCOMPARE(model.entryAt(1).frame.id, 0x7FFu);
        QVERIFY(model.entryAt(1).frame.tx);
    }

    void reportsFailures()
    {
        const CliRun missing = runCli({"convert", path("nothing.trc"), path("out.csv")});
        QCOMPARE(missing.exitCode, 1);
        QVERIFY(!missing.err.trimmed().isEmpty());
        QVERIFY(!QFile::exists(path("out.csv")));

        QFile newer(path("newer.trc"));
        QVERIFY(newer.open(QIODevice::WriteOnly));
        newer.write(";$FILEVERSION=3.0\n");
        newer.close();
        const CliRun version = runCli({"convert", path("newer.trc"), path("out.csv")});
        QCOMPARE(version.exitCode, 1);
        QCOMPARE(version.err.trimmed(), QStringLiteral("Dieses PCAN-Trace-Format (Version 3.0) wird nicht unterstützt."));

        const CliRun unwritable = runCli({"convert", QStringLiteral(BUSVISTA_TEST_DATA "/views/golden.trc"),
                                    path("no/such/dir/out.trc")});
        QCOMPARE(unwritable.exitCode, 1);
        QVERIFY(!unwritable.err.trimmed().isEmpty());

        QCOMPARE(runCli({"convert", path("only-one.trc")}).exitCode, 2);
        QCOMPARE(runCli({"record", "--sim", "--seconds", "1"}).exitCode, 2);
        const CliRun badFilter = runCli({"record", "--sim", "--seconds", "0", "--out", path("x.trc"), "--filter", "1FF-100"});
        QCOMPARE(badFilter.exitCode, 2);
        QVERIFY(badFilter.err.contains(QStringLiteral("Anfang ist größer als Ende")));
        const CliRun signedFilter = runCli({"record", "--sim", "--seconds", "0", "--out", path("x.trc"), "--filter", "+100"});
        QCOMPARE(signedFilter.exitCode, 2);
        QVERIFY(signedFilter.err.contains(QStringLiteral("Ungültige ID \"+100\"")));
    }
};

QTEST_GUILESS_MAIN(TestCliTrace)
#include "tst_cli_trace.moc"
