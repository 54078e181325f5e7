#include "sdotypes.h"

#include <QTest>

Q_DECLARE_METATYPE(Sdo::DataType)

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

} // namespace

class TestSdoTypes : public QObject
{
    Q_OBJECT

private slots:
    void typeTable();
    void typeFromLength_data();
    void typeFromLength();
    void decode_data();
    void decode();
    void encode_data();
    void encode();
    void failedEncodeKeepsOutput();
    void abortText_data();
    void abortText();
    void blockCrc();
};

void TestSdoTypes::typeTable()
{
    const QList<Sdo::TypeInfo> &types = Sdo::types();
    QCOMPARE(types.size(), 12);
    for (int i = 0; i < types.size(); ++i)
        QCOMPARE(int(types.at(i).type), i);
    QCOMPARE(Sdo::typeName(Sdo::Domain), QStringLiteral("DOMAIN (Hex-Bytes)"));
    QCOMPARE(Sdo::typeSize(Sdo::Integer64), 8);
    QCOMPARE(Sdo::typeSize(Sdo::VisibleString), 0);
    QCOMPARE(Sdo::typeName(Sdo::Real64), QStringLiteral("REAL64"));
    QCOMPARE(Sdo::typeSize(Sdo::Real64), 8);
    QCOMPARE(Sdo::typeName(Sdo::DataType(12)), QString());
    QCOMPARE(Sdo::typeSize(Sdo::DataType(-1)), 0);
    Sdo::DataType type = Sdo::Unsigned8;
    QVERIFY(Sdo::typeFromName(QStringLiteral("VISIBLE_STRING"), &type));
    QCOMPARE(type, Sdo::VisibleString);
    QVERIFY(Sdo::typeFromName(QStringLiteral("DOMAIN"), &type));
    QCOMPARE(type, Sdo::Domain);
    QVERIFY(!Sdo::typeFromName(QStringLiteral("UNSIGNED"), &type));
}

void TestSdoTypes::typeFromLength_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<Sdo::DataType>("type");
    QTest::newRow("empty") << QByteArray() << Sdo::Domain;
    QTest::newRow("1") << hex("00") << Sdo::Unsigned8;
    QTest::newRow("2") << hex("00 00") << Sdo::Unsigned16;
    QTest::newRow("4 printable: length first") << hex("41 42 43 44") << Sdo::Unsigned32;
    QTest::newRow("8 printable is text") << hex("41 42 43 44 45 46 47 48") << Sdo::VisibleString;
    QTest::newRow("8 not printable") << hex("E8 03 00 00 00 00 00 00") << Sdo::Unsigned64;
    QTest::newRow("8 zeros") << hex("00 00 00 00 00 00 00 00") << Sdo::Unsigned64;
    QTest::newRow("Latin-1 text") << QString::fromUtf8("Größe °C").toLatin1() << Sdo::VisibleString;
    QTest::newRow("byte A0..FF with control char") << hex("E4 0D E4 0D E4") << Sdo::Domain;
    QTest::newRow("text with zero") << hex("41 42 00") << Sdo::VisibleString;
    QTest::newRow("only zeros") << hex("00 00 00") << Sdo::Domain;
    QTest::newRow("control char") << hex("41 42 0A 43 44") << Sdo::Domain;
    QTest::newRow("byte 7F") << hex("41 42 7F 43 44") << Sdo::Domain;
    QTest::newRow("device name") << QByteArray("Busvista Simulation") << Sdo::VisibleString;
}

void TestSdoTypes::typeFromLength()
{
    QFETCH(QByteArray, data);
    QFETCH(Sdo::DataType, type);
    QCOMPARE(Sdo::typeFromLength(data), type);
}

