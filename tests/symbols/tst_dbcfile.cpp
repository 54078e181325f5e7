// DBC reader: bit layout, scaling and types, value descriptions, comments and
// attributes, multiplexing onto variants, character sets, faulty input.
#include "dbcfile.h"
#include "symtestutil.h"

#include <QtTest>

#include <cmath>

namespace {

const QByteArray Head = "VERSION \"\"\n\nNS_ :\n\tCM_\n\tBA_DEF_\n\tVAL_\n\tSG_MUL_VAL_\n\nBS_:\n\nBU_: ECU1 ECU2\n\n";

bool loadDbc(SymbolDatabase &db, const QByteArray &body, QStringList *warnings = nullptr, QString *error = nullptr)
{
    QString localError;
    const bool ok = db.loadData(Head + body, QStringLiteral("test.dbc"), error ? error : &localError, warnings);
    if (!ok && !error)
        qWarning("load failed: %s", qPrintable(localError));
    return ok;
}

QStringList namesOf(const SymMessage &message)
{
    QStringList names;
    for (const SymVariable &v : message.variables)
        names.append(v.name);
    return names;
}

} // namespace

class TestDbcFile : public QObject
{
    Q_OBJECT

private slots:
    void bitLayout_data();
    void bitLayout();
    void signalProperties();
    void valueDescriptions();
    void commentsAndAttributes();
    void simpleMultiplexing();
    void extendedMultiplexing();
    void unmappableMultiplexing();
    void characterSets_data();
    void characterSets();
    void statementRecovery_data();
    void statementRecovery();
    void faultyInput();
    void formatDetection();
    void habitsOfOtherTools();
};

void TestDbcFile::bitLayout_data()
{
    QTest::addColumn<QByteArray>("position");   // "start|length@order sign"
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<qint64>("raw");

    QTest::newRow("intel 16") << QByteArray("0|16@1+") << QByteArray::fromHex("3412") << qint64(0x1234);
    QTest::newRow("intel odd start") << QByteArray("4|8@1+") << QByteArray::fromHex("A00B") << qint64(0xBA);
    // Motorola: the start bit is the most significant bit, in the slot numbering.
    QTest::newRow("motorola 16") << QByteArray("7|16@0+") << QByteArray::fromHex("1234") << qint64(0x1234);
    QTest::newRow("motorola across bytes") << QByteArray("4|8@0+") << QByteArray::fromHex("1FE0") << qint64(0xFF);
    QTest::newRow("motorola nibble") << QByteArray("3|4@0+") << QByteArray::fromHex("0A") << qint64(0xA);
    QTest::newRow("motorola 64") << QByteArray("7|64@0+") << QByteArray::fromHex("0102030405060708")
                                 << qint64(0x0102030405060708LL);
    QTest::newRow("motorola last byte") << QByteArray("63|8@0+") << QByteArray::fromHex("00000000000000C3") << qint64(0xC3);
    QTest::newRow("signed intel 12") << QByteArray("0|12@1-") << QByteArray::fromHex("0008") << qint64(-2048);
    QTest::newRow("signed motorola 1 bit") << QByteArray("7|1@0-") << QByteArray::fromHex("80") << qint64(-1);
}

void TestDbcFile::bitLayout()
{
    QFETCH(QByteArray, position);
    QFETCH(QByteArray, data);
    QFETCH(qint64, raw);
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadDbc(db, "BO_ 256 M: 8 ECU1\n SG_ S : " + position + " (1,0) [0|0] \"\" ECU2\n", &warnings));
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    QCOMPARE(db.messages.size(), 1);
    const SymVariable &v = db.messages.at(0).variables.at(0);
    CanFrame frame = frameOf(0x100, {0, 0, 0, 0, 0, 0, 0, 0});
    std::copy(data.cbegin(), data.cend(), frame.data);
    QCOMPARE(db.rawValue(v, frame), raw);
    // The slot list is the position's own run of bits: writing back gives the data.
    CanFrame written = frameOf(0x100, {0, 0, 0, 0, 0, 0, 0, 0});
    SymbolDatabase::setRawValue(v, raw, written);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(written.data), data.size()), data);
}

