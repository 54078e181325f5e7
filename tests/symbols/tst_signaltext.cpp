// Text of signal values: display formats, raw texts, the decoded line of a
// frame, and reading typed values back into bits.
#include "symtestutil.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <cmath>
#include <limits>
#include <random>

namespace {

// One symbol "M" (ID 1) with the variable line "Var=V <definition>" and optional header lines.
SymbolDatabase databaseWith(const QByteArray &definition, const QByteArray &header = QByteArray(),
                            const QByteArray &enums = QByteArray())
{
    SymbolDatabase db;
    QStringList warnings;
    const QByteArray text = "FormatVersion=6.0\n" + header + "{ENUMS}\n" + enums + "\n{SENDRECEIVE}\n[M]\nID=1\nVar=V "
        + definition + "\n";
    if (!loadText(db, text, &warnings) || !warnings.isEmpty())
        qWarning("unexpected: %s", qPrintable(warnings.join(QLatin1Char('|'))));
    return db;
}

CanFrame frameFromHex(const QByteArray &hex)
{
    CanFrame frame;
    frame.id = 1;
    const QByteArray bytes = QByteArray::fromHex(hex);
    for (int i = 0; i < bytes.size() && i < 8; ++i)
        frame.data[i] = quint8(bytes.at(i));
    frame.dlc = quint8(qMin<qsizetype>(bytes.size(), 8));
    return frame;
}

const QByteArray enumGear = "enum Gear(0=\"Neutral\", 1=\"Drive\", 10..20=\"Sport\")";

} // namespace

class TestSignalText : public QObject
{
    Q_OBJECT

private slots:
    void valueText_data();
    void valueText();
    void rawText_data();
    void rawText();
    void decodeTextJoinsEntries();
    void decodeTextLeavesOut();
    void decodeTextLongLine();
    void numbersMatchQtFormatting();
    void parseValue_data();
    void parseValue();
    void textToBytesForStringAndRaw_data();
    void textToBytesForStringAndRaw();
    void applyTextWritesAndRaisesLength();
    void fuzzSeedsEnterTheirOwnValues();
};

