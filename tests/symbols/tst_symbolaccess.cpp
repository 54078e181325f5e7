// Signal access on frames: slot lists, extraction, raw and physical values,
// multiplexers, finding the symbol of a frame, default frames and enumerations.
#include "symtestutil.h"

#include <QtTest>

#include <cstring>

#include <algorithm>
#include <cmath>

using Slots = QList<quint8>;

class TestSymbolAccess : public QObject
{
    Q_OBJECT

private slots:
    void bitsFromPosition_data();
    void bitsFromPosition();
    void extractReadsIntelAndMotorola_data();
    void extractReadsIntelAndMotorola();
    void insertWritesOnlyItsBits();
    void rawValueSignExtension_data();
    void rawValueSignExtension();
    void physicalValueReinterpretsFloatAndDouble();
    void findScoresMultiplexerAndLength();
    void findRangesMasksAndFlags();
    void muxMaskModeMatchesAndInserts();
    void classicMuxBeyondLengthDoesNotMatch();
    void defaultFrameFillsMuxAndInitialValues();
    void enumLookupAndRanges();
    void decodeShowsVariablesOutsideFrameAsMissing_data();
    void decodeShowsVariablesOutsideFrameAsMissing();
    void handBuiltDatabaseFindsLikeLoadedOne();
};

void TestSymbolAccess::bitsFromPosition_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("motorola");
    QTest::addColumn<Slots>("expected");

    QTest::newRow("intel 0,16") << 0 << 16 << false
                                << Slots{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    QTest::newRow("intel odd 13,5") << 13 << 5 << false << Slots{13, 14, 15, 16, 17};
    QTest::newRow("motorola 4,8") << 4 << 8 << true << Slots{12, 13, 14, 15, 0, 1, 2, 3};
    QTest::newRow("motorola 0,8 is byte 0") << 0 << 8 << true << Slots{0, 1, 2, 3, 4, 5, 6, 7};
    QTest::newRow("motorola 0,16") << 0 << 16 << true
                                   << Slots{8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7};
    QTest::newRow("start+length 65") << 57 << 8 << false << Slots{};
    QTest::newRow("length 0") << 0 << 0 << false << Slots{};
    QTest::newRow("negative start") << -1 << 4 << true << Slots{};
    QTest::newRow("intel 56,8 last byte") << 56 << 8 << false << Slots{56, 57, 58, 59, 60, 61, 62, 63};
}

void TestSymbolAccess::bitsFromPosition()
{
    QFETCH(int, start);
    QFETCH(int, length);
    QFETCH(bool, motorola);
    QFETCH(Slots, expected);
    QCOMPARE(SymbolDatabase::bitsFromPosition(start, length, motorola), expected);
}

void TestSymbolAccess::extractReadsIntelAndMotorola_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("motorola");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<quint64>("expected");

    QTest::newRow("intel word") << 0 << 16 << false << QByteArray::fromHex("3412") << quint64(0x1234);
    QTest::newRow("motorola word") << 0 << 16 << true << QByteArray::fromHex("1234") << quint64(0x1234);
    QTest::newRow("motorola 64 big-endian")
        << 0 << 64 << true << QByteArray::fromHex("0102030405060708") << quint64(0x0102030405060708ULL);
    QTest::newRow("intel 64 little-endian")
        << 0 << 64 << false << QByteArray::fromHex("0102030405060708") << quint64(0x0807060504030201ULL);
    // Low nibble in the high nibble of byte 1, high nibble in the low nibble of byte 0.
    QTest::newRow("motorola 4,8 across bytes") << 4 << 8 << true << QByteArray::fromHex("0AB0") << quint64(0xAB);
    QTest::newRow("motorola odd 13,12 over three bytes")
        << 13 << 12 << true << QByteArray::fromHex("00ABCDEF") << quint64(0x79B);
    QTest::newRow("motorola 37,9") << 37 << 9 << true << QByteArray::fromHex("0000000006C0") << quint64(0x1B0);
    QTest::newRow("intel odd 3,7") << 3 << 7 << false << QByteArray::fromHex("F803") << quint64(0x7F);
    QTest::newRow("reads past dlc") << 56 << 8 << false << QByteArray::fromHex("00000000000000EE")
                                    << quint64(0xEE);
}