void TestSdoTypes::decode_data()
{
    QTest::addColumn<Sdo::DataType>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("text");
    QTest::newRow("string to zero") << Sdo::VisibleString << hex("41 42 00 43") << "AB";
    QTest::newRow("string latin1") << Sdo::VisibleString << hex("E4 F6") << QStringLiteral("äö");
    QTest::newRow("empty string") << Sdo::VisibleString << QByteArray() << "";
    QTest::newRow("domain") << Sdo::Domain << hex("01 AB FF") << "01 AB FF";
    QTest::newRow("u16") << Sdo::Unsigned16 << hex("34 12") << "4660 (0x1234)";
    QTest::newRow("i16 -1") << Sdo::Integer16 << hex("FF FF") << "-1 (0xFFFF)";
    QTest::newRow("i8 -1") << Sdo::Integer8 << hex("FF") << "-1 (0xFF)";
    QTest::newRow("i64 -1") << Sdo::Integer64 << hex("FF FF FF FF FF FF FF FF") << "-1 (0xFFFFFFFFFFFFFFFF)";
    QTest::newRow("u64 max") << Sdo::Unsigned64 << hex("FF FF FF FF FF FF FF FF")
                             << "18446744073709551615 (0xFFFFFFFFFFFFFFFF)";
    QTest::newRow("u8 0") << Sdo::Unsigned8 << hex("00") << "0 (0x00)";
    QTest::newRow("i32 min") << Sdo::Integer32 << hex("00 00 00 80") << "-2147483648 (0x80000000)";
    QTest::newRow("real 1") << Sdo::Real32 << hex("00 00 80 3F") << "1";
    QTest::newRow("real 0.1") << Sdo::Real32 << hex("CD CC CC 3D") << "0.1";
    QTest::newRow("real short") << Sdo::Real32 << hex("00 00 80") << "3 Byte: 00 00 80 (Länge passt nicht zu REAL32)";
    QTest::newRow("real64 -2.5") << Sdo::Real64 << hex("00 00 00 00 00 00 04 C0") << "-2.5";
    QTest::newRow("real64 0.1") << Sdo::Real64 << hex("9A 99 99 99 99 99 B9 3F") << "0.1";
    QTest::newRow("real64 short") << Sdo::Real64 << hex("00 00 80 3F") << "4 Byte: 00 00 80 3F (Länge passt nicht zu REAL64)";
    QTest::newRow("u32 short") << Sdo::Unsigned32 << hex("01 02 03")
                               << "3 Byte: 01 02 03 (Länge passt nicht zu UNSIGNED32)";
}

void TestSdoTypes::decode()
{
    QFETCH(Sdo::DataType, type);
    QFETCH(QByteArray, data);
    QFETCH(QString, text);
    QCOMPARE(Sdo::decode(type, data), text);
}

void TestSdoTypes::encode_data()
{
    QTest::addColumn<Sdo::DataType>("type");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QByteArray>("bytes"); // empty: an error is expected
    QTest::addColumn<QString>("error");
    const QString range8 = QStringLiteral("Wert außerhalb des Bereichs -128 … 127.");
    QTest::newRow("i8 -128") << Sdo::Integer8 << "-128" << hex("80") << "";
    QTest::newRow("i8 - 5 with blank") << Sdo::Integer8 << "- 5" << hex("FB") << "";
    QTest::newRow("i8 -129") << Sdo::Integer8 << "-129" << QByteArray() << range8;
    QTest::newRow("i8 128") << Sdo::Integer8 << "128" << QByteArray() << range8;
    QTest::newRow("i8 0xFF") << Sdo::Integer8 << "0xFF" << hex("FF") << "";
    QTest::newRow("i8 ffh") << Sdo::Integer8 << "ffh" << hex("FF") << "";
    QTest::newRow("i8 0x100") << Sdo::Integer8 << "0x100" << QByteArray() << "Wert passt nicht in 8 Bit.";
    QTest::newRow("i64 min") << Sdo::Integer64 << "-9223372036854775808" << hex("00 00 00 00 00 00 00 80") << "";
    QTest::newRow("i64 too low") << Sdo::Integer64 << "-9223372036854775809" << QByteArray()
                                 << "Wert außerhalb des Bereichs -9223372036854775808 … 9223372036854775807.";
    QTest::newRow("i64 raw hex") << Sdo::Integer64 << "0xFFFFFFFFFFFFFFFF" << hex("FF FF FF FF FF FF FF FF") << "";
    QTest::newRow("u8 -1") << Sdo::Unsigned8 << "-1" << QByteArray() << "Negative Werte sind für UNSIGNED8 nicht erlaubt.";
    QTest::newRow("u8 256") << Sdo::Unsigned8 << "256" << QByteArray() << "Wert außerhalb des Bereichs 0 … 255.";
    QTest::newRow("u8 0X1f") << Sdo::Unsigned8 << "0X1f" << hex("1F") << "";
    QTest::newRow("u32 max+1") << Sdo::Unsigned32 << "4294967296" << QByteArray()
                               << "Wert außerhalb des Bereichs 0 … 4294967295.";
    QTest::newRow("u64 max") << Sdo::Unsigned64 << "0xFFFFFFFFFFFFFFFF" << hex("FF FF FF FF FF FF FF FF") << "";
    QTest::newRow("u64 overflow") << Sdo::Unsigned64 << "18446744073709551616" << QByteArray()
                                  << "Ungültige Zahl: \"18446744073709551616\"";
    QTest::newRow("u32 0x") << Sdo::Unsigned32 << "0x" << QByteArray() << "Ungültige Zahl: \"0x\"";
    QTest::newRow("u32 minus") << Sdo::Unsigned32 << "-" << QByteArray() << "Ungültige Zahl: \"-\"";
    QTest::newRow("u32 letters") << Sdo::Unsigned32 << "12a" << QByteArray() << "Ungültige Zahl: \"12a\"";
    QTest::newRow("u16 blanks") << Sdo::Unsigned16 << "  4660 " << hex("34 12") << "";
    QTest::newRow("domain separators") << Sdo::Domain << "01-02:ab;0C" << hex("01 02 AB 0C") << "";
    QTest::newRow("domain 0x") << Sdo::Domain << "0x0102" << hex("01 02") << "";
    const QString hexMessage = QStringLiteral("Bitte Bytes hexadezimal eingeben, z. B. \"01 02 AB\".");
    QTest::newRow("domain odd") << Sdo::Domain << "123" << QByteArray() << hexMessage;
    QTest::newRow("domain empty") << Sdo::Domain << "" << QByteArray() << hexMessage;
    QTest::newRow("domain not hex") << Sdo::Domain << "0G" << QByteArray() << hexMessage;
    QTest::newRow("real comma") << Sdo::Real32 << "1,5" << hex("00 00 C0 3F") << "";
    QTest::newRow("real abc") << Sdo::Real32 << "abc" << QByteArray() << "Ungültige Gleitkommazahl: \"abc\"";
    QTest::newRow("real64 comma") << Sdo::Real64 << "-2,5" << hex("00 00 00 00 00 00 04 C0") << "";
    QTest::newRow("real64 empty") << Sdo::Real64 << " " << QByteArray() << "Ungültige Gleitkommazahl: \"\"";
    QTest::newRow("string blanks") << Sdo::VisibleString << "   " << QByteArray() << "Bitte einen Text eingeben.";
    QTest::newRow("string kept as typed") << Sdo::VisibleString << " ab " << hex("20 61 62 20") << "";
}