void TestDbcFile::signalProperties()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadDbc(db,
                    "BO_ 2566844926 Engine: 8 ECU1\n"
                    " SG_ Speed : 0|16@1+ (0.01,-5) [-5|650.35] \"km/h\" ECU2,ECU1\n"
                    " SG_ Temp : 16|8@1- (1,-40) [0|0] \"degC\" Vector__XXX\n"
                    " SG_ Ratio : 32|32@1- (2,1) [0|0] \"\" ECU2\n"
                    "BO_ 100 Wide: 8 Vector__XXX\n"
                    " SG_ Value : 0|64@1- (1,0) [0|0] \"\" ECU1\n"
                    "SIG_VALTYPE_ 2566844926 Ratio : 1;\n"
                    "SIG_VALTYPE_ 100 Value : 2;\n",
                    &warnings));
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    QCOMPARE(db.messages.size(), 2);
    const SymMessage &engine = db.messages.at(0);
    QVERIFY(engine.extended);
    QCOMPARE(engine.idLow, 0x18FEF1FEu);
    QCOMPARE(engine.length, 8);
    QVERIFY(!engine.lengthUnspecified);
    QCOMPARE(engine.sender, QStringLiteral("ECU1"));
    QCOMPARE(db.messages.at(1).sender, QString());

    const SymVariable &speed = engine.variables.at(0);
    QCOMPARE(speed.unit, QStringLiteral("km/h"));
    QCOMPARE(speed.factor, 0.01);
    QCOMPARE(speed.offset, -5.0);
    QVERIFY(speed.hasMin && speed.hasMax);
    QCOMPARE(speed.maximum, 650.35);
    QCOMPARE(speed.receivers, QStringList({QStringLiteral("ECU2"), QStringLiteral("ECU1")}));
    const SymVariable &temp = engine.variables.at(1);
    QVERIFY(temp.isSigned);
    QVERIFY(!temp.hasMin && !temp.hasMax);   // [0|0] means no limits
    QVERIFY(temp.receivers.isEmpty());

    CanFrame frame = frameOf(0x18FEF1FE, {0x10, 0x27, 0xD8, 0, 0x00, 0x00, 0xC0, 0x3F}, true);
    QCOMPARE(db.find(frame), &db.messages.at(0));
    QCOMPARE(db.physicalValue(speed, frame), 95.0);
    QCOMPARE(db.physicalValue(temp, frame), -80.0);
    const SymVariable &ratio = engine.variables.at(2);
    QCOMPARE(ratio.type, int(SymType::Float));
    QCOMPARE(db.physicalValue(ratio, frame), 4.0);   // 1.5 * 2 + 1

    const SymVariable &value = db.messages.at(1).variables.at(0);
    QCOMPARE(value.type, int(SymType::Double));
    CanFrame wide = frameOf(100, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F});
    QCOMPARE(db.physicalValue(value, wide), 1.5);
    QCOMPARE(db.decodeText(frame), QStringLiteral("Speed=95.00 km/h; Temp=-80 degC; Ratio=4"));
}