void TestSymbolAccess::extractReadsIntelAndMotorola()
{
    QFETCH(int, start);
    QFETCH(int, length);
    QFETCH(bool, motorola);
    QFETCH(QByteArray, data);
    QFETCH(quint64, expected);
    CanFrame frame;
    for (int i = 0; i < data.size(); ++i)
        frame.data[i] = quint8(data.at(i));
    frame.dlc = 2;   // extraction ignores the length
    const Slots bits = SymbolDatabase::bitsFromPosition(start, length, motorola);
    QCOMPARE(SymbolDatabase::extract(bits, frame), expected);

    // A variable at that position is read as one run of the data word; it must
    // give the same value and end in the same data byte as its slot list.
    SymVariable v;
    v.startBit = start;
    v.length = length;
    v.motorola = motorola;
    v.bits = bits;
    QCOMPARE(quint64(SymbolDatabase().rawValue(v, frame)), expected);
    const int lastByte = *std::max_element(bits.cbegin(), bits.cend()) / 8;
    frame.dlc = quint8(lastByte);
    QVERIFY(!SymbolDatabase::coversFrame(v, frame));
    frame.dlc = quint8(lastByte + 1);
    QVERIFY(SymbolDatabase::coversFrame(v, frame));
}

void TestSymbolAccess::insertWritesOnlyItsBits()
{
    CanFrame frame;
    std::fill(std::begin(frame.data), std::end(frame.data), quint8(0xFF));
    const Slots bits = SymbolDatabase::bitsFromPosition(4, 8, true);
    SymbolDatabase::insert(bits, 0x00, frame);
    QCOMPARE(frame.data[0], quint8(0xF0));
    QCOMPARE(frame.data[1], quint8(0x0F));
    QCOMPARE(frame.data[2], quint8(0xFF));
    SymbolDatabase::insert(bits, 0xA5, frame);
    QCOMPARE(SymbolDatabase::extract(bits, frame), quint64(0xA5));
    QCOMPARE(frame.data[0], quint8(0xFA));
    QCOMPARE(frame.data[1], quint8(0x5F));

    SymVariable v;
    v.bits = SymbolDatabase::bitsFromPosition(0, 64, false);
    CanFrame wide;
    SymbolDatabase::setRawValue(v, -2, wide);
    QCOMPARE(wide.data[0], quint8(0xFE));
    QCOMPARE(wide.data[7], quint8(0xFF));
}

void TestSymbolAccess::rawValueSignExtension_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("isSigned");
    QTest::addColumn<quint64>("stored");
    QTest::addColumn<qint64>("expected");

    QTest::newRow("signed 12 min") << 12 << true << quint64(0x800) << qint64(-2048);
    QTest::newRow("signed 12 max") << 12 << true << quint64(0x7FF) << qint64(2047);
    QTest::newRow("signed 12 -1") << 12 << true << quint64(0xFFF) << qint64(-1);
    QTest::newRow("unsigned 12") << 12 << false << quint64(0x800) << qint64(2048);
    QTest::newRow("signed 64 as is") << 64 << true << quint64(0x8000000000000001ULL)
                                     << qint64(0x8000000000000001ULL);
    QTest::newRow("unsigned 64 bit pattern") << 64 << false << ~quint64(0) << qint64(-1);
}