void TestSignalText::valueText_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("definition");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("expected");

    const QByteArray none;
    QTest::newRow("hex padded 12 bit") << none << QByteArray("unsigned 0,12 -h") << QByteArray("AB00") << QStringLiteral("0ABh");
    QTest::newRow("binary 4 bit") << none << QByteArray("unsigned 0,4 -b") << QByteArray("F5") << QStringLiteral("0101b");
    QTest::newRow("signed -1") << none << QByteArray("signed 0,8") << QByteArray("FF") << QStringLiteral("-1");
    QTest::newRow("signed hex masked") << none << QByteArray("signed 0,8 -h") << QByteArray("FF") << QStringLiteral("FFh");
    QTest::newRow("char letter") << none << QByteArray("char 0,8") << QByteArray("41") << QStringLiteral("A");
    QTest::newRow("char control as number") << none << QByteArray("char 0,8") << QByteArray("07") << QStringLiteral("7");
    QTest::newRow("char latin-1") << none << QByteArray("char 0,8") << QByteArray("E4") << QStringLiteral("ä");
    QTest::newRow("factor 0.25 two places") << none << QByteArray("unsigned 0,8 /f:0.25") << QByteArray("05") << QStringLiteral("1.25");
    QTest::newRow("factor 0.1 offset -40") << none << QByteArray("unsigned 0,16 /f:0.1 /o:-40") << QByteArray("9501") << QStringLiteral("0.5");
    QTest::newRow("integral factor no places") << none << QByteArray("unsigned 0,8 /f:2 /o:1") << QByteArray("03") << QStringLiteral("7");
    QTest::newRow("explicit places") << none << QByteArray("unsigned 0,8 /f:2 /p:2") << QByteArray("03") << QStringLiteral("6.00");
    QTest::newRow("file places for scaled ints") << QByteArray("FloatDecimalPlaces=3\n")
                                                 << QByteArray("unsigned 0,8 /f:0.5") << QByteArray("03") << QStringLiteral("1.500");
    QTest::newRow("float general 7") << none << QByteArray("float 0,32") << QByteArray("DB0F4940") << QStringLiteral("3.141593");
    QTest::newRow("float file places") << QByteArray("FloatDecimalPlaces=2\n")
                                       << QByteArray("float 0,32") << QByteArray("0000C03F") << QStringLiteral("1.50");
    QTest::newRow("float file precision") << QByteArray("FloatPrecision=3\n")
                                          << QByteArray("float 0,32 /o:1") << QByteArray("DB0F4940") << QStringLiteral("4.14");
    QTest::newRow("double general 15") << none << QByteArray("double 0,64 -m") << QByteArray("400921FB54442D18")
                                       << QStringLiteral("3.14159265358979");
    QTest::newRow("enum text") << none << QByteArray("Gear 0,8") << QByteArray("01") << QStringLiteral("Drive");
    QTest::newRow("enum range") << none << QByteArray("Gear 0,8") << QByteArray("0C") << QStringLiteral("Sport");
    QTest::newRow("enum without text") << none << QByteArray("Gear 0,8 -h") << QByteArray("05") << QStringLiteral("05h");
    QTest::newRow("string cut at zero") << none << QByteArray("string 8,32") << QByteArray("FF48690078") << QStringLiteral("Hi");
    QTest::newRow("raw bytes") << none << QByteArray("raw 0,24") << QByteArray("01020A") << QStringLiteral("01 02 0A");
    QTest::newRow("64 bit unsigned hex") << none << QByteArray("unsigned 0,64 -h") << QByteArray("FFFFFFFFFFFFFFFF")
                                         << QStringLiteral("FFFFFFFFFFFFFFFFh");
    QTest::newRow("64 bit unsigned decimal") << none << QByteArray("unsigned 0,64") << QByteArray("FFFFFFFFFFFFFFFF")
                                             << QStringLiteral("18446744073709551615");
    QTest::newRow("64 bit unsigned scaled") << none << QByteArray("unsigned 0,64 /f:0.5") << QByteArray("0000000000000080")
                                            << QStringLiteral("4611686018427387904.0");
    QTest::newRow("64 bit signed stays signed") << none << QByteArray("signed 0,64") << QByteArray("FFFFFFFFFFFFFFFF")
                                                << QStringLiteral("-1");
    QTest::newRow("string control bytes escaped") << none << QByteArray("string 0,64") << QByteArray("410A0D07095C8142")
                                                  << QStringLiteral("A\\n\\r\\x07\\t\\\\x81B");
}

void TestSignalText::valueText()
{
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, definition);
    QFETCH(QByteArray, data);
    QFETCH(QString, expected);
    const SymbolDatabase db = databaseWith(definition, header, enumGear);
    QCOMPARE(db.messages.size(), 1);
    QCOMPARE(db.messages.at(0).variables.size(), 1);
    QCOMPARE(db.valueText(db.messages.at(0).variables.at(0), frameFromHex(data)), expected);
}

void TestSignalText::rawText_data()
{
    QTest::addColumn<QByteArray>("definition");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("expected");

    QTest::newRow("float eight digits") << QByteArray("float 0,32") << QByteArray("0000C03F") << QStringLiteral("3FC00000h");
    QTest::newRow("float small value padded") << QByteArray("float 0,32") << QByteArray("01000000") << QStringLiteral("00000001h");
    QTest::newRow("double sixteen digits") << QByteArray("double 0,64") << QByteArray("0000000000000040")
                                           << QStringLiteral("4000000000000000h");
    QTest::newRow("signed decimal") << QByteArray("signed 0,12 /f:10") << QByteArray("0008") << QStringLiteral("-2048");
    QTest::newRow("enum raw number") << QByteArray("Gear 0,8") << QByteArray("01") << QStringLiteral("1");
    QTest::newRow("unsigned 64 bit") << QByteArray("unsigned 0,64") << QByteArray("FEFFFFFFFFFFFFFF")
                                     << QStringLiteral("18446744073709551614");
    QTest::newRow("signed 64 bit") << QByteArray("signed 0,64") << QByteArray("FEFFFFFFFFFFFFFF") << QStringLiteral("-2");
    QTest::newRow("raw groups") << QByteArray("raw 8,24") << QByteArray("FF01020A") << QStringLiteral("01 02 0A");
    QTest::newRow("string bytes") << QByteArray("string 0,16") << QByteArray("4869") << QStringLiteral("48 69");
}