void TestDbcFile::valueDescriptions()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadDbc(db,
                    "VAL_TABLE_ Gear 0 \"P\" 1 \"R\" 2 \"N\" 3 \"D\" ;\n"
                    "BO_ 512 Drive: 2 ECU1\n"
                    " SG_ Gear : 0|4@1+ (1,0) [0|3] \"\" ECU2\n"
                    " SG_ Dir : 8|2@1- (1,0) [0|0] \"\" ECU2\n"
                    "BO_ 513 Other: 1 ECU1\n"
                    " SG_ Gear : 0|4@1+ (1,0) [0|0] \"\" ECU2\n"
                    "VAL_ 512 Gear 0 \"Park\" 1 \"Reverse\" 2 \"Neutral\" 3 \"Drive\" ;\n"
                    "VAL_ 512 Dir -1 \"back\" 0 \"stop\" 1 \"forward\" ;\n"
                    "VAL_ 513 Gear 7 \"Seven\";\n",
                    &warnings));
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    // The value table keeps its name; the descriptions get names of their own.
    QVERIFY(db.enumByName(QStringLiteral("Gear")));
    QCOMPARE(db.enumByName(QStringLiteral("Gear"))->values.value(2), QStringLiteral("N"));
    QCOMPARE(db.enums.size(), 4);
    const SymMessage &drive = db.messages.at(0);
    const SymEnum *gear = db.enumFor(drive.variables.at(0));
    QVERIFY(gear);
    QCOMPARE(gear->values.value(3), QStringLiteral("Drive"));
    QVERIFY(db.enumFor(db.messages.at(1).variables.at(0)) != gear);
    QCOMPARE(drive.variables.at(1).type, int(SymType::Signed));

    const CanFrame frame = frameOf(0x200, {0x03, 0x03});
    QCOMPARE(db.decodeText(frame), QStringLiteral("Gear=Drive; Dir=back"));
    QCOMPARE(db.decodeText(frameOf(0x200, {0x05, 0x01})), QStringLiteral("Gear=5; Dir=forward"));
    // Entering the text gives the raw value.
    qint64 raw = 0;
    QString error;
    QVERIFY(db.parseValue(drive.variables.at(0), QStringLiteral("neutral"), &raw, &error));
    QCOMPARE(raw, qint64(2));
}

void TestDbcFile::commentsAndAttributes()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadDbc(db,
                    "BO_ 291 Status: 8 ECU1\n"
                    " SG_ Level : 0|8@1+ (0.5,0) [0|100] \"%\" ECU2\n"
                    " SG_ Mode : 8|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    "BO_ 2364540158 Pgn: 8 ECU1\n"
                    " SG_ Value : 0|32@1+ (1,0) [0|0] \"\" ECU2\n"
                    "BO_ 1 Fd: 16 ECU1\n"
                    " SG_ Low : 0|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    " SG_ High : 64|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    "CM_ \"Netzwerk\";\n"
                    "CM_ BU_ ECU1 \"Steuergerät\";\n"
                    "CM_ BO_ 291 \"Zustand\nüber zwei Zeilen; mit \\\"Zitat\\\"\";\n"
                    "CM_ SG_ 291 Level \"Füllstand\";\n"
                    "BA_DEF_ BO_ \"GenMsgCycleTime\" INT 0 10000;\n"
                    "BA_DEF_ SG_ \"GenSigStartValue\" INT 0 100000;\n"
                    "BA_DEF_ BO_ \"VFrameFormat\" ENUM \"StandardCAN\",\"ExtendedCAN\",\"reserved\",\"J1939PG\","
                    "\"r\",\"r\",\"r\",\"r\",\"r\",\"r\",\"r\",\"r\",\"r\",\"r\",\"StandardCAN_FD\",\"ExtendedCAN_FD\";\n"
                    "BA_DEF_ \"BusType\" STRING ;\n"
                    "BA_DEF_DEF_ \"GenMsgCycleTime\" 100;\n"
                    "BA_DEF_DEF_ \"GenSigStartValue\" 0;\n"
                    "BA_DEF_DEF_ \"VFrameFormat\" \"StandardCAN\";\n"
                    "BA_ \"BusType\" \"CAN\";\n"
                    "BA_ \"GenMsgCycleTime\" BO_ 291 20;\n"
                    "BA_ \"GenSigStartValue\" SG_ 291 Level 150;\n"
                    "BA_ \"VFrameFormat\" BO_ 2364540158 3;\n"
                    "BA_ \"VFrameFormat\" BO_ 1 14;\n"
                    "BA_ \"GenSigSendType\" SG_ 291 Mode 1;\n"
                    "SIG_GROUP_ 291 Group 1 : Level Mode;\n"
                    "BO_TX_BU_ 291 : ECU1,ECU2;\n"
                    "EV_ Env: 0 [0|1] \"\" 0 1 DUMMY_NODE_VECTOR0 Vector__XXX;\n",
                    &warnings));
    QCOMPARE(db.description, QStringLiteral("Netzwerk"));
    const SymMessage &status = db.messages.at(0);
    QCOMPARE(status.comment, QStringLiteral("Zustand\nüber zwei Zeilen; mit \"Zitat\""));
    QCOMPARE(status.variables.at(0).comment, QStringLiteral("Füllstand"));
    QCOMPARE(status.cycleTime, 20);
    QCOMPARE(db.messages.at(1).cycleTime, 100);   // the attribute's default
    QCOMPARE(db.messages.at(1).frameType, int(SymFrameType::J1939Pg));
    QCOMPARE(status.frameType, int(SymFrameType::Standard));
    QCOMPARE(db.messages.at(2).frameType, int(SymFrameType::FdStandard));
    QCOMPARE(db.messages.at(2).length, 16);
    // The start value is raw; the transmit dialog's frame starts with it.
    QVERIFY(status.variables.at(0).hasDefaultRaw);
    QCOMPARE(status.variables.at(0).defaultRaw, qint64(150));
    QVERIFY(!status.variables.at(1).hasDefaultRaw);
    QCOMPARE(db.defaultFrame(status).data[0], quint8(150));
    // Signals beyond the eight data bytes are named in one warning.
    QCOMPARE(namesOf(db.messages.at(2)), QStringList({QStringLiteral("Low")}));
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.at(0).contains(QLatin1String("Fd")) && warnings.at(0).contains(QLatin1String("High")),
             qPrintable(warnings.at(0)));
}