void TestSymbolAccess::rawValueSignExtension()
{
    QFETCH(int, length);
    QFETCH(bool, isSigned);
    QFETCH(quint64, stored);
    QFETCH(qint64, expected);
    SymbolDatabase db;
    SymVariable v;
    v.type = isSigned ? SymType::Signed : SymType::Unsigned;
    v.isSigned = isSigned;
    v.length = length;
    v.startBit = 0;
    v.bits = SymbolDatabase::bitsFromPosition(0, length, false);
    CanFrame frame;
    frame.dlc = 8;
    SymbolDatabase::insert(v.bits, stored, frame);
    QCOMPARE(db.rawValue(v, frame), expected);
    // The raw value keeps the bit pattern; an unsigned one is a positive number.
    QCOMPARE(db.physicalValue(v, frame), isSigned ? double(expected) : double(quint64(expected)));
}

void TestSymbolAccess::physicalValueReinterpretsFloatAndDouble()
{
    SymbolDatabase db;
    SymVariable f;
    f.type = SymType::Float;
    f.length = 32;
    f.bits = SymbolDatabase::bitsFromPosition(0, 32, false);
    CanFrame frame = frameOf(1, {0x00, 0x00, 0xC0, 0x3F, 0, 0, 0, 0});
    QCOMPARE(db.physicalValue(f, frame), 1.5);
    f.factor = 2.0;
    f.offset = -1.0;
    QCOMPARE(db.physicalValue(f, frame), 2.0);

    SymVariable d;
    d.type = SymType::Double;
    d.length = 64;
    d.bits = SymbolDatabase::bitsFromPosition(0, 64, true);   // big-endian double
    CanFrame big = frameOf(1, {0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18});
    QCOMPARE(db.physicalValue(d, big), 3.141592653589793);

    SymVariable s;
    s.type = SymType::String;
    s.length = 16;
    s.bits = SymbolDatabase::bitsFromPosition(0, 16, false);
    QVERIFY(std::isnan(db.physicalValue(s, frame)));
    QCOMPARE(db.rawValue(s, frame), qint64(0));
}

void TestSymbolAccess::findScoresMultiplexerAndLength()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "FormatVersion=5.0\n{SENDRECEIVE}\n"
                         "[Plain]\nID=100h\n"
                         "[Muxed]\nID=100h\nMux=Sel 0,8 5\n"
                         "[Len8]\nID=200h\nLen=8\n"
                         "[Len4]\nID=200h\nLen=4\n",
                     &warnings));
    // Multiplexed candidate wins when its value matches, else it is dropped.
    QCOMPARE(db.find(frameOf(0x100, {5, 0}))->name, QStringLiteral("Muxed"));
    QCOMPARE(db.find(frameOf(0x100, {6, 0}))->name, QStringLiteral("Plain"));
    // Length decides between otherwise equal candidates.
    QCOMPARE(db.find(frameOf(0x200, {1, 2, 3, 4}))->name, QStringLiteral("Len4"));
    QCOMPARE(db.find(frameOf(0x200, {1, 2, 3, 4, 5, 6, 7, 8}))->name, QStringLiteral("Len8"));
    // Both score 0: the earlier definition is still returned.
    QCOMPARE(db.find(frameOf(0x200, {1, 2}))->name, QStringLiteral("Len8"));
    QCOMPARE(db.find(frameOf(0x300, {1})), nullptr);

    CanFrame errorFrame = frameOf(0x100, {5, 0});
    errorFrame.error = true;
    QCOMPARE(db.find(errorFrame), nullptr);
    CanFrame statusFrame = frameOf(0x100, {5, 0});
    statusFrame.status = true;
    QCOMPARE(db.find(statusFrame), nullptr);
    CanFrame remote = frameOf(0x200, {});
    remote.rtr = true;
    remote.dlc = 4;
    QCOMPARE(db.find(remote)->name, QStringLiteral("Len4"));
}

