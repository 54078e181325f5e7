// Symbol files written by other tools and by the vendor's editor load with the
// expected contents.
#include "symtestutil.h"

#include <QDir>
#include <QtTest>

namespace {

QString corpusFile(const QString &name)
{
    return QStringLiteral(BUSVISTA_CORPUS "/sym/") + name;
}

const SymMessage *messageNamed(const SymbolDatabase &db, const QString &name, int nth = 0)
{
    for (const SymMessage &m : db.messages) {
        if (m.name == name && nth-- == 0)
            return &m;
    }
    return nullptr;
}

} // namespace

class TestSymbolCorpus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyFileLoads();
    void joppVersion6();
    void joppVersion5();
    void windows1252AndSpecialNames();
    void multilineEnumWithComments();
    void hexMultiplexerAndMotorolaDecode();
    void signalTypes();
};

void TestSymbolCorpus::initTestCase()
{
    if (!QDir(QStringLiteral(BUSVISTA_CORPUS "/sym")).exists())
        QSKIP("symbol file corpus not available");
}

void TestSymbolCorpus::everyFileLoads()
{
    const QStringList files = QDir(QStringLiteral(BUSVISTA_CORPUS "/sym"))
                                  .entryList(QStringList{QStringLiteral("*.sym")}, QDir::Files, QDir::Name);
    QVERIFY(files.size() >= 20);
    for (const QString &file : files) {
        SymbolDatabase db;
        QString error;
        QStringList warnings;
        const bool ok = db.load(corpusFile(file), &error, &warnings);
        if (file == QLatin1String("empty-6.0.sym")) {
            QVERIFY(!ok);
            QCOMPARE(error, QStringLiteral("Die Datei enthält keine Symbole (Nachrichtendefinitionen)."));
            continue;
        }
        QVERIFY2(ok, qPrintable(file + QStringLiteral(": ") + error));
        QVERIFY(!db.messages.isEmpty());
        QVERIFY(db.formatVersion == QLatin1String("5.0") || db.formatVersion == QLatin1String("6.0"));
        QCOMPARE(db.filePath, QFileInfo(corpusFile(file)).absoluteFilePath());
        // Only the editor's "CycleTime=100 -p" line is malformed in the corpus.
        if (file == QLatin1String("type-extended-cycle-dash-p.sym"))
            QCOMPARE(warnings, QStringList{QStringLiteral("Zeile 17: Ungültiger Wert für cycletime: 100 -p")});
        else
            QVERIFY2(warnings.isEmpty(), qPrintable(file + QStringLiteral(": ") + warnings.join(QLatin1Char('|'))));
        // Invariants of stored variables.
        for (const SymMessage &m : std::as_const(db.messages)) {
            for (const SymVariable &v : m.variables) {
                QCOMPARE(v.bits.size(), qsizetype(v.length));
                QVERIFY(v.startBit + v.length <= 64);
                if (!v.isNumeric())
                    QVERIFY(v.length % 8 == 0 && v.startBit % 8 == 0);
            }
        }
    }
}