void TestSignalText::rawText()
{
    QFETCH(QByteArray, definition);
    QFETCH(QByteArray, data);
    QFETCH(QString, expected);
    const SymbolDatabase db = databaseWith(definition, QByteArray(), enumGear);
    QCOMPARE(db.rawText(db.messages.at(0).variables.at(0), frameFromHex(data)), expected);
}

void TestSignalText::decodeTextJoinsEntries()
{
    SymbolDatabase db;
    QVERIFY(loadText(db, "FormatVersion=6.0\n{SENDRECEIVE}\n"
                         "[A]\nID=10\nVar=a unsigned 0,8 /u:V\nVar=b unsigned 8,8\n"
                         "[B]\nID=11\nVar=a unsigned 0,8 /u:V -v\nVar=b unsigned 8,8\n"
                         "[C]\nID=12\nMux=Sel 16,8 1 -v\nVar=a unsigned 0,8\nVar=b unsigned 8,8\n"
                         "[D]\nID=13\nVar=s string 0,24\nVar=u unsigned 24,32\n"
                         "[E]\nID=14\nVar=u unsigned 0,64\n"));
    QCOMPARE(db.decodeText(frameOf(10, {12, 3})), QStringLiteral("a=12 V; b=3"));
    QCOMPARE(db.decodeText(frameOf(11, {12, 3})), QStringLiteral("12 V; b=3"));
    QCOMPARE(db.decodeText(frameOf(12, {12, 3, 1})), QStringLiteral("12; 3"));
    // b lies outside a one-byte frame: named as missing, not left out.
    QCOMPARE(db.decodeText(frameOf(10, {12})), QStringLiteral("a=12 V; b=\u2014"));
    QCOMPARE(db.decodeText(frameOf(11, {})), QStringLiteral("\u2014; b=\u2014"));
    // One line, whatever the string holds; 64-bit unsigned values stay positive.
    QCOMPARE(db.decodeText(frameOf(13, {'H', '\r', '\n', 0xFF, 0xFF, 0xFF, 0xFF})),
             QStringLiteral("s=H\\r\\n; u=4294967295"));
    QCOMPARE(db.decodeText(frameOf(14, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE})),
             QStringLiteral("u=18374686479671623679"));
}

void TestSignalText::decodeTextLeavesOut()
{
    SymbolDatabase db;
    QVERIFY(loadText(db, "FormatVersion=6.0\n{SENDRECEIVE}\n"
                         "[A]\nID=10\nVar=a unsigned 0,8 -o\nVar=b unsigned 8,8\n"
                         "[Quiet]\nID=11\nMux=Sel 0,8 1 -o\nVar=a unsigned 8,8\n"));
    QCOMPARE(db.decodeText(frameOf(10, {1, 2})), QStringLiteral("b=2"));
    QCOMPARE(db.decodeText(frameOf(11, {1, 2})), QString());
    CanFrame remote = frameOf(10, {1, 2});
    remote.rtr = true;
    QCOMPARE(db.decodeText(remote), QString());
    QCOMPARE(db.decodeText(frameOf(99, {1, 2})), QString());
}

void TestSignalText::decodeTextLongLine()
{
    // Longer than the writer's stack buffer.
    const QByteArray name(200, 'n');
    SymbolDatabase db;
    QVERIFY(loadText(db, "FormatVersion=6.0\n{SENDRECEIVE}\n[A]\nID=10\nVar=" + name + "1 unsigned 0,8 /u:" + name
                         + "\nVar=" + name + "2 unsigned 8,8 /f:0.5\n"));
    const QString expected = QString::fromLatin1(name) + QStringLiteral("1=12 ") + QString::fromLatin1(name)
        + QStringLiteral("; ") + QString::fromLatin1(name) + QStringLiteral("2=1.5");
    QCOMPARE(db.decodeText(frameOf(10, {12, 3})), expected);
}