void TestSymbolAccess::findRangesMasksAndFlags()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "FormatVersion=6.0\n{RECEIVE}\n"
                         "[Range]\nID=100h-1FFh\n"
                         "[RangeExt]\nID=100h..1FFh\nType=Extended\n"
                         "[Pgn]\nID=18FEF100h\nType=J1939PG\nIgnoreSource=1\n"
                         "[Exact]\nID=180h\n",
                     &warnings));
    QCOMPARE(db.rangeMessages.size(), 3);
    QCOMPARE(db.idIndex.size(), 1);
    // The exact symbol is a candidate before the ranges; both score 1, it is later
    // in the file, so the range (index 0) wins the tie.
    QCOMPARE(db.find(frameOf(0x180, {}))->name, QStringLiteral("Range"));
    QCOMPARE(db.find(frameOf(0x180, {}, true))->name, QStringLiteral("RangeExt"));
    QCOMPARE(db.find(frameOf(0x200, {})), nullptr);
    QCOMPARE(db.find(frameOf(0x0FF, {}, true)), nullptr);
    // Any source address matches the J1939 symbol that ignores it.
    QCOMPARE(db.find(frameOf(0x18FEF117, {}, true))->name, QStringLiteral("Pgn"));
    QCOMPARE(db.find(frameOf(0x18FEF217, {}, true)), nullptr);
    QCOMPARE(db.find(frameOf(0x18FEF117, {}, false)), nullptr);
}

void TestSymbolAccess::muxMaskModeMatchesAndInserts()
{
    SymMessage intel;
    intel.muxName = QStringLiteral("M");
    intel.muxMaskMode = true;
    intel.muxMask = 0xFF00;
    intel.muxValue = 0x1200;
    QVERIFY(SymbolDatabase::muxMatches(intel, frameOf(1, {0x99, 0x12})));
    QVERIFY(!SymbolDatabase::muxMatches(intel, frameOf(1, {0x99, 0x13})));
    QVERIFY(!SymbolDatabase::muxMatches(intel, frameOf(1, {0x99})));   // masked byte outside dlc

    SymMessage motorola = intel;
    motorola.muxMotorola = true;
    // Byte 1 of the mask is data byte 6 in big-endian order.
    QVERIFY(SymbolDatabase::muxMatches(motorola, frameOf(1, {0, 0, 0, 0, 0, 0, 0x12, 0})));
    QVERIFY(!SymbolDatabase::muxMatches(motorola, frameOf(1, {0, 0, 0x12})));

    CanFrame frame = frameOf(1, {0xAA, 0xFF, 0xAA});
    SymbolDatabase::insertMux(intel, frame);
    QCOMPARE(frame.data[0], quint8(0xAA));
    QCOMPARE(frame.data[1], quint8(0x12));
    QCOMPARE(frame.data[2], quint8(0xAA));

    SymMessage partial = intel;
    partial.muxMask = 0x0F00;   // only the low nibble of byte 1 belongs to the mux
    partial.muxValue = 0x0300;
    CanFrame f2 = frameOf(1, {0, 0xF0});
    SymbolDatabase::insertMux(partial, f2);
    QCOMPARE(f2.data[1], quint8(0xF3));
    QVERIFY(SymbolDatabase::muxMatches(partial, f2));
}

void TestSymbolAccess::classicMuxBeyondLengthDoesNotMatch()
{
    SymMessage m;
    m.muxName = QStringLiteral("Sel");
    m.muxBits = SymbolDatabase::bitsFromPosition(16, 8, false);
    m.muxValue = 0;
    QVERIFY(!SymbolDatabase::muxMatches(m, frameOf(1, {0, 0})));
    QVERIFY(SymbolDatabase::muxMatches(m, frameOf(1, {0, 0, 0})));
    SymMessage plain;
    QVERIFY(SymbolDatabase::muxMatches(plain, frameOf(1, {})));
}

