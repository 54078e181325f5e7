#include "traceline.h"
#include "tracemodel.h"
#include "symbolfile.h"
#include "../views/testframe.h"

#include <QAbstractItemModelTester>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <ctime>
#include <thread>
#include <sys/stat.h>
#include <sys/resource.h>

using Entry = TraceModel::Entry;

namespace {

// The entries behind tests/data/views/golden.trc.
std::deque<Entry> goldenEntries()
{
    std::deque<Entry> entries;
    entries.push_back({1, frame(0x123, {0x01, 0xAB}, 12300)});
    entries.push_back({2, frame(0x7FF, {0xFF}, 20050)});  // 20.05 ms: a rounding tie
    CanFrame tx = frame(0x18FEF100, {1, 2, 3, 4, 5, 6, 7, 8}, 1500000);
    tx.extended = true;
    tx.tx = true;
    entries.push_back({3, tx});
    CanFrame error = frame(0, {}, 1500100);
    error.error = true;
    error.tx = true;
    entries.push_back({4, error});
    CanFrame status = frame(0, {0, 0, 0, 8}, 1600000);
    status.status = true;
    entries.push_back({5, status});
    CanFrame remote = frame(0x704, {}, 123456700);
    remote.rtr = true;
    remote.dlc = 1;
    entries.push_back({6, remote});
    CanFrame late = frame(1, {}, 9876543210900LL);
    late.extended = true;
    entries.push_back({1234567, late});
    return entries;
}

QDateTime goldenStart()
{
    return QDateTime(QDate(2026, 12, 6), QTime(18, 0), Qt::LocalTime);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

void trcRow(const char *name, const QByteArray &content, const QString &error, qint64 timestampUs, int dlc,
            bool status = false)
{
    QTest::newRow(name) << content << error << timestampUs << dlc << status;
}

void csvRow(const char *name, const QByteArray &content, const QString &error)
{
    QTest::newRow(name) << content << error;
}

void corpusRow(const char *name, const QString &file, const QString &error)
{
    QTest::newRow(name) << file << error;
}

QString corpus(const char *name)
{
    return QStringLiteral(BUSVISTA_CORPUS "/trc/") + QLatin1String(name);
}

} // namespace

class TestTraceFiles : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void savesTrcLikeTheGoldenFile()
    {
        TraceModel model;
        model.replaceEntries(goldenEntries(), goldenStart());
        QString error;
        QVERIFY2(model.saveTrc(path("golden.trc"), &error), qPrintable(error));
        const QByteArray written = readAll(path("golden.trc"));
        const QByteArray golden = readAll(QStringLiteral(BUSVISTA_TEST_DATA "/views/golden.trc"));
        QVERIFY(!golden.isEmpty());
        QCOMPARE(written, golden);
    }

    void trcRoundTripKeepsWhatTheFormatCarries()
    {
        TraceModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        int count = 0;
        QString error;
        QVERIFY2(model.loadTrc(QStringLiteral(BUSVISTA_TEST_DATA "/views/golden.trc"), &error, &count), qPrintable(error));
        QCOMPARE(count, 7);
        QCOMPARE(model.startTime(), goldenStart());
        const std::deque<Entry> expected = goldenEntries();
        for (int i = 0; i < count; ++i) {
            Entry want = expected[size_t(i)];
            // Times come back to 0.1 ms; a transmitted error frame comes back received.
            want.frame.timestampUs = (want.frame.timestampUs + 50) / 100 * 100;
            if (want.frame.error)
                want.frame.tx = false;
            const Entry got = model.entryAt(i);
            QVERIFY2(TraceLine::sameEntry(got, want), qPrintable(QString::number(i)));
        }
        QCOMPARE(model.nextNumber(), 1234568u);
        QCOMPARE(model.rowCount(), 7);

        // Saving the loaded trace again gives the same file.
        QVERIFY(model.saveTrc(path("again.trc"), &error));
        QCOMPARE(readAll(path("again.trc")), readAll(QStringLiteral(BUSVISTA_TEST_DATA "/views/golden.trc")));
    }