void TestSignalText::numbersMatchQtFormatting()
{
    // The fast fixed-point path must give what QString::number gives, also on
    // exact ties (Qt rounds them away from zero) and on negative zero.
    SymbolDatabase db;
    SymVariable v;
    QList<double> values{0.125, -0.125, 2.5, -2.5, 0.5, 1.5, -0.0, 0.0, 1e16, -1e17, 123456.789, 0.35, 1e-9,
                         std::nan(""), std::numeric_limits<double>::infinity(), 0.045, 1.005, 99.995,
                         // rounding to a negative zero, products just off a half, near 2^52 when scaled
                         -0.0001, -0.4, 2.675, 1.115, -28.485, 4503599627370.4, 450359962737.05,
                         -4503599627.3704955};
    std::mt19937 random(7);
    std::uniform_real_distribution<double> spread(-1e6, 1e6);
    for (int i = 0; i < 2000; ++i)
        values.append(spread(random));
    for (int i = 0; i < 200; ++i)
        values.append(std::ldexp(double(int(random() % 20001) - 10000), -int(random() % 12)));
    for (int places = 0; places <= 15; ++places) {
        v.decimals = places;
        for (double value : values)
            QCOMPARE(db.formatNumber(v, value), QString::number(value, 'f', places));
    }
}