void TestSymbolAccess::defaultFrameFillsMuxAndInitialValues()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "FormatVersion=6.0\n{SENDRECEIVE}\n"
                         "[NoLen]\nID=123h\nMux=Sel 0,4 9\nVar=A unsigned 8,8 /d:7\nVar=S string 16,16 /d:Hi\n"
                         "[Fd]\nID=124h\nType=FDStandard\nLen=12\n"
                         "[Short]\nID=125h\nLen=3\n"
                         "[Masked]\nID=126h\nMuxMask=M 1234h,FF00h -m\n",
                     &warnings));
    const CanFrame a = db.defaultFrame(db.messages.at(0));
    QCOMPARE(a.id, 0x123u);
    QCOMPARE(a.dlc, quint8(8));
    QCOMPARE(a.data[0], quint8(0x09));
    QCOMPARE(a.data[1], quint8(7));
    QCOMPARE(a.data[2], quint8('H'));
    QCOMPARE(a.data[3], quint8('i'));
    QCOMPARE(db.defaultFrame(db.messages.at(1)).dlc, quint8(8));
    QCOMPARE(db.defaultFrame(db.messages.at(2)).dlc, quint8(3));
    const CanFrame masked = db.defaultFrame(db.messages.at(3));
    QCOMPARE(masked.data[6], quint8(0x12));   // big-endian: byte 1 of the word is data byte 6
    QCOMPARE(masked.data[7], quint8(0x00));
    QVERIFY(SymbolDatabase::muxMatches(db.messages.at(3), masked));
}

void TestSymbolAccess::enumLookupAndRanges()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "FormatVersion=5.0\n{ENUMS}\n"
                         "enum Gear(0=\"N\", 1=\"D\", 2..5=\"Low\", 1..9=\"Any\")\n"
                         "{SENDRECEIVE}\n[M]\nID=1\nVar=G Gear 0,8\nVar=Plain unsigned 8,8\n",
                     &warnings));
    const SymEnum *e = db.enumByName(QStringLiteral("gEAR"));
    QVERIFY(e);
    QCOMPARE(e->name, QStringLiteral("Gear"));
    QString text = QStringLiteral("unchanged");
    QVERIFY(e->textFor(1, &text));
    QCOMPARE(text, QStringLiteral("D"));   // single values before ranges
    QVERIFY(e->textFor(3, &text));
    QCOMPARE(text, QStringLiteral("Low"));   // first matching range
    QVERIFY(e->textFor(9, &text));
    QCOMPARE(text, QStringLiteral("Any"));
    text = QStringLiteral("unchanged");
    QVERIFY(!e->textFor(10, &text));
    QCOMPARE(text, QStringLiteral("unchanged"));

    QCOMPARE(db.enumFor(*variableNamed(db, QStringLiteral("G"))), e);
    QCOMPARE(db.enumFor(*variableNamed(db, QStringLiteral("Plain"))), nullptr);
    QCOMPARE(db.enumByName(QStringLiteral("none")), nullptr);
}

void TestSymbolAccess::decodeShowsVariablesOutsideFrameAsMissing_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("texts");     // A, B, T
    QTest::addColumn<QStringList>("missing");   // empty: present
    const QString dash = QString(SymbolDatabase::MissingText);
    const QString needs = QStringLiteral("Fehlt im Frame: das Signal braucht %1 Datenbytes, der Frame hat %2 (DLC %2).");
    QTest::newRow("all there") << QByteArray("\xFF\x03\xAB\x01", 4) << QStringList {"-1", "3", "AB 01"}
                               << QStringList {"", "", ""};
    QTest::newRow("raw field cut") << QByteArray("\xFF\x03\xAB", 3) << QStringList {"-1", "3", dash}
                                   << QStringList {"", "", needs.arg(4).arg(3)};
    QTest::newRow("two bytes") << QByteArray("\xFF\x03", 2) << QStringList {"-1", "3", dash}
                               << QStringList {"", "", needs.arg(4).arg(2)};
    QTest::newRow("no data") << QByteArray() << QStringList {dash, dash, dash}
                             << QStringList {needs.arg(1).arg(0), needs.arg(2).arg(0), needs.arg(4).arg(0)};
}