void TestDbcFile::simpleMultiplexing()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadDbc(db,
                    "BO_ 1024 Mux: 8 ECU1\n"
                    " SG_ Counter : 56|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    " SG_ Page M : 0|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    " SG_ A m1 : 8|16@1+ (1,0) [0|0] \"\" ECU2\n"
                    " SG_ B m1 : 24|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    " SG_ C m2 : 8|8@1- (1,0) [0|0] \"\" ECU2\n"
                    "VAL_ 1024 Page 1 \"Erste\" 2 \"Zweite\" 3 \"Dritte\";\n",
                    &warnings));
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    // One symbol per multiplexor value (named by its value text), then the
    // message for all other values.
    QCOMPARE(db.messages.size(), 3);
    QCOMPARE(db.messages.at(0).displayName(), QStringLiteral("Mux [Erste]"));
    QCOMPARE(namesOf(db.messages.at(0)), QStringList({"Counter", "Page", "A", "B"}));
    QCOMPARE(namesOf(db.messages.at(1)), QStringList({"Counter", "Page", "C"}));
    QCOMPARE(namesOf(db.messages.at(2)), QStringList({"Counter", "Page"}));
    QVERIFY(db.messages.at(0).variables.at(1).multiplexor);
    QCOMPARE(db.messages.at(1).muxBits, db.messages.at(1).variables.at(1).bits);
    QCOMPARE(db.messages.at(1).muxValue, quint64(2));

    QCOMPARE(db.find(frameOf(0x400, {1, 0x34, 0x12, 7, 0, 0, 0, 9}))->displayName(), QStringLiteral("Mux [Erste]"));
    QCOMPARE(db.decodeText(frameOf(0x400, {2, 0xFF, 0, 0, 0, 0, 0, 9})), QStringLiteral("Counter=9; Page=Zweite; C=-1"));
    QCOMPARE(db.find(frameOf(0x400, {3, 0, 0, 0, 0, 0, 0, 0}))->displayName(), QStringLiteral("Mux"));
    // The transmit dialog starts a variant with its multiplexor value.
    QCOMPARE(db.defaultFrame(db.messages.at(1)).data[0], quint8(2));
}

