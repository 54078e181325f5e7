#include "edsfile.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

// A data sheet as other CANopen tools write them: upper- and lower-case hex,
// 0x prefixes, $NODEID expressions, a CompactSubObj array, a Latin-1 umlaut.
const char DeviceEds[] =
    "[FileInfo]\n"
    "FileName=device.eds\n"
    "FileVersion=1\n"
    "FileRevision=2\n"
    "EDSVersion=4.0\n"
    "Description=Beispielgerät mit E/A\n"
    "CreatedBy=Another CANopen tool\n"
    "\n"
    "[DeviceInfo]\n"
    "VendorName=Beispiel GmbH\n"
    "VendorNumber=0x00000123\n"
    "ProductName=IO-Modul 8/8\n"
    "ProductNumber=0x4711\n"
    "BaudRate_500=1\n"
    "SimpleBootUpSlave=1\n"
    "NrOfRXPDO=1\n"
    "NrOfTXPDO=1\n"
    "\n"
    "[DummyUsage]\n"
    "Dummy0001=0\n"
    "\n"
    "[Comments]\n"
    "Lines=1\n"
    "Line1=Kommentar mit Umlaut: Größe\n"
    "\n"
    "[MandatoryObjects]\n"
    "SupportedObjects=3\n"
    "1=0x1000\n"
    "2=0x1001\n"
    "3=0x1018\n"
    "\n"
    "[OptionalObjects]\n"
    "SupportedObjects=4\n"
    "1=0x1008\n"
    "2=0x1017\n"
    "3=0x1400\n"
    "4=0x1800\n"
    "\n"
    "[ManufacturerObjects]\n"
    "SupportedObjects=3\n"
    "1=0x2000\n"
    "2=0x2003\n"
    "3=0x2100\n"
    "\n"
    "[1000]\n"
    "ParameterName=Device type\n"
    "ObjectType=0x7\n"
    "DataType=0x0007\n"
    "AccessType=ro\n"
    "DefaultValue=0x000F0191\n"
    "PDOMapping=0\n"
    "\n"
    "[1001]\n"
    "ParameterName=Error register\n"
    "ObjectType=0x7\n"
    "DataType=0x0005\n"
    "AccessType=ro\n"
    "DefaultValue=0\n"
    "PDOMapping=1\n"
    "\n"
    "[1008]\n"
    "ParameterName=Manufacturer device name\n"
    "ObjectType=0x7\n"
    "DataType=0x0009\n"
    "AccessType=const\n"
    "DefaultValue=IO-Modul\n"
    "\n"
    "[1017]\n"
    "ParameterName=Producer heartbeat time\n"
    "ObjectType=0x7\n"
    "DataType=0x0006\n"
    "AccessType=rw\n"
    "DefaultValue=1000\n"
    "LowLimit=0\n"
    "HighLimit=0xFFFF\n"
    "\n"
    "[1018]\n"
    "ParameterName=Identity object\n"
    "ObjectType=0x9\n"
    "SubNumber=3\n"
    "\n"
    "[1018sub0]\n"
    "ParameterName=Number of entries\n"
    "ObjectType=0x7\n"
    "DataType=0x0005\n"
    "AccessType=ro\n"
    "DefaultValue=2\n"
    "\n"
    "[1018sub1]\n"
    "ParameterName=Vendor-ID\n"
    "ObjectType=0x7\n"
    "DataType=0x0007\n"
    "AccessType=ro\n"
    "DefaultValue=0x123\n"
    "\n"
    "[1018sub2]\n"
    "ParameterName=Product code\n"
    "ObjectType=0x7\n"
    "DataType=0x0007\n"
    "AccessType=ro\n"
    "DefaultValue=0X4711\n"
    "\n"
    "[1400]\n"
    "ParameterName=RPDO communication parameter\n"
    "ObjectType=0x9\n"
    "SubNumber=2\n"
    "\n"
    "[1400sub0]\n"
    "ParameterName=Highest sub-index supported\n"
    "DataType=0x0005\n"
    "AccessType=ro\n"
    "DefaultValue=1\n"
    "\n"
    "[1400sub1]\n"
    "ParameterName=COB-ID used by RPDO\n"
    "DataType=0x0007\n"
    "AccessType=rw\n"
    "DefaultValue=$NODEID+0x200\n"
    "\n"
    "[1800]\n"
    "ParameterName=TPDO communication parameter\n"
    "ObjectType=0x9\n"
    "SubNumber=2\n"
    "\n"
    "[1800sub0]\n"
    "ParameterName=Highest sub-index supported\n"
    "DataType=0x0005\n"
    "AccessType=ro\n"
    "DefaultValue=1\n"
    "\n"
    "[1800sub1]\n"
    "ParameterName=COB-ID used by TPDO\n"
    "DataType=0x0007\n"
    "AccessType=rw\n"
    "DefaultValue=0x180+$NODEID\n"
    "\n"
    "[2000]\n"
    "ParameterName=Digital inputs\n"
    "ObjectType=0x8\n"
    "DataType=0x0005\n"
    "AccessType=ro\n"
    "CompactSubObj=8\n"
    "PDOMapping=1\n"
    "\n"
    "[2000Name]\n"
    "NrOfEntries=2\n"
    "1=Input 1-8\n"
    "2=Input 9-16\n"
    "\n"
    "[2003]\n"
    "ParameterName=Offset\n"
    "ObjectType=0x7\n"
    "DataType=0x0003\n"
    "AccessType=rww\n"
    "DefaultValue=-100\n"
    "\n"
    "[2100]\n"
    "ParameterName=Gain\n"
    "ObjectType=0x7\n"
    "DataType=0x0008\n"
    "AccessType=rw\n"
    "DefaultValue=1.5\n"
    "\n";