    void csvRoundTripKeepsMicroseconds()
    {
        TraceModel model;
        model.replaceEntries(goldenEntries(), QDateTime());
        QString error;
        QVERIFY(model.saveCsv(path("trace.csv"), &error));
        const QList<QByteArray> lines = readAll(path("trace.csv")).split('\n');
        QCOMPARE(lines.at(0), QByteArray("Nr;Zeit_ms;Richtung;ID;Symbol;Typ;DLC;Daten;Signale"));
        QCOMPARE(lines.at(1), QByteArray("1;12.300;Rx;123h;;Std;2;01 AB;\"\""));
        QCOMPARE(lines.at(3), QByteArray("3;1500.000;Tx;18FEF100h;;Ext;8;01 02 03 04 05 06 07 08;\"\""));
        QCOMPARE(lines.at(5), QByteArray("5;1600.000;Rx;Status;;Status;4;00 00 00 08;\"\""));
        QCOMPARE(lines.at(6), QByteArray("6;123456.700;Rx;704h;;Std RTR;1;Remote Request;\"\""));

        TraceModel loaded;
        int count = 0;
        QVERIFY2(loaded.loadCsv(path("trace.csv"), &error, &count), qPrintable(error));
        QCOMPARE(count, 7);
        QVERIFY(!loaded.startTime().isValid());
        const std::deque<Entry> expected = goldenEntries();
        for (int i = 0; i < count; ++i)
            QVERIFY2(TraceLine::sameEntry(loaded.entryAt(i), expected[size_t(i)]), qPrintable(QString::number(i)));
    }

    void emptyTraceWritesHeaderOnly()
    {
        TraceModel model;
        QString error;
        QVERIFY(model.saveTrc(path("empty.trc"), &error));
        QVERIFY(model.saveCsv(path("empty.csv"), &error));
        QCOMPARE(readAll(path("empty.trc")).count('\n'), 14);
        QCOMPARE(readAll(path("empty.csv")).count('\n'), 1);
        QVERIFY(!model.loadTrc(path("empty.trc"), &error, nullptr));
        QCOMPARE(error, QStringLiteral("Die Datei enthält keine Nachrichten."));
        QVERIFY(!model.loadCsv(path("empty.csv"), &error, nullptr));
        QCOMPARE(error, QStringLiteral("Die Datei enthält keine Nachrichten."));
    }