void TestSymbolCorpus::joppVersion6()
{
    SymbolDatabase db;
    QVERIFY(db.load(corpusFile(QStringLiteral("jopp-6.0.sym"))));
    QCOMPARE(db.formatVersion, QStringLiteral("6.0"));
    QCOMPARE(db.title, QStringLiteral("Jopp"));
    QCOMPARE(db.messages.size(), 8);
    QCOMPARE(db.signalDefinitions.size(), 5);

    const SymMessage *m2 = messageNamed(db, QStringLiteral("Message2"));
    QVERIFY(m2);
    QCOMPARE(m2->idLow, 0x22u);
    QCOMPARE(m2->idHigh, 0x23u);
    QVERIFY(!m2->extended);
    QCOMPARE(m2->direction, int(SymDirection::Receive));
    const SymVariable &s3 = m2->variables.at(0);
    QCOMPARE(s3.name, QStringLiteral("Signal3"));
    QVERIFY(s3.motorola);
    QVERIFY(s3.isSigned);
    QCOMPARE(s3.bits, SymbolDatabase::bitsFromPosition(2, 11, true));
    QCOMPARE(s3.enumName, QStringLiteral("Foo"));
    QCOMPARE(db.find(frameOf(0x23, {0, 0, 0, 0, 0, 0, 0, 0})), m2);

    const SymMessage *m1 = messageNamed(db, QStringLiteral("Message1"));
    QCOMPARE(m1->comment, QStringLiteral("apa"));
    QCOMPARE(m1->cycleTime, 30);
    QCOMPARE(m1->timeout, 20);
    QCOMPARE(m1->minInterval, 10);
    const SymVariable &s2 = m1->variables.at(0);
    QCOMPARE(s2.type, int(SymType::Float));
    QCOMPARE(s2.startBit, 32);
    QCOMPARE(s2.offset, 48.0);
    QCOMPARE(s2.longName, QStringLiteral("hhh"));
    QCOMPARE(s2.comment, QStringLiteral("bbb"));
    QCOMPARE(m1->variables.at(1).spn, 1234);
    QCOMPARE(m1->variables.at(1).defaultRaw, qint64(1));

    // Three variants of Symbol3 share the identifier and differ by multiplexer value.
    const SymMessage *v3 = messageNamed(db, QStringLiteral("Symbol3"), 2);
    QVERIFY(v3);
    QCOMPARE(v3->idLow, 0x33u);
    QCOMPARE(v3->muxName, QStringLiteral("Multiplexer3"));
    QCOMPARE(db.find(frameOf(0x33, {2, 0, 0, 0, 0, 0, 0, 0})), v3);
    QCOMPARE(db.find(frameOf(0x33, {1, 0, 0, 0, 0, 0, 0, 0}))->muxName, QStringLiteral("Multiplexer2"));
    QCOMPARE(db.enumByName(QStringLiteral("foo"))->comment, QStringLiteral("barbar"));
}

void TestSymbolCorpus::joppVersion5()
{
    SymbolDatabase db;
    QVERIFY(db.load(corpusFile(QStringLiteral("jopp-5.0.sym"))));
    QCOMPARE(db.formatVersion, QStringLiteral("5.0"));
    QCOMPARE(db.messages.size(), 4);
    const SymMessage *symbol2 = messageNamed(db, QStringLiteral("Symbol2"));
    QVERIFY(symbol2);
    QCOMPARE(symbol2->length, 8);
    QVERIFY(!symbol2->lengthUnspecified);
    const SymVariable &s4 = symbol2->variables.at(0);
    QCOMPARE(s4.type, int(SymType::Double));
    QCOMPARE(s4.factor, 6.0);
    QCOMPARE(s4.unit, QStringLiteral("*UU"));
    QCOMPARE(s4.minimum, -1.7e308);
    // 1.0 as a little-endian double, scaled by 6 and shifted by 5.
    CanFrame frame = frameOf(0x99, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F});
    QCOMPARE(db.physicalValue(s4, frame), 11.0);
    QCOMPARE(db.decodeText(frame), QStringLiteral("Signal4=11 *UU"));
}

void TestSymbolCorpus::windows1252AndSpecialNames()
{
    SymbolDatabase db;
    QVERIFY(db.load(corpusFile(QStringLiteral("special-chars-6.0.sym"))));
    QCOMPARE(db.description, QString());   // the comment before the version line is not kept
    const SymMessage &m = db.messages.at(0);
    QCOMPARE(m.name, QStringLiteral("A/=*"));
    QCOMPARE(m.comment, QStringLiteral("dd"));
    QCOMPARE(m.cycleTime, 5);
    QVERIFY(m.hasColor);
    QCOMPARE(m.variables.size(), 6);
    QCOMPARE(m.variables.at(0).unit, QStringLiteral("m/s"));
    QCOMPARE(m.variables.at(0).comment, QStringLiteral("comment"));
    QStringList names;
    for (const SymVariable &v : m.variables)
        names.append(v.name);
    QCOMPARE(names, (QStringList{QStringLiteral("Variable1"), QStringLiteral("A B"), QStringLiteral("S/"),
                                 QStringLiteral("S="), QStringLiteral("S{SEND}"), QStringLiteral("a/b")}));
    const SymVariable &ab = m.variables.at(5);
    QCOMPARE(ab.longName, QStringLiteral("ä"));
    QCOMPARE(ab.comment, QStringLiteral("ö"));
    QCOMPARE(ab.unit, QStringLiteral("]["));
    QCOMPARE(ab.type, int(SymType::Raw));
    const SymVariable &eq = m.variables.at(3);
    QCOMPARE(eq.unit, QStringLiteral("="));
    QCOMPARE(eq.offset, -55.0);
    QVERIFY(eq.motorola);
    QCOMPARE(eq.startBit, 16);
}