// Every variable with a position is listed, in order; those beyond a short
// frame carry the dash and the reason instead of a value.
void TestSymbolAccess::decodeShowsVariablesOutsideFrameAsMissing()
{
    QFETCH(QByteArray, data);
    QFETCH(QStringList, texts);
    QFETCH(QStringList, missing);
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "FormatVersion=5.0\n{SENDRECEIVE}\n[M]\nID=1\n"
                         "Var=A signed 0,8 -o\nVar=B unsigned 8,8 /u:V\nVar=T raw 16,16\n",
                     &warnings));
    CanFrame frame = frameOf(1, {});
    frame.dlc = quint8(data.size());
    std::memcpy(frame.data, data.constData(), size_t(data.size()));
    const QList<SymSignalValue> values = db.decode(db.messages.at(0), frame);
    QCOMPARE(values.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(values.at(i).name, QStringList({"A", "B", "T"}).at(i));
        QCOMPARE(values.at(i).text, texts.at(i));
        QCOMPARE(values.at(i).missing, missing.at(i));
        if (!missing.at(i).isEmpty()) {
            QCOMPARE(values.at(i).rawText, QString(SymbolDatabase::MissingText));
            QVERIFY(std::isnan(values.at(i).physical));
        }
    }
    QCOMPARE(values.at(1).unit, QStringLiteral("V"));   // the unit stays, missing or not
    if (missing.at(1).isEmpty())
        QCOMPARE(values.at(1).physical, 3.0);
    QVERIFY(!values.at(2).numeric);
}

void TestSymbolAccess::handBuiltDatabaseFindsLikeLoadedOne()
{
    // A database filled by hand has no flat index; find and enumByName must
    // give the same answers as on the loaded original.
    SymbolDatabase loaded;
    QVERIFY(loadText(loaded, "FormatVersion=6.0\n{ENUMS}\nenum Mode(1=\"a\")\nenum Zustände(1=\"b\")\n{RECEIVE}\n"
                             "[A]\nID=100h\nLen=2\n[B]\nID=100h\nMux=S 0,8 7\n[C]\nID=100h\nLen=4\n"
                             "[R]\nID=0F0h-10Fh\n[E]\nID=100h\nType=Extended\n[F]\nID=7FFh\nMuxMask=M 3,3\n"));
    SymbolDatabase manual;
    manual.idMask = loaded.idMask;
    manual.messages = loaded.messages;
    manual.idIndex = loaded.idIndex;
    manual.rangeMessages = loaded.rangeMessages;
    manual.enums = loaded.enums;
    for (quint32 id : {0x0F0u, 0x100u, 0x101u, 0x7FFu}) {
        for (int extended = 0; extended < 2; ++extended) {
            for (int dlc = 0; dlc <= 8; ++dlc) {
                for (int first : {0, 3, 7}) {
                    CanFrame frame = frameOf(id, {first, 0, 0, 0, 0, 0, 0, 0}, extended != 0);
                    frame.dlc = quint8(dlc);
                    const SymMessage *a = loaded.find(frame);
                    const SymMessage *b = manual.find(frame);
                    QCOMPARE(a ? a->name : QString(), b ? b->name : QString());
                }
            }
        }
    }
    QCOMPARE(manual.find(frameOf(0x100, {7, 0}))->name, QStringLiteral("B"));
    QCOMPARE(manual.find(frameOf(0x100, {0, 0}))->name, QStringLiteral("A"));
    for (const QString &name : {QStringLiteral("mode"), QStringLiteral("MODE"), QStringLiteral("zustände"),
                                QStringLiteral("ZUSTÄNDE"), QStringLiteral("none")}) {
        const SymEnum *a = loaded.enumByName(name);
        const SymEnum *b = manual.enumByName(name);
        QCOMPARE(a ? a->name : QString(), b ? b->name : QString());
    }
    QCOMPARE(loaded.enumByName(QStringLiteral("zustände"))->values.value(1), QStringLiteral("b"));
}

QTEST_GUILESS_MAIN(TestSymbolAccess)
#include "tst_symbolaccess.moc"