void TestSignalText::parseValue_data()
{
    QTest::addColumn<QByteArray>("definition");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("raw");
    QTest::addColumn<QString>("error");

    const QString noError;
    QTest::newRow("comma decimal scaled") << QByteArray("unsigned 0,8 /f:0.5") << QStringLiteral(" 1,5 ") << true << qint64(3) << noError;
    QTest::newRow("0x is raw") << QByteArray("unsigned 0,8 /f:0.5") << QStringLiteral("0x10") << true << qint64(16) << noError;
    QTest::newRow("h suffix is raw") << QByteArray("unsigned 0,8 /f:10 /o:5") << QStringLiteral("1Fh") << true << qint64(31) << noError;
    QTest::newRow("binary with -b") << QByteArray("unsigned 0,4 -b") << QStringLiteral("101b") << true << qint64(5) << noError;
    QTest::newRow("rounds half away") << QByteArray("signed 0,8 /f:0.5") << QStringLiteral("-1.25") << true << qint64(-3) << noError;
    QTest::newRow("offset removed") << QByteArray("unsigned 0,8 /f:0.1 /o:-40") << QStringLiteral("-39.5") << true << qint64(5) << noError;
    QTest::newRow("raw above range") << QByteArray("unsigned 0,8") << QStringLiteral("300") << false << qint64(0)
                                     << QStringLiteral("V: Rohwert 300 außerhalb des Bereichs 0…255");
    QTest::newRow("signed below range") << QByteArray("signed 0,8") << QStringLiteral("-129") << false << qint64(0)
                                        << QStringLiteral("V: Rohwert -129 außerhalb des Bereichs -128…127");
    QTest::newRow("signed lowest") << QByteArray("signed 0,8") << QStringLiteral("-128") << true << qint64(-128) << noError;
    QTest::newRow("below minimum") << QByteArray("unsigned 0,8 /min:10") << QStringLiteral("5") << false << qint64(0)
                                   << QStringLiteral("V: Wert 5 außerhalb des Bereichs 10…∞");
    QTest::newRow("above maximum") << QByteArray("unsigned 0,16 /f:0.5 /max:100.25") << QStringLiteral("100.5") << false << qint64(0)
                                   << QStringLiteral("V: Wert 100.5 außerhalb des Bereichs -∞…100.25");
    QTest::newRow("not a number") << QByteArray("unsigned 0,8") << QStringLiteral("abc") << false << qint64(0)
                                  << QStringLiteral("Ungültiger Wert für V: \"abc\"");
    QTest::newRow("text type") << QByteArray("string 0,16") << QStringLiteral("1") << false << qint64(0)
                               << QStringLiteral("V: Wert kann nicht als Zahl angegeben werden");
    QTest::newRow("enum text any case") << QByteArray("Gear 0,8 /min:5") << QStringLiteral("drive") << true << qint64(1) << noError;
    QTest::newRow("enum range gives low") << QByteArray("Gear 0,8") << QStringLiteral("SPORT") << true << qint64(10) << noError;
    QTest::newRow("enum number still works") << QByteArray("Gear 0,8") << QStringLiteral("7") << true << qint64(7) << noError;
    QTest::newRow("char quoted") << QByteArray("char 0,8") << QStringLiteral("'B'") << true << qint64(66) << noError;
    QTest::newRow("char single letter") << QByteArray("char 0,8") << QStringLiteral("x") << true << qint64(120) << noError;
    QTest::newRow("char digit is a number") << QByteArray("char 0,8") << QStringLiteral("7") << true << qint64(7) << noError;
    QTest::newRow("char quoted digit") << QByteArray("char 0,8") << QStringLiteral("'7'") << true << qint64(55) << noError;
    QTest::newRow("float value") << QByteArray("float 0,32") << QStringLiteral("1,5") << true << qint64(0x3FC00000) << noError;
    QTest::newRow("float scaled") << QByteArray("float 0,32 /f:2") << QStringLiteral("3") << true << qint64(0x3FC00000) << noError;
    QTest::newRow("float pattern by hex") << QByteArray("float 0,32 /max:2") << QStringLiteral("3FC00000h") << true
                                          << qint64(0x3FC00000) << noError;
    QTest::newRow("float hex checked against max") << QByteArray("float 0,32 /max:1") << QStringLiteral("3FC00000h") << false
                                                   << qint64(0) << QStringLiteral("V: Wert 1.5 außerhalb des Bereichs -∞…1");
    QTest::newRow("63 bit unsigned highest") << QByteArray("unsigned 0,63") << QStringLiteral("9223372036854775807") << true
                                             << std::numeric_limits<qint64>::max() << noError;
    QTest::newRow("63 bit unsigned zero") << QByteArray("unsigned 0,63") << QStringLiteral("0") << true << qint64(0) << noError;
    QTest::newRow("63 bit unsigned negative") << QByteArray("unsigned 0,63") << QStringLiteral("-1") << false << qint64(0)
                                              << QStringLiteral("V: Rohwert -1 außerhalb des Bereichs 0…9223372036854775807");
    QTest::newRow("63 bit signed edges") << QByteArray("signed 0,63") << QStringLiteral("-4611686018427387905") << false
                                         << qint64(0)
                                         << QStringLiteral("V: Rohwert -4611686018427387905 außerhalb des Bereichs "
                                                           "-4611686018427387904…4611686018427387903");
    QTest::newRow("2 bit signed") << QByteArray("signed 0,2") << QStringLiteral("2") << false << qint64(0)
                                  << QStringLiteral("V: Rohwert 2 außerhalb des Bereichs -2…1");
    QTest::newRow("1 bit unsigned") << QByteArray("unsigned 0,1") << QStringLiteral("1") << true << qint64(1) << noError;
    QTest::newRow("64 bit overflow refused") << QByteArray("unsigned 0,64") << QStringLiteral("1e30") << false << qint64(0)
                                             << QStringLiteral("V: Rohwert 1e+30 außerhalb des Bereichs 0…18446744073709551615");
    QTest::newRow("64 bit no range check") << QByteArray("unsigned 0,64") << QStringLiteral("-1") << true << qint64(-1) << noError;
    QTest::newRow("64 bit unsigned highest") << QByteArray("unsigned 0,64") << QStringLiteral("18446744073709551615") << true
                                             << qint64(-1) << noError;
    QTest::newRow("64 bit unsigned exact digits") << QByteArray("unsigned 0,64") << QStringLiteral("9007199254740993") << true
                                                  << qint64(9007199254740993) << noError;
    QTest::newRow("64 bit unsigned above 2^63") << QByteArray("unsigned 0,64") << QStringLiteral("+9223372036854775809")
                                                << true << qint64(quint64(9223372036854775809ull)) << noError;
    QTest::newRow("64 bit unsigned hex high") << QByteArray("unsigned 0,64") << QStringLiteral("FFFFFFFFFFFFFFFEh") << true
                                              << qint64(-2) << noError;
    QTest::newRow("64 bit unsigned 0x high") << QByteArray("unsigned 0,64") << QStringLiteral("0x8000000000000000") << true
                                             << std::numeric_limits<qint64>::min() << noError;
    QTest::newRow("64 bit unsigned binary high") << QByteArray("unsigned 0,64 -b")
                                                 << QStringLiteral("1000000000000000000000000000000000000000000000000000000000000001b")
                                                 << true << qint64(quint64(0x8000000000000001ull)) << noError;
    QTest::newRow("64 bit unsigned scaled high") << QByteArray("unsigned 0,64 /f:2") << QStringLiteral("18446744073709551614")
                                                 << true << qint64(quint64(9223372036854775808ull)) << noError;
    QTest::newRow("64 bit unsigned beyond") << QByteArray("unsigned 0,64") << QStringLiteral("18446744073709551616") << false
                                            << qint64(0)
                                            << QStringLiteral("V: Rohwert 18446744073709551616 außerhalb des Bereichs 0…18446744073709551615");
    QTest::newRow("64 bit signed exact digits") << QByteArray("signed 0,64") << QStringLiteral("-9007199254740993") << true
                                                << qint64(-9007199254740993) << noError;
    QTest::newRow("64 bit signed beyond") << QByteArray("signed 0,64") << QStringLiteral("9223372036854775808") << false
                                          << qint64(0)
                                          << QStringLiteral("V: Rohwert 9223372036854775808 außerhalb des Bereichs -9223372036854775808…9223372036854775807");
    QTest::newRow("nan for float") << QByteArray("float 0,32 /min:0 /max:10") << QStringLiteral("nan") << false << qint64(0)
                                   << QStringLiteral("Ungültiger Wert für V: \"nan\"");
    QTest::newRow("inf for double") << QByteArray("double 0,64") << QStringLiteral("-inf") << false << qint64(0)
                                    << QStringLiteral("Ungültiger Wert für V: \"-inf\"");
    QTest::newRow("nan for integer") << QByteArray("unsigned 0,8 /f:0.5") << QStringLiteral("NaN") << false << qint64(0)
                                     << QStringLiteral("Ungültiger Wert für V: \"NaN\"");
    QTest::newRow("inf for integer") << QByteArray("signed 0,16") << QStringLiteral("inf") << false << qint64(0)
                                     << QStringLiteral("Ungültiger Wert für V: \"inf\"");
}