void TestDbcFile::extendedMultiplexing()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadDbc(db,
                    // One signal for several values.
                    "BO_ 1 Values: 8 ECU1\n"
                    " SG_ Mux M : 0|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    " SG_ Many m0 : 8|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    " SG_ One m1 : 8|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    // Cascaded: B is a multiplexor selected by A = 2.
                    "BO_ 2 Cascaded: 8 ECU1\n"
                    " SG_ A M : 0|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    " SG_ A1 m1 : 8|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    " SG_ B m2M : 8|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    " SG_ B0 m0 : 16|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    " SG_ B1 m1 : 24|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    "SG_MUL_VAL_ 1 Many Mux 0-0, 3-5;\n"
                    "SG_MUL_VAL_ 1 One Mux 1-1;\n"
                    "SG_MUL_VAL_ 2 A1 A 1-1;\n"
                    "SG_MUL_VAL_ 2 B A 2-2;\n"
                    "SG_MUL_VAL_ 2 B0 B 0-0;\n"
                    "SG_MUL_VAL_ 2 B1 B 1-1;\n",
                    &warnings));
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    const auto decodedNames = [&](const CanFrame &frame) {
        const SymMessage *m = db.find(frame);
        QStringList names;
        if (m) {
            for (const SymSignalValue &v : db.decode(*m, frame))
                names.append(v.name);
        }
        return names;
    };
    for (int value : {0, 3, 4, 5})
        QCOMPARE(decodedNames(frameOf(1, {value, 0, 0, 0, 0, 0, 0, 0})), QStringList({"Mux", "Many"}));
    QCOMPARE(decodedNames(frameOf(1, {1, 0, 0, 0, 0, 0, 0, 0})), QStringList({"Mux", "One"}));
    QCOMPARE(decodedNames(frameOf(1, {6, 0, 0, 0, 0, 0, 0, 0})), QStringList({"Mux"}));

    QCOMPARE(decodedNames(frameOf(2, {1, 0, 0, 0, 0, 0, 0, 0})), QStringList({"A", "A1"}));
    QCOMPARE(decodedNames(frameOf(2, {2, 0, 0, 0, 0, 0, 0, 0})), QStringList({"A", "B", "B0"}));
    QCOMPARE(decodedNames(frameOf(2, {2, 1, 0, 0, 0, 0, 0, 0})), QStringList({"A", "B", "B1"}));
    QCOMPARE(decodedNames(frameOf(2, {2, 7, 0, 0, 0, 0, 0, 0})), QStringList({"A", "B"}));
    QCOMPARE(decodedNames(frameOf(2, {0, 1, 0, 0, 0, 0, 0, 0})), QStringList({"A"}));
    // Every variant starts its frame with the values that select it (or a
    // variant that refines it, as the nested multiplexor starts at 0).
    for (const SymMessage &m : db.messages) {
        const SymMessage *found = db.find(db.defaultFrame(m));
        QVERIFY(found);
        QVERIFY2(found->muxName.startsWith(m.muxName), qPrintable(found->displayName() + " / " + m.displayName()));
    }
}

void TestDbcFile::unmappableMultiplexing()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadDbc(db,
                    "BO_ 7 Two: 8 ECU1\n"
                    " SG_ Plain : 56|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    " SG_ M1 M : 0|4@1+ (1,0) [0|0] \"\" ECU2\n"
                    " SG_ M2 M : 4|4@1+ (1,0) [0|0] \"\" ECU2\n"
                    " SG_ Which m1 : 8|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    "BO_ 8 Wide: 8 ECU1\n"
                    " SG_ Sel M : 0|16@1+ (1,0) [0|0] \"\" ECU2\n"
                    " SG_ Any m0 : 16|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    "SG_MUL_VAL_ 8 Any Sel 0-40000;\n",
                    &warnings));
    // Two multiplexors and no SG_MUL_VAL_: which one selects "Which" is open.
    QCOMPARE(warnings.size(), 2);
    QVERIFY2(warnings.at(0).contains(QLatin1String("Which")), qPrintable(warnings.at(0)));
    QVERIFY2(warnings.at(1).contains(QLatin1String("Any")), qPrintable(warnings.at(1)));
    QCOMPARE(db.messages.size(), 2);
    QCOMPARE(namesOf(db.messages.at(0)), QStringList({"Plain", "M1", "M2"}));
    QCOMPARE(namesOf(db.messages.at(1)), QStringList({"Sel"}));
}