// The object lists of a DCF, one per list: "1000 1001|1018|2000".
QString dcfLists(const QByteArray &dcf)
{
    QStringList lists;
    for (const char *name : {"[MandatoryObjects]", "[OptionalObjects]", "[ManufacturerObjects]"}) {
        const QString text = QString::fromUtf8(dcf);
        const qsizetype start = text.indexOf(QLatin1String(name));
        if (start < 0)
            return QString();
        QStringList indexes;
        const QStringList lines = text.mid(start).split(QStringLiteral("\r\n")).mid(2); // after SupportedObjects
        for (const QString &line : lines) {
            if (!line.contains(QLatin1Char('=')))
                break;
            indexes << line.section(QStringLiteral("=0x"), 1);
        }
        lists << indexes.join(QLatin1Char(' '));
    }
    return lists.join(QLatin1Char('|'));
}

EdsFile loaded(const QByteArray &text, int node = 5)
{
    EdsFile eds;
    QString error;
    if (!eds.parse(text, node, &error))
        qWarning("%s", qPrintable(error));
    return eds;
}

} // namespace

class TestEdsFile : public QObject
{
    Q_OBJECT

private slots:
    void entries_data();
    void entries();
    void compactArray();
    void names_data();
    void names();
    void access();
    void typeMapping();
    void brokenFiles_data();
    void brokenFiles();
    void warningsNameTheLine();
    void latin1Text();
    void objectListsChecked_data();
    void objectListsChecked();
    void dcfRoundTrip();
    void dcfDeviceInfoInUsualSpellingAndOrder();
};

void TestEdsFile::entries_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("sub");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("dataType");
    QTest::addColumn<QString>("access");
    QTest::addColumn<QString>("defaultValue");
    QTest::newRow("device type") << 0x1000 << 0 << "Device type" << 7 << "ro" << "0x000F0191";
    QTest::newRow("name") << 0x1008 << 0 << "Manufacturer device name" << 9 << "const" << "IO-Modul";
    QTest::newRow("record sub, upper-case X") << 0x1018 << 2 << "Product code" << 7 << "ro" << "0X4711";
    QTest::newRow("$NODEID+0x200") << 0x1400 << 1 << "COB-ID used by RPDO" << 7 << "rw" << "0x205";
    QTest::newRow("0x180+$NODEID") << 0x1800 << 1 << "COB-ID used by TPDO" << 7 << "rw" << "0x185";
    QTest::newRow("sub without ObjectType") << 0x1400 << 0 << "Highest sub-index supported" << 5 << "ro" << "1";
    QTest::newRow("signed") << 0x2003 << 0 << "Offset" << 3 << "rww" << "-100";
    QTest::newRow("real") << 0x2100 << 0 << "Gain" << 8 << "rw" << "1.5";
}