void TestSignalText::parseValue()
{
    QFETCH(QByteArray, definition);
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(qint64, raw);
    QFETCH(QString, error);
    const SymbolDatabase db = databaseWith(definition, QByteArray(), enumGear);
    const SymVariable &v = db.messages.at(0).variables.at(0);
    qint64 actual = 12345;
    QString actualError;
    QCOMPARE(db.parseValue(v, text, &actual, &actualError), ok);
    QCOMPARE(actualError, error);
    QCOMPARE(actual, ok ? raw : qint64(12345));
    QCOMPARE(db.parseValue(v, text, nullptr, nullptr), ok);   // null outputs are allowed
}

void TestSignalText::textToBytesForStringAndRaw_data()
{
    QTest::addColumn<QByteArray>("definition");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");

    QTest::newRow("raw with prefix and blanks") << QByteArray("raw 0,16") << QStringLiteral("0x12 AB") << true
                                                << QByteArray::fromHex("12AB") << QString();
    QTest::newRow("raw padded") << QByteArray("raw 0,24") << QStringLiteral("01") << true << QByteArray::fromHex("010000") << QString();
    QTest::newRow("raw odd digits") << QByteArray("raw 0,24") << QStringLiteral("123") << false << QByteArray()
                                    << QStringLiteral("V: Rohdaten müssen als Hex-Bytes angegeben werden (z. B. 12 AB 05)");
    QTest::newRow("raw not hex") << QByteArray("raw 0,24") << QStringLiteral("GG") << false << QByteArray()
                                 << QStringLiteral("V: Rohdaten müssen als Hex-Bytes angegeben werden (z. B. 12 AB 05)");
    QTest::newRow("raw too long") << QByteArray("raw 0,16") << QStringLiteral("010203") << false << QByteArray()
                                  << QStringLiteral("V: Rohdaten zu lang für 16 Bits");
    QTest::newRow("string padded") << QByteArray("string 0,32") << QStringLiteral("ab") << true
                                   << QByteArray("ab\0\0", 4) << QString();
    QTest::newRow("string latin-1") << QByteArray("string 0,8") << QStringLiteral("ü") << true << QByteArray("\xFC") << QString();
    QTest::newRow("string too long") << QByteArray("string 0,16") << QStringLiteral("abc") << false << QByteArray()
                                     << QStringLiteral("V: Zeichenkette zu lang (max. 2 Zeichen)");
}

void TestSignalText::textToBytesForStringAndRaw()
{
    QFETCH(QByteArray, definition);
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    const SymbolDatabase db = databaseWith(definition);
    QByteArray actual;
    QString actualError;
    QCOMPARE(SymbolDatabase::textToBytes(db.messages.at(0).variables.at(0), text, &actual, &actualError), ok);
    QCOMPARE(actual, bytes);
    QCOMPARE(actualError, error);
}