void TestDbcFile::characterSets_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("warning");   // start of the one warning; empty: none

    const QByteArray utf8 = QString::fromUtf8("BO_ 16 Temp: 1 ECU1\n SG_ T : 0|8@1+ (1,0) [0|0] \"°C\" ECU2\n"
                                              "CM_ SG_ 16 T \"Kühlwasser €\";\n").toUtf8();
    QTest::newRow("windows-1252") << QByteArray("BO_ 16 Temp: 1 ECU1\n SG_ T : 0|8@1+ (1,0) [0|0] \"\xB0" "C\" ECU2\n"
                                                "CM_ SG_ 16 T \"K\xFChlwasser \x80\";\n")
                                  << QString();
    QTest::newRow("utf-8") << utf8 << QString();
    // UTF-8 with one byte of Windows-1252 (line 15): the rest stays UTF-8.
    QByteArray mixed = utf8;
    mixed.replace(QString::fromUtf8("€").toUtf8(), "\x80");
    QTest::newRow("utf-8 with one windows-1252 byte") << mixed << QStringLiteral("UTF-8 mit einzelnen Windows-1252-Zeichen");
    // Line ends of CR alone, the head included.
    QByteArray cr = utf8;
    QTest::newRow("cr line ends") << cr.replace('\n', '\r') << QString();
    QTest::newRow("cr line ends, mixed") << mixed.replace('\n', '\r') << QStringLiteral("UTF-8 mit einzelnen Windows-1252-Zeichen");
}

void TestDbcFile::characterSets()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, warning);
    SymbolDatabase db;
    QStringList warnings;
    QByteArray text = Head + body;
    if (!body.contains('\n'))
        text.replace('\n', '\r');
    QVERIFY(db.loadData(text, QStringLiteral("t.dbc"), nullptr, &warnings));
    QCOMPARE(warnings.size(), warning.isEmpty() ? 0 : 1);
    if (!warning.isEmpty())
        QVERIFY2(warnings.at(0).startsWith(warning) && warnings.at(0).endsWith(QLatin1String("(Zeile 15)")), qPrintable(warnings.at(0)));
    QCOMPARE(db.messages.size(), 1);
    QCOMPARE(db.messages.at(0).variables.size(), 1);
    QCOMPARE(db.messages.at(0).variables.at(0).unit, QStringLiteral("°C"));
    QCOMPARE(db.messages.at(0).variables.at(0).comment, QStringLiteral("Kühlwasser €"));
}

void TestDbcFile::statementRecovery_data()
{
    // A statement from line 15 on, then a message that must be read.
    QTest::addColumn<QByteArray>("statement");
    QTest::addColumn<bool>("faulty");         // warned about, on line 15 only
    QTest::addColumn<QStringList>("texts");   // value texts of S that remain

    QTest::newRow("VAL_ without ;") << QByteArray("VAL_ 1 S 1 \"one\" 2 \"two\"\n") << true << QStringList({"one", "two"});
    QTest::newRow("VAL_TABLE_ without ;") << QByteArray("VAL_TABLE_ T 1 \"one\"\n") << true << QStringList();
    QTest::newRow("VAL_ with open quote") << QByteArray("VAL_ 1 S 1 \"one 2 \"two\n") << true << QStringList({"one 2 "});
    QTest::newRow("VAL_ with open quote, no ;") << QByteArray("VAL_ 1 S 1 \"one\n") << true << QStringList();
    QTest::newRow("VAL_TABLE_ with open quote") << QByteArray("VAL_TABLE_ T 1 \"one ;\n") << true << QStringList();
    QTest::newRow("CM_ with open quote") << QByteArray("CM_ SG_ 1 S \"open\n") << true << QStringList();
    // A value text over two lines is no fault, but decoded on one line.
    QTest::newRow("VAL_ text over two lines") << QByteArray("VAL_ 1 S 2 \"zwei\r\nZeilen\" ;\n") << false
                                              << QStringList({"zwei Zeilen"});
}