void TestSdoTypes::encode()
{
    QFETCH(Sdo::DataType, type);
    QFETCH(QString, entry);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    QByteArray out;
    QString message;
    const bool ok = Sdo::encode(type, entry, &out, &message);
    if (bytes.isEmpty()) {
        QVERIFY(!ok);
        QCOMPARE(message, error);
    } else {
        QVERIFY2(ok, qPrintable(message));
        QCOMPARE(out.toHex(' '), bytes.toHex(' '));
    }
}

void TestSdoTypes::failedEncodeKeepsOutput()
{
    QByteArray out("keep");
    QVERIFY(!Sdo::encode(Sdo::Unsigned8, QStringLiteral("300"), &out, nullptr));
    QCOMPARE(out, QByteArray("keep"));
}

void TestSdoTypes::abortText_data()
{
    QTest::addColumn<quint32>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("missing object") << quint32(0x06020000)
                                    << "Objekt existiert nicht im Objektverzeichnis (0x06020000)";
    QTest::newRow("timeout") << quint32(0x05040000) << "SDO-Protokoll-Timeout (0x05040000)";
    QTest::newRow("last row") << quint32(0x08000024) << "Keine Daten verfügbar (0x08000024)";
    QTest::newRow("zero") << quint32(0) << "Unbekannter Abort-Code 0x00000000";
    QTest::newRow("unknown") << quint32(0x12345678) << "Unbekannter Abort-Code 0x12345678";
    QTest::newRow("hex digits upper") << quint32(0x060A0023) << "Ressource nicht verfügbar: SDO-Verbindung (0x060A0023)";
}

void TestSdoTypes::abortText()
{
    QFETCH(quint32, code);
    QFETCH(QString, text);
    QCOMPARE(Sdo::abortText(code), text);
}

void TestSdoTypes::blockCrc()
{
    QCOMPARE(Sdo::crc16(QByteArray("123456789")), quint16(0x31C3));
    QCOMPARE(Sdo::crc16(QByteArray()), quint16(0));
    // Continuing over parts gives the CRC of the whole.
    QCOMPARE(Sdo::crc16(QByteArray("6789"), Sdo::crc16(QByteArray("12345"))), quint16(0x31C3));
}

QTEST_APPLESS_MAIN(TestSdoTypes)
#include "tst_sdotypes.moc"