void TestEdsFile::entries()
{
    QFETCH(int, index);
    QFETCH(int, sub);
    QFETCH(QString, name);
    QFETCH(int, dataType);
    QFETCH(QString, access);
    QFETCH(QString, defaultValue);
    const EdsFile eds = loaded(DeviceEds);
    QCOMPARE(eds.productName(), QStringLiteral("IO-Modul 8/8"));
    const EdsFile::Entry *entry = eds.find(quint16(index), quint8(sub));
    QVERIFY(entry);
    QCOMPARE(entry->name, name);
    QCOMPARE(int(entry->dataType), dataType);
    QCOMPARE(entry->accessType, access);
    QCOMPARE(entry->defaultValue, defaultValue);
    QVERIFY(!eds.find(0x1018, 3)); // SubNumber says 3, but there are subs 0..2 only
    QVERIFY(!eds.find(0x6000, 0));
    // Another node ID gives other COB-IDs.
    QCOMPARE(loaded(DeviceEds, 0x22).find(0x1800, 1)->defaultValue, QStringLiteral("0x1A2"));
}

void TestEdsFile::compactArray()
{
    const EdsFile eds = loaded(DeviceEds);
    const EdsFile::Object object = eds.objects().value(0x2000);
    QCOMPARE(object.entries.size(), 9);
    QCOMPARE(object.entries.at(0).name, QStringLiteral("NrOfObjects"));
    QCOMPARE(object.entries.at(0).defaultValue, QStringLiteral("8"));
    QCOMPARE(int(object.entries.at(0).dataType), 5);
    QCOMPARE(object.entries.at(1).name, QStringLiteral("Input 1-8"));
    QCOMPARE(object.entries.at(2).name, QStringLiteral("Input 9-16"));
    QCOMPARE(object.entries.at(3).name, QStringLiteral("Digital inputs3"));
    QCOMPARE(object.entries.at(8).accessType, QStringLiteral("ro"));
    QVERIFY(object.entries.at(8).pdoMapping);
    // Values of a compact array, and a $NODEID sum with an octal term.
    const EdsFile errors = loaded("[1003]\nParameterName=Pre-defined error field\nObjectType=8\nDataType=7\n"
                                  "AccessType=ro\nCompactSubObj=3\n[1003Value]\nNrOfEntries=1\n2=$nodeid+$NODEID+010\n");
    QCOMPARE(errors.entryCount(), 4);
    QCOMPARE(errors.find(0x1003, 2)->defaultValue, QStringLiteral("0x12"));
    QCOMPARE(errors.find(0x1003, 3)->defaultValue, QString());
    QCOMPARE(errors.entryCount(), 4);
}

void TestEdsFile::names_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("key"); // (index << 8) | sub, -1: none
    QTest::newRow("exact") << "Producer heartbeat time" << 0x101700;
    QTest::newRow("no blanks, other case") << "producerHeartbeatTime" << 0x101700;
    QTest::newRow("unique end of a name") << "DeviceName" << 0x100800;
    QTest::newRow("object/sub") << "Identity object/Vendor-ID" << 0x101801;
    QTest::newRow("sub name alone") << "Product_code" << 0x101802;
    QTest::newRow("ambiguous end") << "supported" << -1;
    QTest::newRow("address") << "1018:02" << 0x101802;
    QTest::newRow("0x address") << "0x1018:1" << 0x101801;
    QTest::newRow("section form") << "1018sub2" << 0x101802;
    QTest::newRow("missing address") << "1018:05" << -1;
    QTest::newRow("unknown") << "Drehzahl" << -1;
    QTest::newRow("empty") << " - " << -1;
}

void TestEdsFile::names()
{
    QFETCH(QString, text);
    QFETCH(int, key);
    const EdsFile eds = loaded(DeviceEds);
    const EdsFile::Entry *entry = eds.findByName(text);
    if (key < 0) {
        QVERIFY(!entry);
    } else {
        QVERIFY(entry);
        QCOMPARE((int(entry->index) << 8) | entry->subIndex, key);
    }
}