void TestDbcFile::statementRecovery()
{
    QFETCH(QByteArray, statement);
    QFETCH(bool, faulty);
    QFETCH(QStringList, texts);
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadDbc(db,
                    "BO_ 1 First: 8 ECU1\n SG_ S : 0|8@1+ (1,0) [0|0] \"\" ECU2\n" + statement
                        + "BO_ 2 Next: 8 ECU1\n SG_ X : 0|8@1+ (1,0) [0|0] \"\" ECU2\n"
                          "VAL_ 2 X 1 \"eins\" ;\n",
                    &warnings));
    QCOMPARE(!warnings.isEmpty(), faulty);
    for (const QString &warning : std::as_const(warnings))
        QVERIFY2(warning.startsWith(QLatin1String("Zeile 15")), qPrintable(warnings.join('\n')));
    QCOMPARE(db.messages.size(), 2);
    QCOMPARE(namesOf(db.messages.at(1)), QStringList({"X"}));
    QCOMPARE(db.decodeText(frameOf(2, {1, 0, 0, 0, 0, 0, 0, 0})), QStringLiteral("X=eins"));
    const SymEnum *e = db.enumFor(db.messages.at(0).variables.at(0));
    QCOMPARE(e ? e->values.values() : QStringList(), texts);
    QVERIFY(!db.decodeText(frameOf(1, {2, 0, 0, 0, 0, 0, 0, 0})).contains(QLatin1Char('\n')));
}

void TestDbcFile::faultyInput()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadDbc(db,
                    "BO_ 1 Good: 8 ECU1\n"                                    // line 13
                    " SG_ Ok : 0|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    " SG_ Broken : 8|8@2+ (1,0) [0|0] \"\" ECU2\n"            // line 15
                    " SG_ Late : 16|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    "BO_ x Bad: 8 ECU1\n"                                      // line 17
                    " SG_ Orphan : 0|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    "CM_ SG_ 1 Ok \"no end\"\n"                                // line 19: ';' missing
                    "VAL_ 1 Ok 1 \"one\" 2 \"two\" ;\n"
                    "VAL_ 1 Nope 1 \"x\" ;\n"                                  // line 21
                    "BO_ 2048 NoBit: 8 ECU1\n"                                 // line 22
                    " SG_ X : 0|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    "WHATEVER 1 2 3\n",                                        // line 24
                    &warnings));
    QCOMPARE(db.messages.size(), 2);
    QCOMPARE(namesOf(db.messages.at(0)), QStringList({"Ok", "Late"}));
    QCOMPARE(db.messages.at(0).variables.at(0).comment, QStringLiteral("no end"));
    QCOMPARE(db.enumFor(db.messages.at(0).variables.at(0))->values.value(2), QStringLiteral("two"));
    QVERIFY(db.messages.at(1).extended);
    const QStringList expected = {
        QStringLiteral("Zeile 15, Spalte 19: "), QStringLiteral("Zeile 17, Spalte 5: "),
        QStringLiteral("Zeile 18, Spalte 2: "), QStringLiteral("Zeile 19, Spalte 22: "),
        QStringLiteral("Zeile 21, Spalte 8: "), QStringLiteral("Zeile 22, Spalte 1: "),
        QStringLiteral("Zeile 24, Spalte 1: "),
    };
    QCOMPARE(warnings.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QVERIFY2(warnings.at(i).startsWith(expected.at(i)), qPrintable(warnings.join(QLatin1Char('\n'))));
    QVERIFY(warnings.at(0).contains(QLatin1String("Broken")));
    QVERIFY(warnings.at(6).contains(QLatin1String("WHATEVER")));

    // Statements about a signal without their identifier are skipped, named
    // by their keyword; the statement after them still counts.
    SymbolDatabase refs;
    QStringList refWarnings;
    QVERIFY(loadDbc(refs,
                    "BO_ 1 M: 8 ECU1\n SG_ S : 0|8@1+ (1,0) [0|0] \"\" ECU2\n"
                    "SG_MUL_VAL_ x S M 1-2;\nSIG_VALTYPE_ y S : 1;\nVAL_ 1 S 1 \"eins\" ;\n",
                    &refWarnings));
    QCOMPARE(refWarnings.size(), 2);
    QVERIFY2(refWarnings.at(0).endsWith(QLatin1String("SG_MUL_VAL_: CAN-ID erwartet")), qPrintable(refWarnings.at(0)));
    QVERIFY2(refWarnings.at(1).endsWith(QLatin1String("SIG_VALTYPE_: CAN-ID erwartet")), qPrintable(refWarnings.at(1)));
    QCOMPARE(refs.enumFor(refs.messages.at(0).variables.at(0))->values.value(1), QStringLiteral("eins"));

    // Content that is no DBC at all fails; so does a binary file.
    QString error;
    QVERIFY(!db.loadData("hello world\n", QStringLiteral("x.dbc"), &error));
    QVERIFY2(error.contains(QLatin1String("keine DBC-Datei")), qPrintable(error));
    QVERIFY(!db.loadData(QByteArray("\x00\x01\x02\xFF", 4), QStringLiteral("x.dbc"), &error));
    // Truncated in the middle of a string: what came before stays.
    QVERIFY(loadDbc(db, "BO_ 1 T: 8 E\n SG_ S : 0|8@1+ (1,0) [0|0] \"\" E\nCM_ BO_ 1 \"open", &warnings));
    QCOMPARE(db.messages.size(), 1);
}