    void readsTrcLines_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error");  // empty: load succeeds
        QTest::addColumn<qint64>("timestampUs");
        QTest::addColumn<int>("dlc");
        QTest::addColumn<bool>("status");
        const QByteArray v11 = ";$FILEVERSION=1.1\n";
        trcRow("bytes missing", v11 + "     7)       100.5  Rx        0123  8  01 02\n", "Die Datei enthält keine lesbaren Nachrichten (1 Zeilen nicht erkannt).", 0, 0);
        trcRow("bytes complete", v11 + "     7)       100.5  Rx        0123  2  01 02\n", "", 100500, 2);
        trcRow("negative time", v11 + "  1)  -5.0  Rx  0123  0\n", "", 0, 0);
        trcRow("length above 8", v11 + "  1)  1.0  Rx  0123  12  01 02 03 04 05 06 07 08\n", "", 1000, 8);
        trcRow("version 3.0", ";$FILEVERSION=3.0\n  1)  1.0  Rx  0123  0\n",
               "Dieses PCAN-Trace-Format (Version 3.0) wird nicht unterstützt.", 0, 0);
        trcRow("version check after entries", v11 + "  1)  1.0  Rx  0123  0\n;$FILEVERSION=3.0\n",
               "Dieses PCAN-Trace-Format (Version 3.0) wird nicht unterstützt.", 0, 0);
        trcRow("version 1.3 passes", ";$FILEVERSION=1.3\n  1)  1.0  Rx  0123  0\n", "", 1000, 0);
        trcRow("crlf and bom", "\xEF\xBB\xBF;$FILEVERSION=1.1\r\n  1)  2.5  Rx  0123  1  0A\r\n\r\n", "", 2500, 1);
        trcRow("nine bytes", v11 + "  1)  1.0  Rx  0123  8  01 02 03 04 05 06 07 08 09\n", "Die Datei enthält keine lesbaren Nachrichten (1 Zeilen nicht erkannt).", 0, 0);
        trcRow("byte above FF", v11 + "  1)  1.0  Rx  0123  1  100\n", "Die Datei enthält keine lesbaren Nachrichten (1 Zeilen nicht erkannt).", 0, 0);
        trcRow("only comments", v11 + ";\n\n", "Die Datei enthält keine Nachrichten.", 0, 0);
        // Version 1.0: no type column, whole milliseconds.
        trcRow("1.0 line", ";$FILEVERSION=1.0\n     1)      1841  0001  8  00 11 22 33 44 55 66 77\n", "", 1841000, 8);
        trcRow("no version: 1.0 layout", "     1)      1841  0001  8  00 11 22 33 44 55 66 77\n", "", 1841000, 8);
        // The layout follows the lines, whatever the version line says; a
        // 1.0 line is never misread as type "1841".
        trcRow("1.0 line in 1.1 file", v11 + "     1)      1841  0001  8  00 11 22 33 44 55 66 77\n", "", 1841000, 8);
        trcRow("1.1 line in 1.0 file", ";$FILEVERSION=1.0\n  1)  1.0  Rx  0123  0\n", "", 1000, 0);
        trcRow("no version: 1.1 layout", "  1)  1.0  Rx  0123  2  01 02\n", "", 1000, 2);
        trcRow("the first line decides the layout", "  1)  1.0  Rx  0123  0\n     2)      1841  0001  0\n", "", 1000, 0);
        // Bus-state lines with a trailing state word, as the vendor's viewer writes them.
        trcRow("1.1 state word", v11 + "     2)     17540.3  Warng  FFFFFFFF  4  00 00 00 08  BUSHEAVY \n", "", 17540300, 4, true);
        trcRow("1.0 state word", "     2)     17540  FFFFFFFF  4  00 00 00 08 -- -- -- -- BUSHEAVY\n", "", 17540000, 4, true);
        trcRow("state word on a frame", v11 + "  1)  1.0  Rx  0123  1  01 BUSHEAVY\n",
               "Die Datei enthält keine lesbaren Nachrichten (1 Zeilen nicht erkannt).", 0, 0);
    }
    void readsTrcLines()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        QFETCH(qint64, timestampUs);
        QFETCH(int, dlc);
        QFETCH(bool, status);
        QVERIFY(writeFile(path("lines.trc"), content));
        TraceModel model;
        model.replaceEntries({{99, CanFrame()}}, QDateTime());
        QString message;
        int count = -1;
        const bool ok = model.loadTrc(path("lines.trc"), &message, &count);
        if (!error.isEmpty()) {
            QVERIFY(!ok);
            QCOMPARE(message, error);
            QCOMPARE(count, -1);
            QCOMPARE(model.entryAt(0).number, 99u);  // a failed load changes nothing
            return;
        }
        QVERIFY2(ok, qPrintable(message));
        QCOMPARE(count, 1);
        QCOMPARE(model.entryAt(0).frame.timestampUs, timestampUs);
        QCOMPARE(int(model.entryAt(0).frame.dlc), dlc);
        QCOMPARE(model.entryAt(0).frame.status, status);
        QCOMPARE(model.entryAt(0).frame.extended, status);
        if (status)
            QCOMPARE(model.entryAt(0).frame.data[3], quint8(8));
    }

    void startTimeInADaylightSavingGapIsKept()
    {
        // 29 March 2026, 02:30 does not exist in Berlin: the clocks jump from 02:00 to 03:00.
        const QByteArray savedTz = qgetenv("TZ");
        qputenv("TZ", "Europe/Berlin");
        tzset();
        const QByteArray line = ";$STARTTIME=46110.1041666667";
        QVERIFY(writeFile(path("gap.trc"), ";$FILEVERSION=1.1\n" + line + "\n  1)  1.0  Rx  0123  0\n"));
        TraceModel model;
        QString error;
        const bool loaded = model.loadTrc(path("gap.trc"), &error, nullptr);
        const bool saved = model.saveTrc(path("gap-again.trc"), &error);
        const QString shown = model.startTime().toString(QStringLiteral("dd.MM.yyyy hh:mm"));
        if (savedTz.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", savedTz);
        tzset();
        QVERIFY2(loaded && saved, qPrintable(error));
        QCOMPARE(readAll(path("gap-again.trc")).split('\n').at(1), line);
        QCOMPARE(shown, QStringLiteral("29.03.2026 02:30"));
    }

    void readsOtherToolsTraces_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("error");
        corpusRow("1.0", corpus("test_CanMessage_V1_0_BUS1.trc"), "");
        corpusRow("1.1", corpus("test_CanMessage_V1_1.trc"), "");
        // Versions 1.3 to 2.1: tst_traceformats.
    }
    void readsOtherToolsTraces()
    {
        QFETCH(QString, file);
        QFETCH(QString, error);
        if (!QFile::exists(file))
            QSKIP("corpus not available");
        TraceModel model;
        QString message;
        int count = 0;
        const bool ok = model.loadTrc(file, &message, &count);
        if (!error.isEmpty()) {
            QVERIFY(!ok);
            QCOMPARE(message, error);
            return;
        }
        QVERIFY2(ok, qPrintable(message));
        // Eleven frames and a bus-state line (BUSHEAVY).
        QCOMPARE(count, 12);
        const bool v11 = QTest::currentDataTag() == QByteArray("1.1");
        const Entry first = model.entryAt(0);
        QCOMPARE(first.number, 1u);
        QCOMPARE(first.frame.id, 0x100u);
        QVERIFY(first.frame.extended);
        QCOMPARE(int(first.frame.dlc), 8);
        QCOMPARE(first.frame.tx, v11);
        QCOMPARE(first.frame.timestampUs, v11 ? 17535400ll : 17535000ll);
        const Entry state = model.entryAt(1);
        QCOMPARE(state.number, 2u);
        QVERIFY(state.frame.status);
        QCOMPARE(int(state.frame.dlc), 4);
        QCOMPARE(state.frame.data[3], quint8(8));
        QCOMPARE(state.frame.timestampUs, v11 ? 17540300ll : 17540000ll);
        const Entry standard = model.entryAt(4);
        QCOMPARE(standard.number, 5u);
        QCOMPARE(standard.frame.id, 0u);
        QVERIFY(!standard.frame.extended);
        const Entry remote = model.entryAt(11);
        QCOMPARE(remote.number, 12u);
        QCOMPARE(remote.frame.id, 0x704u);
        QVERIFY(remote.frame.rtr);
        QVERIFY(!remote.frame.tx);
        QCOMPARE(int(remote.frame.dlc), 1);
        QCOMPARE(remote.frame.timestampUs, v11 ? 48937600ll : 48937000ll);
        if (v11)
            QCOMPARE(model.startTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")), QStringLiteral("18.12.2021 14:28:07"));
        else
            QVERIFY(!model.startTime().isValid());
    }

    void readsCsvLines_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error");
        const QByteArray header = "Nr;Zeit_ms;Richtung;ID;Symbol;Typ;DLC;Daten;Signale\n";
        const QString unrecognised = QStringLiteral("Die Datei enthält keine lesbaren Nachrichten (1 Zeilen nicht erkannt).");
        const QString foreign = QStringLiteral("Das ist keine mit Busvista gespeicherte CSV-Datei.");
        csvRow("no header", "1;2.000;Rx;100h;;Std;0;;\"\"\n", foreign);
        csvRow("empty file", QByteArray(), foreign);
        csvRow("seven fields", header + "1;2.000;Rx;100h;;Std;0\n", unrecognised);
        csvRow("length 9", header + "1;2.000;Rx;100h;;Std;9;;\n", unrecognised);
        csvRow("bad number", header + "x;2.000;Rx;100h;;Std;0;;\n", unrecognised);
        csvRow("semicolons in signals", header + "1;2.000;Rx;100h;A;Std;1;FF;\"a=1; b=2\";x\n", QString());
        csvRow("eight fields", header + "1;2.000;Rx;100h;A;Std;1;FF\n", QString());
    }
    void readsCsvLines()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        QVERIFY(writeFile(path("lines.csv"), content));
        TraceModel model;
        QString message;
        const bool ok = model.loadCsv(path("lines.csv"), &message, nullptr);
        if (!error.isEmpty()) {
            QVERIFY(!ok);
            QCOMPARE(message, error);
            return;
        }
        QVERIFY2(ok, qPrintable(message));
        QCOMPARE(model.entryAt(0).frame.id, 0x100u);
        QCOMPARE(model.entryAt(0).frame.data[0], quint8(0xFF));
        QCOMPARE(model.entryAt(0).frame.timestampUs, 2000ll);
    }

    void csvColumnsSurviveSymbolNamesWithSemicolons()
    {
        auto db = std::make_shared<SymbolDatabase>();
        QString error;
        QVERIFY2(db->load(QStringLiteral(BUSVISTA_TEST_DATA "/views/views.sym"), &error), qPrintable(error));
        TraceModel model;
        model.setSymbols(db);
        model.replaceEntries({{1, frame(0x100, {0x10, 0x27}, 1000)}}, QDateTime());
        QVERIFY(model.saveCsv(path("symbols.csv"), &error));
        const QList<QByteArray> lines = readAll(path("symbols.csv")).split('\n');
        QCOMPARE(lines.at(1).split(';').at(4), QByteArray("Motor,Drehzahl"));
        QCOMPARE(lines.at(1).split(';').at(5), QByteArray("Std"));
        QVERIFY(lines.at(1).endsWith('"' + db->decodeText(model.entryAt(0).frame).toUtf8() + '"'));

        TraceModel loaded;
        QVERIFY2(loaded.loadCsv(path("symbols.csv"), &error, nullptr), qPrintable(error));
        QVERIFY(TraceLine::sameEntry(loaded.entryAt(0), model.entryAt(0)));
    }

    void csvQuotesDoubleQuotesInSignals_data()
    {
        QTest::addColumn<QByteArray>("symbol");
        QTest::addColumn<QByteArray>("signalText");
        QTest::addColumn<QByteArray>("quoted");
        QTest::newRow("short") << QByteArray("S") << QByteArray("Text=\"a\"") << QByteArray("Text=\"\"a\"\"");
        QTest::newRow("none") << QByteArray() << QByteArray() << QByteArray();
        // Texts longer than the line buffer holds go out on their own.
        const QByteArray longName = QByteArray("Name").repeated(40);
        const QByteArray longSignals = QByteArray("Wert=\"1\" ").repeated(30);
        QTest::newRow("long symbol") << longName << QByteArray("x=1") << QByteArray("x=1");
        QTest::newRow("long signals") << QByteArray("S") << longSignals << QByteArray(longSignals).replace("\"", "\"\"");
        QTest::newRow("both long") << longName << longSignals << QByteArray(longSignals).replace("\"", "\"\"");
    }
    void csvQuotesDoubleQuotesInSignals()
    {
        QFETCH(QByteArray, symbol);
        QFETCH(QByteArray, signalText);
        QFETCH(QByteArray, quoted);
        QByteArray line("before\n");
        TraceLine::appendCsv(line, 3, frame(0x10, {1}, 2500), 2500, symbol, signalText);
        QCOMPARE(line, "before\n3;2.500;Rx;010h;" + symbol + ";Std;1;01;\"" + quoted + "\"\n");
    }

    void offsetTextMatchesQt()
    {
        const qint64 offsets[] = {0, 1, 49, 50, 51, 149, 150, 151, 999, 1000, 20050, 20150, 123456789, -1, -50, -150,
                                  -20050, 999999999999999LL, 1000000000000000LL, std::numeric_limits<qint64>::max(),
                                  std::numeric_limits<qint64>::min()};
        for (qint64 us : offsets) {
            for (int digits : {1, 3}) {
                QByteArray text;
                TraceLine::appendOffset(text, us, digits);
                QCOMPARE(QString::fromLatin1(text), QString::number(double(us) / 1000.0, 'f', digits));
            }
        }
    }

    void scannerAgreesWithPattern_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("v10");
        QTest::addColumn<bool>("csv");
        const char *trc[] = {
            "     1)        12.3  Rx        0123  2  01 AB", "1) 1 Tx 1 0", "  1)\t1.5\tError\t18FEF100\t8\t1 2 3 4 5 6 7 8",
            "1) 1.5 Warng FFFFFFFF 4 00 00 00 08 BUSHEAVY", "1) 1.5 Rx 123 2AB 01", "1) 1.5 Rx 123 2  01\t02",
            "1) 1.5 Rx 123 3 RTR", "1) 1.5. Rx 123 0", "1) .5 Rx 123 0", "1) 5. Rx 123 0", "1) -0 Rx 123 0",
            "1) 1.5 Rx 0x12 0", "1) 1.5 Rx 123456789 0", "1) 1.5 Rx 123 99999999999 0",
            "99999999999999999999) 1 Rx 1 0", "1) 1.5 Rx 123 1 1 ", "1)1.5 Rx 123 0", "1) 1.5 Rx 123 1 001",
            "1) 1.5 Rx 123 1 +1", "1) 1.5 Rx 123 2 01  02", "1) 12345678901234567890.5 Rx 1 0",
            "1) 1.5 Rx 12\xC3\xA4 0", "1) 1.5 Rx 12 0 \xC2\xA0", "   ", "1) 1.5 Rx 123 0\r1",
        };
        for (const char *line : trc) {
            QTest::addRow("1.1 %s", line) << QByteArray(line) << false << false;
            QTest::addRow("1.0 %s", line) << QByteArray(line) << true << false;
        }
        QTest::newRow("1.0 plain") << QByteArray("     1)      1841  0001  8  00 11 22 33 44 55 66 77") << true << false;
        const char *csv[] = {
            "1;12.300;Rx;123h;;Std;2;01 AB;\"\"", "1;12.300;Tx;18FEF100h;Sym;Ext RTR;2;;\"x;y\"",
            "1;0.5;Rx;Status;;Status;4;00 00 00 08;", "1;1e3;Rx;1h;;Std;0;;", "1; 1;Rx;1h;;Std;0;;",
            "1;1;Rx;1;;Std;0;;", "1;1;Rx;h;;Std;0;;", "1;1;Rx;0x1h;;Std;0;;", "1;1;Rx;1h;;Std;-0;;",
            "+1;1;Rx;1h;;Std;0;;", "1;1;Rx;1h;\xC3\xA4;Std;1;1;\"\xC2\xB0\x43\"", "1;1;Rx;1h;;Std;1; 01 ;",
            "1;1;Rx;1h;;Std;2;01;", "1;-7.25;Rx;1FFFFFFFFh;;Ext;0;;", "1;1;Rx;1h;;Error;0;;", ";;;;;;;",
        };
        for (const char *line : csv)
            QTest::addRow("csv %s", line) << QByteArray(line) << false << true;
    }
    void scannerAgreesWithPattern()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, v10);
        QFETCH(bool, csv);
        const auto layout = v10 ? TraceLine::TrcLayout::V10 : TraceLine::TrcLayout::V11;
        const QString text = QString::fromUtf8(line);
        Entry reference;
        Entry combined;
        const auto want = csv ? TraceLine::readCsvReference(text, &reference)
                              : TraceLine::readTrcReference(text, layout, &reference);
        const auto got = csv ? TraceLine::readCsv(line.cbegin(), line.cend(), &combined)
                             : TraceLine::readTrc(line.cbegin(), line.cend(), layout, &combined);
        QCOMPARE(int(got), int(want));
        if (want == TraceLine::Result::Entry)
            QVERIFY(TraceLine::sameEntry(combined, reference));
    }

    void formatIsKnownByContent_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("format");  // -1: none
        QTest::newRow("csv") << QByteArray("Nr;Zeit_ms;Richtung;ID\n1;") << int(TraceFile::Format::Csv);
        QTest::newRow("csv with bom") << QByteArray("\xEF\xBB\xBFNr;Zeit_ms;") << int(TraceFile::Format::Csv);
        QTest::newRow("trc header") << QByteArray(";$FILEVERSION=1.1\n") << int(TraceFile::Format::Trc);
        QTest::newRow("trc lines only") << QByteArray("     1)      1841  0001  0\n") << int(TraceFile::Format::Trc);
        QTest::newRow("other text") << QByteArray("Hallo\n") << -1;
        QTest::newRow("empty") << QByteArray() << -1;
    }
    void formatIsKnownByContent()
    {
        QFETCH(QByteArray, head);
        QFETCH(int, format);
        TraceFile::Format found = TraceFile::Format::Trc;
        const bool known = TraceFile::formatOfContent(head, &found);
        QCOMPARE(known ? int(found) : -1, format);
    }

    void savingAddsTheEndingOfTheFilter_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("savedAs");
        QTest::addColumn<int>("format");
        const QString trc = TraceFile::filter(TraceFile::Format::Trc);
        const QString csv = TraceFile::filter(TraceFile::Format::Csv);
        QTest::newRow("ending under the default filter") << "A.CSV" << trc << "A.CSV" << int(TraceFile::Format::Csv);
        QTest::newRow("filter over the ending") << "b.trc" << csv << "b.trc" << int(TraceFile::Format::Csv);
        QTest::newRow("no ending, csv") << "ohne" << csv << "ohne.csv" << int(TraceFile::Format::Csv);
        QTest::newRow("no ending, trc") << "ohne" << trc << "ohne.trc" << int(TraceFile::Format::Trc);
        QTest::newRow("unknown ending kept") << "x.dat" << csv << "x.dat" << int(TraceFile::Format::Csv);
        QTest::newRow("dot in the folder") << "ordner.v2/ohne" << csv << "ordner.v2/ohne.csv" << int(TraceFile::Format::Csv);
    }
    void savingAddsTheEndingOfTheFilter()
    {
        QFETCH(QString, name);
        QFETCH(QString, filter);
        QFETCH(QString, savedAs);
        QFETCH(int, format);
        QString path = name;
        QCOMPARE(int(TraceFile::formatForSaving(&path, filter)), format);
        QCOMPARE(path, savedAs);
    }

    void progressIsReportedAndCanCancel()
    {
        TraceModel model;
        std::deque<Entry> entries;
        for (int i = 0; i < 200000; ++i)
            entries.push_back({quint64(i + 1), frame(0x100 + quint32(i % 50), {1, 2, 3, 4, 5, 6, 7, 8}, i * 1000LL)});
        model.replaceEntries(std::move(entries), QDateTime());
        QString error;
        QVERIFY(model.saveTrc(path("big.trc"), &error));
        QVERIFY(model.saveCsv(path("big.csv"), &error));

        TraceModel loaded;
        loaded.replaceEntries({{5, CanFrame()}}, QDateTime());
        QList<qint64> seen;
        qint64 size = 0;
        const auto cancelSecond = [&](qint64 done, qint64 total) {
            seen.append(done);
            size = total;
            return seen.size() < 2;
        };
        QVERIFY(!loaded.loadTrc(path("big.trc"), &error, nullptr, cancelSecond));
        QCOMPARE(error, QStringLiteral("Laden abgebrochen."));
        QCOMPARE(loaded.rowCount(), 1);
        QCOMPARE(seen.size(), 2);
        QVERIFY(seen.at(0) > 0 && seen.at(0) < seen.at(1));
        QCOMPARE(size, QFileInfo(path("big.trc")).size());

        seen.clear();
        int count = 0;
        QVERIFY(loaded.loadCsv(path("big.csv"), &error, &count, [&](qint64 done, qint64) {
            seen.append(done);
            return true;
        }));
        QCOMPARE(count, 200000);
        QVERIFY(seen.size() >= 2);
        QVERIFY(TraceLine::sameEntry(loaded.entryAt(199999), model.entryAt(199999)));
    }

    void readsFilesThatCannotBeMapped()
    {
        // A pipe has no size and cannot be mapped: it is read in chunks, with
        // lines crossing the chunk borders.
        const QByteArray fifo = QFile::encodeName(path("pipe.trc"));
        QCOMPARE(mkfifo(fifo.constData(), 0600), 0);
        QByteArray content = ";$FILEVERSION=1.1\r\n";
        constexpr int Lines = 120000;
        for (int i = 1; i <= Lines; ++i)
            content += QByteArray::number(i).rightJustified(6, ' ') + ")  " + QByteArray::number(i) + ".5  Rx  0123  2  01 AB\r\n";
        content += "     0)  1.0  Rx  0456  0";  // last line without line end
        std::thread writer([&] {
            QFile out(QString::fromLocal8Bit(fifo));
            if (out.open(QIODevice::WriteOnly))
                out.write(content);
        });
        TraceModel model;
        int count = 0;
        QString error;
        const bool ok = model.loadTrc(QString::fromLocal8Bit(fifo), &error, &count);
        writer.join();
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(count, Lines + 1);
        QCOMPARE(model.entryAt(Lines - 1).number, quint64(Lines));
        QCOMPARE(model.entryAt(Lines - 1).frame.timestampUs, qint64(Lines) * 1000 + 500);
        QCOMPARE(model.entryAt(Lines).frame.id, 0x456u);
    }

    void failedSaveKeepsTheOldFile()
    {
        TraceModel model;
        std::deque<Entry> entries;
        for (int i = 0; i < 20000; ++i)
            entries.push_back({quint64(i + 1), frame(0x100, {1, 2, 3, 4, 5, 6, 7, 8}, i * 1000LL)});
        model.replaceEntries(std::move(entries), QDateTime());
        QString error;

        QVERIFY(!model.saveTrc(path("missing/dir/x.trc"), &error));
        QVERIFY(!error.isEmpty());
        error.clear();
        QVERIFY(!model.saveCsv(path("missing/dir/x.csv"), &error));
        QVERIFY(!error.isEmpty());

        // A full disk, simulated by a file size limit below the trace's size.
        QVERIFY(writeFile(path("old.trc"), "old content\n"));
        QVERIFY(writeFile(path("old.csv"), "old content\n"));
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 64 * 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool trcSaved = model.saveTrc(path("old.trc"), &error);
        const QString trcError = error;
        const bool csvSaved = model.saveCsv(path("old.csv"), &error);
        const QString csvError = error;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);

        QVERIFY(!trcSaved);
        QCOMPARE(trcError, QStringLiteral("Schreibfehler"));
        QVERIFY(!csvSaved);
        QCOMPARE(csvError, QStringLiteral("Schreibfehler"));
        QCOMPARE(readAll(path("old.trc")), QByteArray("old content\n"));
        QCOMPARE(readAll(path("old.csv")), QByteArray("old content\n"));
    }
};

QTEST_GUILESS_MAIN(TestTraceFiles)
#include "tst_tracefiles.moc"
