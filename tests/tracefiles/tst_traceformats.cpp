// The trace formats of other tools: one table of cases per format, the
// files of the shared corpus, and each writer read back by its reader.
#include "logframe.h"
#include "tracefile.h"
#include "tracemodel.h"

#include <QTemporaryDir>
#include <QtTest>

#include <zlib.h>

#include <ctime>

namespace {

using TraceFile::Format;

// One entry as a short text: "18EBFF00x Tx 8 01A00F.. @3098426".
QString describe(const TraceEntry &entry)
{
    const CanFrame &f = entry.frame;
    QString kind = f.status ? QStringLiteral("St") : f.error ? QStringLiteral("Err") : f.tx ? QStringLiteral("Tx") : QStringLiteral("Rx");
    if (f.rtr)
        kind += QStringLiteral(" R");
    QString text = QString::number(f.id, 16).toUpper() + (f.extended ? QStringLiteral("x ") : QStringLiteral(" ")) + kind
        + QLatin1Char(' ') + QString::number(f.dlc);
    if (!f.rtr && f.dlc)
        text += QLatin1Char(' ') + QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(f.data), std::min<int>(f.dlc, 8)).toHex().toUpper());
    return text + QStringLiteral(" @") + QString::number(f.timestampUs);
}

class Collect : public TraceFile::Sink
{
public:
    void add(const TraceEntry &entry) override { entries.append(describe(entry)); }
    QStringList entries;
};

struct Loaded
{
    bool ok = false;
    QString error;
    QStringList entries;
    TraceFile::LoadResult result;
};

Loaded loadFile(const QString &path, Format format)
{
    Loaded loaded;
    Collect collect;
    loaded.ok = TraceFile::load(path, format, collect, &loaded.result, &loaded.error);
    loaded.entries = collect.entries;
    return loaded;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QString corpus(const char *name)
{
    return QStringLiteral(BUSVISTA_CORPUS "/") + QLatin1String(name);
}

// --- BLF building blocks -------------------------------------------------

void put(QByteArray &out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char(value >> (8 * i));
}

QByteArray blfObject(quint32 type, const QByteArray &body, quint64 stamp, quint32 timeFlags = 2)
{
    QByteArray o("LOBJ");
    put(o, 32, 2);
    put(o, 1, 2);
    put(o, 32 + quint64(body.size()), 4);
    put(o, type, 4);
    put(o, timeFlags, 4);
    put(o, 0, 4);
    put(o, stamp, 8);
    return o + body + QByteArray(body.size() % 4, '\0');
}

QByteArray canMessage(quint32 id, quint8 flags, quint8 dlc, const QByteArray &data)
{
    QByteArray b;
    put(b, 1, 2);
    b += char(flags);
    b += char(dlc);
    put(b, id, 4);
    return b + data.leftJustified(8, '\0', true);
}

QByteArray container(const QByteArray &objects, bool compressed = true, qint64 declared = -1)
{
    QByteArray payload = objects;
    if (compressed) {
        uLongf size = compressBound(uLong(objects.size()));
        payload.resize(int(size));
        compress(reinterpret_cast<Bytef *>(payload.data()), &size, reinterpret_cast<const Bytef *>(objects.constData()), uLong(objects.size()));
        payload.resize(int(size));
    }
    QByteArray c("LOBJ");
    put(c, 16, 2);
    put(c, 1, 2);
    put(c, 32 + quint64(payload.size()), 4);
    put(c, 10, 4);
    put(c, compressed ? 2 : 0, 2);
    put(c, 0, 6);
    put(c, declared >= 0 ? quint64(declared) : quint64(objects.size()), 4);
    put(c, 0, 4);
    return c + payload + QByteArray((32 + payload.size()) % 4, '\0');
}

QByteArray blfFile(const QByteArray &body)
{
    QByteArray h("LOGG");
    put(h, 144, 4);
    h += QByteArray(32, '\0');
    for (int v : {2026, 12, 1, 7, 18, 30, 5, 250})  // 7 December 2026, 18:30:05.250
        put(h, quint64(v), 2);
    return h.leftJustified(144, '\0') + body;
}

void row(const char *name, const QByteArray &content, const QStringList &entries, const QString &notice = QString())
{
    QTest::newRow(name) << content << entries << notice;
}

} // namespace