void TestSymbolCorpus::multilineEnumWithComments()
{
    SymbolDatabase db;
    QVERIFY(db.load(corpusFile(QStringLiteral("test_multiline_enum.sym"))));
    const SymEnum *pickled = db.enumByName(QStringLiteral("pickled"));
    QVERIFY(pickled);
    QCOMPARE(pickled->values.size(), 13);
    QCOMPARE(pickled->values.value(12), QStringLiteral("egg"));
    QCOMPARE(pickled->comment, QStringLiteral("barbar\nCARROT"));
    const SymMessage *message1 = messageNamed(db, QStringLiteral("Message1"));
    QCOMPARE(message1->variables.at(2).name, QStringLiteral("Signal6"));
    QCOMPARE(db.formatValue(message1->variables.at(2), 3), QStringLiteral("banana"));
}

void TestSymbolCorpus::hexMultiplexerAndMotorolaDecode()
{
    SymbolDatabase db;
    QVERIFY(db.load(corpusFile(QStringLiteral("comments_hex_and_motorola.sym"))));
    QCOMPARE(db.messages.size(), 3);
    const SymMessage *second = messageNamed(db, QStringLiteral("Msg1"), 1);
    QCOMPARE(second->idLow, 0x620u);
    QCOMPARE(second->muxName, QStringLiteral("sig2"));
    QVERIFY(second->muxMotorola);
    QCOMPARE(db.find(frameOf(0x620, {2, 1})), second);
    QCOMPARE(db.decodeText(frameOf(0x620, {2, 1})), QStringLiteral("sig22=1"));
    QCOMPARE(db.enumByName(QStringLiteral("MyEnum"))->comment,
             QStringLiteral("A something\nB has a comment, too\nand another comment\nlast comment"));
    QCOMPARE(db.decodeText(frameOf(0x555, {1, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 3})),
             QStringLiteral("Test0=1; Test1=10h; Test2=20h; Test3=30h; Test4=40h; Test5=50h; Test6=60h; Test7=C"));

    QVERIFY(db.load(corpusFile(QStringLiteral("test_multiplex_dump.sym"))));
    const SymMessage &muxed = db.messages.at(0);
    QCOMPARE(muxed.muxValue, quint64(0x2A));
    QCOMPARE(muxed.muxBits.size(), 16);
    QCOMPARE(db.decodeText(frameOf(0x100, {0x2A, 0, 0x01, 0, 0, 0, 0, 0})), QStringLiteral("MultiplexedSig=1"));
    QCOMPARE(db.find(frameOf(0x100, {0x2B, 0, 0x01, 0, 0, 0, 0, 0})), nullptr);
}

void TestSymbolCorpus::signalTypes()
{
    SymbolDatabase db;
    QVERIFY(db.load(corpusFile(QStringLiteral("signal-types-6.0.sym"))));
    QCOMPARE(db.floatDecimalPlaces, 1);
    const SymMessage &m = db.messages.at(0);
    QCOMPARE(m.variables.size(), 8);
    const SymVariable &text = m.variables.at(3);
    QCOMPARE(text.name, QStringLiteral("String"));
    QCOMPARE(text.type, int(SymType::String));
    QVERIFY(text.hasDefaultText);
    QCOMPARE(text.defaultText, QStringLiteral("rAB"));
    const SymVariable &ch = m.variables.at(1);
    QCOMPARE(ch.type, int(SymType::Char));
    QCOMPARE(ch.longName, QStringLiteral("CharLong"));
    QCOMPARE(m.variables.at(2).enumName, QStringLiteral("Enum1"));
    // "rAB" does not fit into two bytes, so the default frame leaves them zero.
    const CanFrame frame = db.defaultFrame(m);
    QCOMPARE(frame.data[2], quint8(0));
    QCOMPARE(frame.data[3], quint8(0));
}

QTEST_GUILESS_MAIN(TestSymbolCorpus)
#include "tst_symbolcorpus.moc"