void TestEdsFile::access()
{
    const EdsFile eds = loaded(DeviceEds);
    QVERIFY(!EdsFile::isWritable(*eds.find(0x1000, 0)));  // ro
    QVERIFY(!EdsFile::isWritable(*eds.find(0x1008, 0)));  // const
    QVERIFY(EdsFile::isWritable(*eds.find(0x1017, 0)));   // rw
    QVERIFY(EdsFile::isWritable(*eds.find(0x2003, 0)));   // rww
    QVERIFY(EdsFile::isReadable(*eds.find(0x2003, 0)));
    EdsFile::Entry writeOnly;
    writeOnly.accessType = QStringLiteral("wo");
    QVERIFY(!EdsFile::isReadable(writeOnly));
    QVERIFY(EdsFile::isWritable(writeOnly));
}

void TestEdsFile::typeMapping()
{
    const struct
    {
        quint16 code;
        Sdo::DataType type;
    } rows[] = {{0x0001, Sdo::Unsigned8}, {0x0002, Sdo::Integer8}, {0x0003, Sdo::Integer16}, {0x0004, Sdo::Integer32},
                {0x0015, Sdo::Integer64}, {0x0007, Sdo::Unsigned32}, {0x001B, Sdo::Unsigned64}, {0x0008, Sdo::Real32},
                {0x0011, Sdo::Real64}, {0x0009, Sdo::VisibleString}, {0x000A, Sdo::Domain}, {0x000F, Sdo::Domain}};
    for (const auto &row : rows) {
        Sdo::DataType type = Sdo::Unsigned8;
        QVERIFY(EdsFile::sdoType(row.code, &type));
        QCOMPARE(type, row.type);
    }
    Sdo::DataType type = Sdo::Unsigned8;
    QVERIFY(!EdsFile::sdoType(0x0010, &type)); // INTEGER24 has no form field
    QVERIFY(!EdsFile::sdoType(0, &type));
    QCOMPARE(EdsFile::typeCodeName(0x0011), QStringLiteral("REAL64"));
    QCOMPARE(EdsFile::typeCodeName(0x0010), QStringLiteral("0x0010"));
}

void TestEdsFile::brokenFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << QByteArray() << "Keine Objekte gefunden – ist das eine EDS- oder DCF-Datei?";
    QTest::newRow("only info") << QByteArray("[FileInfo]\nFileName=x.eds\n")
                               << "Keine Objekte gefunden – ist das eine EDS- oder DCF-Datei?";
    QTest::newRow("binary") << QByteArray("\x7F" "ELF\x02\x01\x00\x00", 8)
                            << "Die Datei enthält Null-Bytes – das ist keine EDS- oder DCF-Datei.";
    QTest::newRow("array without subs") << QByteArray("[2000]\nParameterName=x\nObjectType=8\n")
                                        << "Keine Objekte gefunden – ist das eine EDS- oder DCF-Datei?";
}

void TestEdsFile::brokenFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    EdsFile eds;
    QString error;
    QVERIFY(!eds.parse(bytes, 5, &error));
    QCOMPARE(error, message);
    QVERIFY(eds.isEmpty());
    QTemporaryDir dir;
    QVERIFY(!eds.load(dir.filePath(QStringLiteral("fehlt.eds")), 5, &error));
    QVERIFY2(error.contains(QLatin1String("fehlt.eds kann nicht gelesen werden")), qPrintable(error));
}

void TestEdsFile::warningsNameTheLine()
{
    EdsFile eds;
    QString error;
    QStringList warnings;
    const QByteArray text = "vorher=1\n[1000]\nParameterName=Device type\nDataType=0x7\n[1018\nkaputt\n"
                            "[1018sub1]\nParameterName=Vendor-ID\nDataType=zz\n[2000]\nDataType=0x0005\n";
    QVERIFY(eds.parse(text, 5, &error, &warnings));
    QCOMPARE(warnings, QStringList({
                           QStringLiteral("Zeile 1: Eintrag vor dem ersten Abschnitt übersprungen"),
                           QStringLiteral("Zeile 5: Abschnitt ohne \"]\" übersprungen"),
                           QStringLiteral("Zeile 6: Zeile ohne \"=\" übersprungen"),
                           QStringLiteral("Zeile 10: [2000] ohne ParameterName"),
                           QStringLiteral("Zeile 7: [1018sub1] gehört zu keinem Objekt"),
                       }));
    QCOMPARE(eds.entryCount(), 2);
    QCOMPARE(int(eds.find(0x1000, 0)->dataType), 7);
    // Hundreds of bad lines give a bounded list.
    warnings.clear();
    QVERIFY(eds.parse(QByteArray("[1000]\nParameterName=x\n") + QByteArray("kaputt\n").repeated(500), 5, &error, &warnings));
    QCOMPARE(warnings.size(), 101);
}