class TestTraceFormats : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // Loads `content` as `format`; entries and notice, or the error text as the only entry.
    void check(Format format, const char *suffix)
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, entries);
        QFETCH(QString, notice);
        const QString file = path(QStringLiteral("case.") + QLatin1String(suffix));
        QVERIFY(writeFile(file, content));
        const Loaded loaded = loadFile(file, format);
        if (!loaded.ok) {
            QCOMPARE(QStringList{loaded.error}, entries);
            return;
        }
        QCOMPARE(loaded.entries, entries);
        QCOMPARE(loaded.result.notice(), notice);
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void readsAscLines_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("notice");
        const QByteArray head = "date Sam Sep 30 15:06:13.191 2017\nbase hex  timestamps absolute\nBegin Triggerblock Sam Sep 30 15:06:13.191 2017\n";
        row("data frames", head + "   0.000000 Start of measurement\n  17.876708 1  6F9             Rx   d 8 05 0C 00 00 00 00 00 00  Length = 240015 BitCount = 124 ID = 1785\n"
                                  "   3.098426 2  18EBFF00x       Tx   d 2 01 A0\n",
            {"6F9 Rx 8 050C000000000000 @17876708", "18EBFF00x Tx 2 01A0 @3098426"});
        row("short time, no direction", head + "     2.5010 2   C8             d 1 09\n", {"C8 Rx 1 09 @2501000"});
        row("remote with and without length", head + "   2.510001 2 100 Rx r\n   2.584921 4 300 Tx r 8 Length = 1704000\n",
            {"100 Rx R 0 @2510001", "300 Tx R 8 @2584921"});
        row("error frames", head + "   2.501000 1 ErrorFrame\n   2.501010 1 ErrorFrame ECC: 10100010\n"
                                   "  30.806898 CANFD   5 Tx ErrorFrame Not Acknowledge error\n",
            {"0 Err 0 @2501000", "0 Err 0 @2501010", "0 Err 0 @30806898"});
        row("length code above 8 with 8 bytes", head + "  13.258671 1  3FF             Tx   d D 55 AA 01 02 03 04 05 06  Length = 232016\n",
            {"3FF Tx 8 55AA010203040506 @13258671"});
        row("64 bytes in a classic line", head + " 0.000000 1  123x Rx d 40 " + QByteArray("00 ").repeated(64) + "\n  1.0 1 1 Rx d 0\n",
            {"1 Rx 0 @1000000"}, "1 CAN-FD-Nachrichten übersprungen");
        row("fd frames", head + "  30.005021 CANFD   1 Rx        300                                   1 0 8  8 11 c2 03 04 05 06 07 08   102203  133\n"
                                "  30.005071 CANFD   3 Rx        30a  Generic_Name_12                  1 1 8  8 01 02 03 04 05 06 07 08   102203\n"
                                "  31.506898 CANFD   4 Rx        1C4D80A7x    Name_2       1 0 f 64 " + QByteArray("00 ").repeated(64) + "64 1331984\n"
                                "  30.300981 CANFD   3 Tx     50005x                                0 1 5 0 140000 73 200050\n",
            {"300 Rx 8 11C2030405060708 @30005021", "30A Rx 8 0102030405060708 @30005071", "50005x Tx R 5 @30300981"},
            "1 CAN-FD-Nachrichten übersprungen");
        row("relative time stamps", "base hex  timestamps relative\n 1.000000 1 1 Rx d 0\n 0.500000 1 2 Rx d 0\n",
            {"1 Rx 0 @1000000", "2 Rx 0 @1500000"});
        row("decimal base", "base dec  timestamps absolute\n 1.0 1 291 Rx d 2 1 255\n 1.0 1 419430400x Rx d 0\n",
            {"123 Rx 2 01FF @1000000", "19000000x Rx 0 @1000000"});
        row("status and other events ignored", head + "   0.015991 CAN 1 Status:chip status error passive - TxErr: 132 RxErr: 0\n"
                                                      "   0.1 1 Statistic: D 0 R 0\n   0.2 1 1 Rx d 0\n",
            {"1 Rx 0 @200000"});
        row("bytes missing", head + " 1.0 1 1 Rx d 4 01 02\n", {"Die Datei enthält keine lesbaren Nachrichten (1 Zeilen nicht erkannt)."});
        row("bytes of one digit, tabs", head + " 1.0 1 1 Rx d 3 1\tA  0F\n 1.0 1 2 Rx d 2 01 ABC\n", {"1 Rx 3 010A0F @1000000"});
        row("identifier too large", head + " 1.0 1 800 Rx d 0\n 1.0 1 20000000x Rx d 0\n",
            {"Die Datei enthält keine lesbaren Nachrichten (2 Zeilen nicht erkannt)."});
    }
    void readsAscLines() { check(Format::Asc, "asc"); }

    void readsAscDates_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("start");
        QTest::newRow("german weekday") << QByteArray("date Sam Sep 30 15:06:13.191 2017") << "30.09.2017 15:06:13.191";
        QTest::newRow("us am") << QByteArray("date Thu Apr 28 10:44:52.480 am 2022") << "28.04.2022 10:44:52.480";
        QTest::newRow("us pm") << QByteArray("date Sat Sep 30 10:06:13.191 PM 2017") << "30.09.2017 22:06:13.191";
        QTest::newRow("twelve am") << QByteArray("date Sat Sep 30 12:00:00.000 am 2017") << "30.09.2017 00:00:00.000";
        QTest::newRow("german month") << QByteArray("date Mo Mär 02 08:00:00 2020") << "02.03.2020 08:00:00.000";
        QTest::newRow("trigger block wins") << QByteArray("date Sat Sep 30 10:06:13.191 2017\nBegin Triggerblock Sat Sep 30 11:00:00.000 2017") << "30.09.2017 11:00:00.000";
        QTest::newRow("unreadable") << QByteArray("date gestern") << "";
    }
    void readsAscDates()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, start);
        QVERIFY(writeFile(path("date.asc"), line + "\n 1.0 1 1 Rx d 0\n"));
        const Loaded loaded = loadFile(path("date.asc"), Format::Asc);
        QVERIFY2(loaded.ok, qPrintable(loaded.error));
        QCOMPARE(loaded.result.startTime.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss.zzz")), start);
    }

    void readsCandumpLines_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("notice");
        row("frames", "(1733600000.123456) can0 123#11223344\n(1733600000.200000) vcan1 18FEF100#0102030405060708\n",
            {"123 Rx 4 11223344 @456", "18FEF100x Rx 8 0102030405060708 @77000"});
        row("remote", "(1.000000) can0 704#R\n(1.000000) can0 705#R3\n", {"704 Rx R 0 @0", "705 Rx R 3 @0"});
        row("direction markers", "(1.5) can0 001#AA R\n(1.5) can0 002# T\n", {"1 Rx 1 AA @0", "2 Tx 0 @0"});
        row("error flag", "(2.0) can0 20000080#0000000000000000\n", {"0 Err 8 0000000000000000 @0"});
        row("fd", "(2.0) can0 123##1" + QByteArray("11").repeated(12) + "\n(2.0) can0 124##0AABB\n", {"124 Rx 2 AABB @0"},
            "1 CAN-FD-Nachrichten übersprungen");
        row("dotted bytes", "(2.0) can0 123#11.22.33\n", {"123 Rx 3 112233 @0"});
        row("earlier stamps stay signed", "(10.0) can0 001#\n(9.999) can0 002#\n", {"1 Rx 0 @0", "2 Rx 0 @-1000"});
        row("bad lines", "(2.0) can0 1234#11\n(2.0) can0 123#1\n(x) can0 1#\n(2.0) can0 1#11 X\n(2.0) can0 123#" + QByteArray("11").repeated(9) + "\n",
            {"Die Datei enthält keine lesbaren Nachrichten (5 Zeilen nicht erkannt)."});
    }
    void readsCandumpLines() { check(Format::Log, "log"); }

    void readsTrcColumns_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("notice");
        row("1.2", ";$FILEVERSION=1.2\n     1)      1059.900 1  Rx         0300  2  01 02\n", {"300 Rx 2 0102 @1059900"});
        row("1.3 with state word", ";$FILEVERSION=1.3\n     2)     17540.300 1  Warng FFFFFFFF -  4    00 00 00 08 BUSHEAVY\n"
                                   "    12)     48937.600 1  Rx        0704 -  1    RTR\n",
            {"0 St 4 00000008 @17540300", "704 Rx R 1 @48937600"});
        row("2.0", ";$FILEVERSION=2.0\n;$COLUMNS=N,O,T,I,d,l,D\n      1     17535.400 DT 00000100 Tx 8  00 00 00 00 00 00 00 01\n"
                   "      2     17540.300 ST          Rx    00 00 00 08\n     12     48937.600 RR     0704 Rx 1\n",
            {"100x Tx 8 0000000000000001 @17535400", "0 St 4 00000008 @17540300", "704 Rx R 1 @48937600"});
        row("2.1", ";$FILEVERSION=2.1\n;$COLUMNS=N,O,T,B,I,d,R,L,D\n      1      2501.000 DT 2      00C8 Tx -  8    09 08 07 06 05 04 03 02\n"
                   "      2     17540.300 ST 1         - Rx -  4    00 00 00 08\n      3         1.234 ER 1         - Rx -  5    04 00 00 00 00\n",
            {"C8 Tx 8 0908070605040302 @2501000", "0 St 4 00000008 @17540300", "0 Err 5 0400000000 @1234"});
        row("2.1 fd and events", ";$FILEVERSION=2.1\n      1  1.0 FD 1 0100 Rx - 9 " + QByteArray("00 ").repeated(12) + "\n"
                                 "      2  2.0 FB 1 0101 Rx - 2 AA BB\n      3  3.0 EV 1 Hallo Welt\n",
            {"101 Rx 2 AABB @2000"}, "1 CAN-FD-Nachrichten übersprungen, 1 andere Einträge übersprungen");
        row("own column order", ";$FILEVERSION=2.1\n;$COLUMNS=N,O,T,I,d,L,D\n      1  1.5 DT 0123 Rx 1 FF\n", {"123 Rx 1 FF @1500"});
        row("3.0 refused", ";$FILEVERSION=3.0\n      1  1.5 DT 0123 Rx 1 FF\n", {"Dieses PCAN-Trace-Format (Version 3.0) wird nicht unterstützt."});
        row("bad columns", ";$FILEVERSION=2.1\n;$COLUMNS=N,D,O\n", {"Die Spaltenangabe der PCAN-Trace-Datei ist nicht lesbar: ;$COLUMNS=N,D,O"});
        row("bytes missing", ";$FILEVERSION=2.1\n      1  1.5 DT 1 0123 Rx - 2 FF\n",
            {"Die Datei enthält keine lesbaren Nachrichten (1 Zeilen nicht erkannt)."});
    }
    void readsTrcColumns() { check(Format::Trc, "trc"); }

    void readsBlfObjects_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("notice");
        const QByteArray std1 = blfObject(1, canMessage(0x123, 0, 2, "\x01\xAB"), 12300000);
        const QByteArray ext = blfObject(86, canMessage(0x98FEF100, 0x01, 8, "\x01\x02\x03\x04\x05\x06\x07\x08") + QByteArray(8, '\0'), 1500, 1);
        const QByteArray remote = blfObject(1, canMessage(0x704, 0x80, 1, QByteArray()), 2000000);
        QByteArray errorExt(32, '\0');
        errorExt[10] = 2;
        errorExt[24] = char(0xAA);
        const QByteArray error = blfObject(73, errorExt, 3000000);
        QByteArray fd(84, '\0');
        fd[13] = 1;   // EDL
        fd[14] = 12;  // bytes
        const QByteArray fdLong = blfObject(100, fd, 4000000);
        const QByteArray other = blfObject(65, QByteArray(12, 'x'), 0);
        row("one container", blfFile(container(std1 + ext + remote + error)),
            {"123 Rx 2 01AB @12300", "18FEF100x Tx 8 0102030405060708 @15000", "704 Rx R 1 @2000", "0 Err 2 AA00 @3000"});
        row("object across containers", blfFile(container(std1 + ext.left(20)) + container(ext.mid(20), false)),
            {"123 Rx 2 01AB @12300", "18FEF100x Tx 8 0102030405060708 @15000"});
        row("outside a container", blfFile(std1), {"123 Rx 2 01AB @12300"});
        row("skipped kinds", blfFile(container(fdLong + other + std1)), {"123 Rx 2 01AB @12300"},
            "1 CAN-FD-Nachrichten übersprungen, 1 andere Einträge übersprungen");
        row("truncated at the end", blfFile(container(std1, false) + container(remote).left(40)), {"123 Rx 2 01AB @12300"},
            "Datei ab Byte 224 beschädigt, der Rest wurde nicht gelesen");
        row("declared size too small", blfFile(container(std1 + remote, true, 48) + container(error)), {"123 Rx 2 01AB @12300"},
            "Datei ab Byte 144 beschädigt, der Rest wurde nicht gelesen");
        row("declared size huge", blfFile(container(std1, true, 0xFFFFFFF0)), {"Die Datei enthält keine Nachrichten. Datei ab Byte 144 beschädigt, der Rest wurde nicht gelesen."});
        row("object size huge", blfFile(container(std1.left(8) + "\xFF\xFF\xFF\x7F" + std1.mid(12))),
            {"Die Datei enthält keine Nachrichten. Datei ab Byte 144 beschädigt, der Rest wurde nicht gelesen."});
        row("header size beyond the file", QByteArray("LOGG\xFF\xFF\x00\x00").leftJustified(144, '\0'), {"Der Kopf der BLF-Datei ist beschädigt."});
        row("not a blf file", "date Sat Sep 30\n", {"Das ist keine BLF-Datei."});
    }
    void readsBlfObjects() { check(Format::Blf, "blf"); }

    void blfStartTimeIsTheTracesStart()
    {
        QVERIFY(writeFile(path("start.blf"), blfFile(blfObject(1, canMessage(1, 0, 0, {}), 0))));
        const Loaded loaded = loadFile(path("start.blf"), Format::Blf);
        QVERIFY2(loaded.ok, qPrintable(loaded.error));
        QCOMPARE(loaded.result.startTime, QDateTime(QDate(2026, 12, 7), QTime(18, 30, 5, 250), Qt::LocalTime));
    }

    void readsOtherToolsLogs_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("count");  // -1: nothing to load
        QTest::addColumn<int>("fd");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("start");
        auto add = [](const char *file, Format format, int count, int fd, const char *first, const char *start) {
            QTest::newRow(file) << corpus(file) << int(format) << count << fd << QString::fromUtf8(first) << QString::fromLatin1(start);
        };
        add("asc/issue_1299.asc", Format::Asc, 4, 0, "180 Tx 8 6A00000000000000 @13258199", "28.04.2022 10:44:52");
        add("asc/logfile_errorframes.asc", Format::Asc, 12, 0, "0 Err 0 @2501000", "30.09.2017 15:06:13");
        add("asc/single_frame.asc", Format::Asc, -1, 1, "", "");
        add("asc/single_frame_us_locale.asc", Format::Asc, 1, 0, "123x Rx 1 68 @0", "30.09.2017 15:06:13");
        add("asc/test_CanErrorFrames.asc", Format::Asc, 4, 0, "0 Err 0 @2501000", "30.09.2017 15:06:13");
        add("asc/test_CanFdMessage.asc", Format::Asc, 3, 0, "300 Rx 8 11C2030405060708 @30005021", "30.09.2017 15:06:13");
        add("asc/test_CanFdMessage64.asc", Format::Asc, -1, 2, "", "");
        add("asc/test_CanFdRemoteMessage.asc", Format::Asc, 1, 0, "50005x Tx R 5 @30300981", "30.09.2017 15:06:13");
        add("asc/test_CanMessage.asc", Format::Asc, 2, 0, "C8 Tx 8 0908070605040302 @2501000", "30.09.2017 22:06:13");
        add("asc/test_CanRemoteMessage.asc", Format::Asc, 3, 0, "100 Rx R 0 @2510001", "30.09.2017 15:06:13");
        add("blf/test_CanMessage.blf", Format::Blf, 2, 0, "4444444x Rx 8 5566778899AABBCC @2459565876494607", "");
        add("blf/test_CanFdMessage.blf", Format::Blf, -1, 2, "", "");
        add("blf/test_CanFdMessage64.blf", Format::Blf, -1, 2, "", "");
        add("blf/issue_1905.blf", Format::Blf, -1, 22, "", "");
        add("trc/test_CanMessage_V1_3.trc", Format::Trc, 12, 0, "100x Tx 8 0000000000000000 @17535400", "18.12.2021 14:28:07");
        add("trc/test_CanMessage_V2_0_BUS1.trc", Format::Trc, 12, 0, "100x Tx 8 0000000000000000 @17535400", "18.12.2021 14:28:07");
        add("trc/test_CanMessage_V2_1.trc", Format::Trc, 12, 0, "100x Tx 8 0000000000000000 @17535400", "18.12.2021 14:28:07");
        add("trc/test_CanMessage.trc", Format::Trc, 2, 0, "C8 Tx 8 0908070605040302 @2501000", "30.09.2017 22:06:13");
    }
    void readsOtherToolsLogs()
    {
        QFETCH(QString, file);
        QFETCH(int, format);
        QFETCH(int, count);
        QFETCH(int, fd);
        QFETCH(QString, first);
        QFETCH(QString, start);
        if (!QFile::exists(file))
            QSKIP("corpus not available");
        TraceFile::Format byContent = Format::Csv;
        QVERIFY(TraceFile::formatOfFile(file, &byContent, nullptr));
        QCOMPARE(int(byContent), format);
        const Loaded loaded = loadFile(file, Format(format));
        QCOMPARE(loaded.result.skippedFd, qint64(loaded.ok ? fd : 0));
        if (count < 0) {
            QVERIFY(!loaded.ok);
            QVERIFY2(loaded.error.contains(QStringLiteral("%1 CAN-FD-Nachrichten übersprungen").arg(fd)), qPrintable(loaded.error));
            return;
        }
        QVERIFY2(loaded.ok, qPrintable(loaded.error));
        QCOMPARE(loaded.entries.size(), count);
        QCOMPARE(loaded.entries.first(), first);
        QCOMPARE(loaded.result.startTime.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")), start);
    }

    void writersKeepWhatTheirFormatHolds_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("asc") << int(Format::Asc);
        QTest::newRow("blf") << int(Format::Blf);
        QTest::newRow("log") << int(Format::Log);
    }
    void writersKeepWhatTheirFormatHolds()
    {
        QFETCH(int, format);
        TraceModel model;
        std::deque<TraceEntry> entries;
        auto add = [&](quint32 id, bool ext, bool rtr, bool error, bool tx, int dlc, qint64 us) {
            entries.push_back({quint64(entries.size() + 1), logFrame(id, ext, rtr, error, tx, dlc, us, 0x11)});
        };
        add(0x123, false, false, false, false, 2, 1000123);
        add(0x18FEF100, true, false, false, true, 8, 1000124);
        add(0x7FF, false, false, false, false, 0, 2000000);
        add(0x704, false, true, false, true, 1, 3500001);
        add(0x1FFFFFFF, true, true, false, false, 8, 3600000);
        add(0, false, false, true, false, 0, 4000000);
        const std::deque<TraceEntry> written = entries;
        CanFrame status;
        status.status = true;
        status.timestampUs = 4500000;
        entries.push_back({7, status});
        const QDateTime start(QDate(2026, 12, 7), QTime(18, 0, 0, 125), Qt::LocalTime);
        model.replaceEntries(std::move(entries), start);
        const QString file = path(QStringLiteral("back.") + TraceFile::ending(Format(format)));
        QString error;
        TraceFile::SaveResult saved;
        QVERIFY2(model.save(file, Format(format), &error, &saved), qPrintable(error));
        // The save says what it left out; a PCAN trace keeps the status.
        QCOMPARE(saved.count, qint64(written.size()));
        QCOMPARE(saved.notice(), QStringLiteral("1 Statuseinträge nicht gespeichert (im Format nicht darstellbar)"));
        QVERIFY2(model.save(path(QStringLiteral("status.trc")), Format::Trc, &error, &saved), qPrintable(error));
        QCOMPARE(saved.count, qint64(written.size() + 1));
        QCOMPARE(saved.notice(), QString());
        // A copy without ending is read by its content.
        TraceFile::Format byContent = Format::Csv;
        QVERIFY(QFile::copy(file, path(QStringLiteral("ohne%1").arg(format))));
        QVERIFY(TraceFile::formatOfFile(path(QStringLiteral("ohne%1").arg(format)), &byContent, nullptr));
        QCOMPARE(int(byContent), format);

        const Loaded loaded = loadFile(file, Format(format));
        QVERIFY2(loaded.ok, qPrintable(loaded.error));
        // A candump log starts at its first frame; every format keeps the
        // absolute time of each frame to the microsecond.
        const qint64 shiftUs = (loaded.result.startTime.toMSecsSinceEpoch() - start.toMSecsSinceEpoch()) * 1000;
        QCOMPARE(shiftUs, format == int(Format::Log) ? 1000000 : 0);
        // Status entries are driver notices and stay out of bus logs.
        QCOMPARE(loaded.entries.size(), int(written.size()));
        for (int i = 0; i < int(written.size()); ++i) {
            TraceEntry want = written[size_t(i)];
            want.frame.timestampUs -= shiftUs;
            QCOMPARE(loaded.entries.at(i), describe(want));
        }
    }

    void writersWriteTheirLines_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("lines");
        QTest::newRow("asc") << int(Format::Asc)
                             << QByteArray("date Mon Dec 07 18:00:00.125 2026\nbase hex  timestamps absolute\ninternal events logged\n// version 9.0.0\n"
                                           "Begin Triggerblock Mon Dec 07 18:00:00.125 2026\n   0.000000 Start of measurement\n"
                                           "  0.012300 1  123             Rx   d 2 01 AB\n  1.500000 1  18FEF100x       Tx   d 8 01 02 03 04 05 06 07 08\n"
                                           "  2.000000 1  704             Rx   r 1\n  3.000001 1  ErrorFrame\nEnd TriggerBlock\n");
        QTest::newRow("log") << int(Format::Log)
                             << QByteArray("(1796666400.137300) can0 123#01AB R\n(1796666401.625000) can0 18FEF100#0102030405060708 T\n"
                                           "(1796666402.125000) can0 704#R1 R\n(1796666403.125001) can0 20000080# R\n");
    }
    void writersWriteTheirLines()
    {
        QFETCH(int, format);
        QFETCH(QByteArray, lines);
        const QByteArray savedTz = qgetenv("TZ");
        qputenv("TZ", "UTC");
        tzset();
        const auto restore = qScopeGuard([&] {
            if (savedTz.isNull())
                qunsetenv("TZ");
            else
                qputenv("TZ", savedTz);
            tzset();
        });
        TraceModel model;
        std::deque<TraceEntry> entries;
        CanFrame a;
        a.id = 0x123;
        a.dlc = 2;
        a.data[0] = 0x01;
        a.data[1] = 0xAB;
        a.timestampUs = 12300;
        CanFrame b;
        b.id = 0x18FEF100;
        b.extended = true;
        b.tx = true;
        b.dlc = 8;
        for (int i = 0; i < 8; ++i)
            b.data[i] = quint8(i + 1);
        b.timestampUs = 1500000;
        CanFrame c;
        c.id = 0x704;
        c.rtr = true;
        c.dlc = 1;
        c.timestampUs = 2000000;
        CanFrame d;
        d.error = true;
        d.timestampUs = 3000001;
        entries = {{1, a}, {2, b}, {3, c}, {4, d}};
        model.replaceEntries(std::move(entries), QDateTime(QDate(2026, 12, 7), QTime(18, 0, 0, 125), Qt::LocalTime));
        const QString file = path(QStringLiteral("lines.") + TraceFile::ending(Format(format)));
        QString error;
        QVERIFY2(model.save(file, Format(format), &error), qPrintable(error));
        QFile written(file);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), lines);
    }
};

QTEST_GUILESS_MAIN(TestTraceFormats)
#include "tst_traceformats.moc"