void TestSignalText::applyTextWritesAndRaisesLength()
{
    SymbolDatabase db;
    QVERIFY(loadText(db, "FormatVersion=5.0\n{VIRTUALVARS}\nVar=Virt unsigned\n"
                         "{SENDRECEIVE}\n[M]\nID=1\nVar=W unsigned 48,16 /f:0.5\nVar=R raw 8,16\nVar=B unsigned 4,4\n"));
    const QList<SymVariable> &vars = db.messages.at(0).variables;
    CanFrame frame = frameOf(1, {0xAA, 0xBB});
    QString error;
    QVERIFY(db.applyText(vars.at(0), QStringLiteral("2"), frame, &error));
    QCOMPARE(frame.dlc, quint8(8));
    QCOMPARE(frame.data[6], quint8(4));
    QCOMPARE(frame.data[7], quint8(0));

    frame = frameOf(1, {0xAA});
    QVERIFY(db.applyText(vars.at(1), QStringLiteral("12 34"), frame, &error));
    QCOMPARE(frame.dlc, quint8(3));
    QCOMPARE(frame.data[0], quint8(0xAA));
    QCOMPARE(frame.data[1], quint8(0x12));
    QCOMPARE(frame.data[2], quint8(0x34));

    // Only the variable's bits change; a longer frame keeps its length.
    frame = frameOf(1, {0xFF, 0xFF, 0xFF});
    QVERIFY(db.applyText(vars.at(2), QStringLiteral("0"), frame, &error));
    QCOMPARE(frame.data[0], quint8(0x0F));
    QCOMPARE(frame.dlc, quint8(3));

    // A failure leaves the frame as it was.
    const CanFrame before = frameOf(1, {1, 2});
    frame = before;
    QVERIFY(!db.applyText(vars.at(2), QStringLiteral("16"), frame, &error));
    QCOMPARE(error, QStringLiteral("B: Rohwert 16 außerhalb des Bereichs 0…15"));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(frame.data), 8),
             QByteArray(reinterpret_cast<const char *>(before.data), 8));
    QCOMPARE(frame.dlc, before.dlc);

    QVERIFY(!db.applyText(db.virtualVariables.at(0), QStringLiteral("1"), frame, &error));
    QCOMPARE(error, QStringLiteral("Virt: virtuelle Variable ohne Position"));
}

QTEST_GUILESS_MAIN(TestSignalText)
// What the symbol-load fuzz target does with each seed: every variable takes
// back the text of its own value (found by fuzzing: an unsigned 63-bit signal
// overflowed the range check).
void TestSignalText::fuzzSeedsEnterTheirOwnValues()
{
    const QDir seeds(QStringLiteral(BUSVISTA_FUZZ_SEEDS));
    const QStringList names = seeds.entryList({QStringLiteral("*.sym")}, QDir::Files);
    QVERIFY(names.contains(QStringLiteral("unsigned63.sym")));
    for (const QString &name : names) {
        QFile file(seeds.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        SymbolDatabase db;
        QString error;
        QVERIFY2(db.loadData(file.readAll(), name, &error, nullptr), qPrintable(name + QLatin1String(": ") + error));
        for (const SymMessage &message : std::as_const(db.messages)) {
            const CanFrame frame = db.defaultFrame(message);
            for (const SymVariable &variable : message.variables) {
                CanFrame edited = frame;
                const QString text = db.valueText(variable, frame);
                QVERIFY2(db.applyText(variable, text, edited, &error),
                         qPrintable(QStringLiteral("%1 %2 \"%3\": %4").arg(name, variable.name, text, error)));
            }
        }
    }
    // The seed itself: 63 bits take every value up to 2^63 - 1.
    SymbolDatabase db;
    QFile seed(seeds.filePath(QStringLiteral("unsigned63.sym")));
    QVERIFY(seed.open(QIODevice::ReadOnly));
    QVERIFY(db.loadData(seed.readAll(), QString(), nullptr, nullptr));
    QCOMPARE(db.messages.size(), 1);
    const SymVariable &v = db.messages.at(0).variables.at(0);
    CanFrame frame = db.defaultFrame(db.messages.at(0));
    QString error;
    QVERIFY2(db.applyText(v, QStringLiteral("9223372036854775807"), frame, &error), qPrintable(error));
    QCOMPARE(db.rawText(v, frame), QStringLiteral("9223372036854775807"));
    QVERIFY(!db.applyText(v, QStringLiteral("9223372036854775808"), frame, &error));
}

#include "tst_signaltext.moc"