void TestEdsFile::latin1Text()
{
    const EdsFile eds = loaded("[2001]\r\nParameterName=Gr\xf6\xdf" "e\r\nDataType=0x0009\r\nAccessType=rw\r\n"
                               "DefaultValue=\xe4\r\n");
    QCOMPARE(eds.find(0x2001, 0)->name, QStringLiteral("Größe"));
    QCOMPARE(eds.find(0x2001, 0)->defaultValue, QStringLiteral("ä"));
    const EdsFile utf8 = loaded("\xEF\xBB\xBF[2001]\nParameterName=Gr\xc3\xb6\xc3\x9f" "e\n");
    QCOMPARE(utf8.find(0x2001, 0)->name, QStringLiteral("Größe"));
}

void TestEdsFile::objectListsChecked_data()
{
    // Lines 1-8: the objects 1000, 1001, 1018 and 2000; the lists follow.
    const QByteArray objects = "[1000]\nParameterName=a\n[1001]\nParameterName=b\n[1018]\nParameterName=c\n"
                               "[2000]\nParameterName=d\n";
    const QByteArray mandatory = "[MandatoryObjects]\nSupportedObjects=2\n1=0x1000\n2=0x1001\n"; // lines 9-12
    const QByteArray manufacturer = "[ManufacturerObjects]\nSupportedObjects=1\n1=0x2000\n";
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<QString>("dcfLists");
    // Older data sheets count the identity object among the optional ones.
    QTest::newRow("1018 as optional object")
        << objects + mandatory + "[OptionalObjects]\nSupportedObjects=1\n1=0x1018\n" + manufacturer << QStringList()
        << "1000 1001|1018|2000";
    QTest::newRow("listed, missing")
        << objects + mandatory + "[OptionalObjects]\nSupportedObjects=2\n1=0x1018\n2=0x1017\n" + manufacturer
        << QStringList{"Zeile 16: Objekt 1017h steht in [OptionalObjects], fehlt aber in der Datei"}
        << "1000 1001|1018|2000";
    QTest::newRow("present, not listed")
        << objects + mandatory + "[OptionalObjects]\nSupportedObjects=1\n1=0x1018\n" + manufacturer
               + "[2001]\nParameterName=e\n"
        << QStringList{"Zeile 19: Objekt 2001h steht in keiner Objektliste"} << "1000 1001|1018|2000 2001";
    QTest::newRow("a whole list missing")
        << objects + mandatory + manufacturer
        << QStringList{"Zeile 5: Objekt 1018h steht in keiner Objektliste"} << "1000 1001 1018||2000";
    QTest::newRow("fewer entries than SupportedObjects")
        << objects + mandatory + "[OptionalObjects]\nSupportedObjects=2\n1=0x1018\n" + manufacturer
        << QStringList{"Zeile 13: [OptionalObjects] 2 fehlt (SupportedObjects=2)"} << "1000 1001|1018|2000";
    QTest::newRow("no SupportedObjects")
        << objects + mandatory + "[OptionalObjects]\n1=0x1018\n" + manufacturer
        << QStringList{"Zeile 13: [OptionalObjects] ohne SupportedObjects"} << "1000 1001|1018|2000";
    QTest::newRow("not an index, listed twice")
        << objects + mandatory + "[OptionalObjects]\nSupportedObjects=3\n1=0x1018\n2=zz\n3=4096\n" + manufacturer
        << QStringList{"Zeile 16: [OptionalObjects] 2=zz ist kein Objektindex",
                       "Zeile 17: Objekt 1000h steht mehrfach in den Objektlisten"}
        << "1000 1001|1018|2000";
    QTest::newRow("no lists: by index") << objects << QStringList() << "1000 1001 1018||2000";
}