void TestDbcFile::formatDetection()
{
    // By ending (any case), else by the first word.
    QVERIFY(DbcFile::isDbc(QStringLiteral("/a/b.DBC"), "FormatVersion=6.0"));
    QVERIFY(DbcFile::isDbc(QStringLiteral("a.txt"), "\xEF\xBB\xBF\r\nVERSION \"1\""));
    QVERIFY(DbcFile::isDbc(QString(), "BU_: A B"));
    QVERIFY(!DbcFile::isDbc(QStringLiteral("a.sym"), "FormatVersion=6.0\n"));
    QVERIFY(!DbcFile::isDbc(QStringLiteral("a.sym"), "// VERSION\nFormatVersion=6.0\n"));

    SymbolDatabase sym;
    QVERIFY(loadText(sym, "FormatVersion=6.0\n{SENDRECEIVE}\n[A]\nID=1h\nVar=x unsigned 0,8\n"));
    QCOMPARE(sym.fileFormat, int(SymFileFormat::Sym));
    SymbolDatabase dbc;
    QVERIFY(loadDbc(dbc, "BO_ 1 A: 8 E\n"));
    QCOMPARE(dbc.fileFormat, int(SymFileFormat::Dbc));
    QCOMPARE(dbc.formatVersion, QString());
    QCOMPARE(dbc.filePath, QFileInfo(QStringLiteral("test.dbc")).absoluteFilePath());
}

void TestDbcFile::habitsOfOtherTools()
{
    // CR LF line ends, keyword names without indentation, "//" comments,
    // nodes on lines of their own, the parking message for unplaced signals.
    SymbolDatabase db;
    QStringList warnings;
    QByteArray text = "// written by hand\nVERSION \"\"\nNS_ :\nCM_\nBA_DEF_\nFILTER\n\nBS_:\nBU_:\n\tECU1\n\tECU2\n\n"
                      "BO_ 3221225472 VECTOR__INDEPENDENT_SIG_MSG: 0 Vector__XXX\n"
                      " SG_ Loose : 0|8@1+ (1,0) [0|0] \"\" Vector__XXX\n"
                      "BO_ 5 Real: 8 ECU1 // the only real message\n"
                      " SG_ X : 0|8@1+ (1,0) [0|0] \"\" ECU2\n"
                      "CM_ SG_ 3221225472 Loose \"parked\";\n";
    text.replace("\n", "\r\n");
    QVERIFY(db.loadData(text, QStringLiteral("tools.dbc"), nullptr, &warnings));
    // The trailing comment after BO_ is the one thing reported.
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.at(0).startsWith(QLatin1String("Zeile 15, Spalte 20:")), qPrintable(warnings.at(0)));
    QCOMPARE(db.messages.size(), 1);
    QCOMPARE(db.messages.at(0).name, QStringLiteral("Real"));
    QCOMPARE(db.messages.at(0).sender, QStringLiteral("ECU1"));
}

QTEST_GUILESS_MAIN(TestDbcFile)
#include "tst_dbcfile.moc"