void TestEdsFile::objectListsChecked()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, warnings);
    QFETCH(QString, dcfLists);
    EdsFile eds;
    QString error;
    QStringList found;
    QVERIFY2(eds.parse(bytes, 5, &error, &found), qPrintable(error));
    QCOMPARE(found, warnings);
    const QByteArray dcf = eds.toDcf({}, 5);
    QCOMPARE(::dcfLists(dcf), dcfLists);
    // The saved lists match the objects: read back, they warn no more.
    found.clear();
    QVERIFY(eds.parse(dcf, 5, &error, &found));
    QCOMPARE(found, QStringList());
}

void TestEdsFile::dcfRoundTrip()
{
    const EdsFile eds = loaded(DeviceEds, 5);
    QMap<quint32, QByteArray> values;
    values.insert(0x100800, QByteArray("IO-Modul X"));
    values.insert(0x200300, QByteArray("\xFB\xFF", 2));      // -5
    values.insert(0x101700, QByteArray("\xF4\x01", 2));      // 500
    values.insert(0x210000, QByteArray("\x00\x00\x20\x40", 4)); // 2.5
    values.insert(0x200001, QByteArray("\x01\x02", 2));      // wrong length: kept as bytes
    const QByteArray dcf = eds.toDcf(values, 5);
    QVERIFY(dcf.contains("[DeviceComissioning]\r\nNodeID=0x05\r\n"));
    EdsFile back;
    QString error;
    QVERIFY2(back.parse(dcf, 5, &error), qPrintable(error));
    QCOMPARE(back.entryCount(), eds.entryCount());
    QCOMPARE(back.productName(), eds.productName());
    QCOMPARE(back.find(0x1008, 0)->parameterValue, QStringLiteral("IO-Modul X"));
    QCOMPARE(back.find(0x2003, 0)->parameterValue, QStringLiteral("-5"));
    QCOMPARE(back.find(0x1017, 0)->parameterValue, QStringLiteral("0x01F4"));
    QCOMPARE(back.find(0x2100, 0)->parameterValue, QStringLiteral("2.5"));
    QCOMPARE(back.find(0x2000, 1)->parameterValue, QStringLiteral("0x0102"));
    QCOMPARE(back.find(0x1000, 0)->parameterValue, QString());
    for (const EdsFile::Object &object : eds.objects()) {
        for (const EdsFile::Entry &entry : object.entries) {
            const EdsFile::Entry *other = back.find(entry.index, entry.subIndex);
            QVERIFY(other);
            QCOMPARE(other->name, entry.name);
            QCOMPARE(other->dataType, entry.dataType);
            QCOMPARE(other->accessType, entry.accessType);
            QCOMPARE(other->defaultValue, entry.defaultValue);
            QCOMPARE(other->pdoMapping, entry.pdoMapping);
        }
    }
}

void TestEdsFile::dcfDeviceInfoInUsualSpellingAndOrder()
{
    const QByteArray text = "[DeviceInfo]\nnrofrxpdo=4\nProductName=Ventil\nHerstellerFeld=x\nvendorname=Beispiel GmbH\n"
                            "BAUDRATE_250=1\nLSS_Supported=0\nBaudRate_125=1\nVendorNumber=0x123\n"
                            "[1000]\nParameterName=Device type\nDataType=7\n";
    const QByteArray dcf = loaded(text).toDcf({}, 5);
    const qsizetype start = dcf.indexOf("[DeviceInfo]\r\n");
    QVERIFY(start >= 0);
    QCOMPARE(dcf.mid(start, dcf.indexOf("\r\n\r\n", start) - start + 2),
             QByteArray("[DeviceInfo]\r\nVendorName=Beispiel GmbH\r\nVendorNumber=0x123\r\nProductName=Ventil\r\n"
                        "BaudRate_125=1\r\nBaudRate_250=1\r\nNrOfRXPDO=4\r\nLSS_Supported=0\r\nHerstellerFeld=x\r\n"));
}

QTEST_GUILESS_MAIN(TestEdsFile)
#include "tst_edsfile.moc"
