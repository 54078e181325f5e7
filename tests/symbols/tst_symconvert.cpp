// Writing symbol databases as DBC and as symbol files: what is read back
// decodes every frame as the original did, and what the target format
// cannot hold is named in a warning.
#include "dbcfile.h"
#include "symtestutil.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cmath>

namespace {

QByteArray dbcText(const QByteArray &body)
{
    return "VERSION \"\"\n\nNS_ :\n\nBS_:\n\nBU_: ECU1 ECU2 Gateway\n\n" + body;
}

bool load(SymbolDatabase &db, const QByteArray &text, const QString &name, QStringList *warnings = nullptr)
{
    QString error;
    const bool ok = db.loadData(text, name, &error, warnings);
    if (!ok)
        qWarning("load failed: %s", qPrintable(error));
    return ok;
}

// Frames for every symbol: its default frame, patterns and random data with
// the symbol's multiplexer values.
QList<CanFrame> framesFor(const SymbolDatabase &db)
{
    QRandomGenerator random(7);
    QList<CanFrame> frames;
    for (const SymMessage &m : db.messages) {
        frames.append(db.defaultFrame(m));
        for (int i = 0; i < 8; ++i) {
            CanFrame frame = db.defaultFrame(m);
            for (quint8 &b : frame.data)
                b = i == 0 ? 0xFF : i == 1 ? 0x00 : quint8(random.bounded(256));
            SymbolDatabase::insertMux(m, frame);
            frames.append(frame);
        }
    }
    return frames;
}

// Every value the original decodes, the copy decodes equally; a value is
// found in the copy by its bits, as names may have been made DBC
// identifiers. Texts are compared where both formats can hold how they are
// made: DBC has no hexadecimal or character display and no string or raw
// types, which the writer names in its warnings.
QStringList compareDecoding(const SymbolDatabase &original, const SymbolDatabase &copy, bool toDbc)
{
    QStringList faults;
    for (const CanFrame &frame : framesFor(original)) {
        const SymMessage *a = original.find(frame);
        const SymMessage *b = copy.find(frame);
        if (!a)
            continue;
        if (!b) {
            faults.append(QStringLiteral("%1: keine Botschaft").arg(a->displayName()));
            continue;
        }
        for (const SymVariable &v : a->variables) {
            if (!SymbolDatabase::coversFrame(v, frame) || (toDbc && !v.isNumeric()))
                continue;
            const SymVariable *w = nullptr;
            // Signals may share bits: the one of the same name first.
            for (const SymVariable &candidate : b->variables) {
                if (candidate.bits == v.bits && (!w || candidate.name == v.name || candidate.name == DbcFile::identifier(v.name)))
                    w = &candidate;
            }
            if (!w) {
                faults.append(QStringLiteral("%1: %2 fehlt").arg(a->displayName(), v.name));
                continue;
            }
            const double x = original.physicalValue(v, frame);
            const double y = copy.physicalValue(*w, frame);
            const bool same = x == y || (std::isnan(x) && std::isnan(y)) || std::fabs(x - y) <= 1e-9 * std::fabs(x);
            const bool compareText = !toDbc || (v.displayFormat == 0 && v.type != SymType::Char);
            const QString s = original.valueText(v, frame);
            const QString t = copy.valueText(*w, frame);
            if (!same || (compareText && s != t))
                faults.append(QStringLiteral("%1: %2 = %3 (%4), Kopie %5 (%6)").arg(a->displayName(), v.name, s).arg(x).arg(t).arg(y));
        }
    }
    return faults;
}

const QByteArray RichDbc = dbcText(
    "VAL_TABLE_ Spare 0 \"zero\" 1 \"one\" ;\n"
    "BO_ 256 Engine: 8 ECU1\n"
    " SG_ Speed : 0|16@1+ (0.25,0) [0|16383.75] \"rpm\" ECU2\n"
    " SG_ Temp : 23|8@0- (1,-40) [-40|87] \"°C\" ECU2,ECU1\n"
    " SG_ Ratio : 32|32@1- (1,0) [0|0] \"\" ECU2\n"
    "BO_ 2566844926 Pgn: 8 ECU2\n"
    " SG_ Value : 7|64@0+ (1,0) [0|0] \"\" ECU1\n"
    "BO_ 1024 Mux: 8 ECU1\n"
    " SG_ Page M : 0|8@1+ (1,0) [0|0] \"\" ECU2\n"
    " SG_ A m1 : 8|16@1+ (0.1,0) [0|0] \"V\" ECU2\n"
    " SG_ B m2M : 8|8@1+ (1,0) [0|0] \"\" ECU2\n"
    " SG_ C m0 : 16|8@1- (1,0) [0|0] \"\" ECU2\n"
    " SG_ D m1 : 24|8@1- (1,0) [0|0] \"\" ECU2\n"
    "BO_ 1025 Many: 8 ECU1\n"
    " SG_ Sel M : 0|4@1+ (1,0) [0|0] \"\" ECU2\n"
    " SG_ X m0 : 8|8@1+ (1,0) [0|0] \"\" ECU2\n"
    "CM_ \"Netz\";\n"
    "CM_ BO_ 256 \"Motor\";\n"
    "CM_ SG_ 256 Speed \"Drehzahl \\\"roh\\\"\";\n"
    "BA_DEF_ BO_ \"GenMsgCycleTime\" INT 0 10000;\n"
    "BA_DEF_ SG_ \"GenSigStartValue\" FLOAT 0 100000;\n"
    "BA_DEF_ BO_ \"VFrameFormat\" ENUM \"StandardCAN\",\"ExtendedCAN\",\"reserved\",\"J1939PG\";\n"
    "BA_ \"GenMsgCycleTime\" BO_ 256 20;\n"
    "BA_ \"GenSigStartValue\" SG_ 256 Temp 60;\n"
    "BA_ \"GenSigStartValue\" SG_ 256 Ratio 2.5;\n"
    "BA_ \"VFrameFormat\" BO_ 2566844926 3;\n"
    "VAL_ 256 Temp 0 \"kalt\" 127 \"heiß\" ;\n"
    "VAL_ 1024 Page 1 \"Eins\" 2 \"Zwei\" ;\n"
    "SIG_VALTYPE_ 256 Ratio : 1;\n"
    "SG_MUL_VAL_ 1024 A Page 1-1, 3-5;\n"
    "SG_MUL_VAL_ 1024 B Page 2-2;\n"
    "SG_MUL_VAL_ 1024 C B 0-0;\n"
    "SG_MUL_VAL_ 1024 D B 1-1;\n"
    "SG_MUL_VAL_ 1025 X Sel 0-2;\n"
    // What the database has no records for.
    "BO_TX_BU_ 256 : ECU1,Gateway;\n"
    "SIG_GROUP_ 256 Grp 1 : Speed Temp;\n"
    "EV_ Env: 0 [0|1] \"\" 0 1 DUMMY_NODE_VECTOR0 Vector__XXX;\n"
    "CM_ BU_ Gateway \"Zentral\";\n"
    "CM_ EV_ Env \"Umgebung\";\n"
    "BA_DEF_ \"BusType\" STRING ;\n"
    "BA_DEF_ \"Baudrate\" INT 0 1000000;\n"
    "BA_DEF_ BO_ \"GenMsgSendType\" ENUM \"cyclic\",\"spontaneous\";\n"
    "BA_DEF_ BU_ \"NodeAddress\" INT 0 255;\n"
    "BA_DEF_ SG_ \"SPN\" INT 0 524287;\n"
    "BA_DEF_DEF_ \"GenMsgSendType\" \"cyclic\";\n"
    "BA_ \"BusType\" \"CAN\";\n"
    "BA_ \"Baudrate\" 500000;\n"
    "BA_ \"NodeAddress\" BU_ Gateway 17;\n"
    "BA_ \"GenMsgSendType\" BO_ 256 1;\n"
    "BA_ \"SPN\" SG_ 256 Speed 190;\n");

} // namespace

class TestSymConvert : public QObject
{
    Q_OBJECT

private slots:
    void dbcRoundTrip();
    void symToDbc();
    void dbcToSym();
    void writtenFilesLoadCleanly_data();
    void writtenFilesLoadCleanly();
    void symbolFileLinesStayWhole_data();
    void symbolFileLinesStayWhole();
};

void TestSymConvert::dbcRoundTrip()
{
    SymbolDatabase original;
    QStringList warnings;
    QVERIFY(load(original, RichDbc, QStringLiteral("rich.dbc"), &warnings));
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    QStringList lost;
    const QByteArray written = DbcFile::write(original, &lost);
    QVERIFY2(lost.isEmpty(), qPrintable(lost.join('\n')));
    SymbolDatabase copy;
    QVERIFY(load(copy, written, QStringLiteral("copy.dbc"), &warnings));
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n') + "\n" + written));

    // Same variants in the same order, same records.
    QCOMPARE(copy.messages.size(), original.messages.size());
    for (int i = 0; i < original.messages.size(); ++i) {
        const SymMessage &a = original.messages.at(i);
        const SymMessage &b = copy.messages.at(i);
        QCOMPARE(b.displayName(), a.displayName());
        QCOMPARE(b.idLow, a.idLow);
        QCOMPARE(b.extended, a.extended);
        QCOMPARE(b.frameType, a.frameType);
        QCOMPARE(b.length, a.length);
        QCOMPARE(b.cycleTime, a.cycleTime);
        QCOMPARE(b.comment, a.comment);
        QCOMPARE(b.sender, a.sender);
        QCOMPARE(b.transmitters, a.transmitters);
        QCOMPARE(b.attributes, a.attributes);
        QCOMPARE(b.muxBits, a.muxBits);
        QCOMPARE(b.muxMaskMode, a.muxMaskMode);
        QCOMPARE(b.muxMask, a.muxMask);
        QCOMPARE(b.muxValue, a.muxValue);
        QCOMPARE(b.variables.size(), a.variables.size());
        for (int k = 0; k < a.variables.size(); ++k) {
            const SymVariable &v = a.variables.at(k);
            const SymVariable &w = b.variables.at(k);
            QCOMPARE(w.name, v.name);
            QCOMPARE(w.bits, v.bits);
            QCOMPARE(w.type, v.type);
            QCOMPARE(w.isSigned, v.isSigned);
            QCOMPARE(w.factor, v.factor);
            QCOMPARE(w.offset, v.offset);
            QCOMPARE(w.hasMin, v.hasMin);
            QCOMPARE(w.minimum, v.minimum);
            QCOMPARE(w.maximum, v.maximum);
            QCOMPARE(w.unit, v.unit);
            QCOMPARE(w.comment, v.comment);
            QCOMPARE(w.receivers, v.receivers);
            QCOMPARE(w.multiplexor, v.multiplexor);
            QCOMPARE(w.hasDefaultRaw, v.hasDefaultRaw);
            QCOMPARE(w.defaultRaw, v.defaultRaw);
            QCOMPARE(w.attributes, v.attributes);
            const SymEnum *e = original.enumFor(v);
            const SymEnum *f = copy.enumFor(w);
            QCOMPARE(f != nullptr, e != nullptr);
            if (e)
                QCOMPARE(f->values, e->values);
        }
    }
    QCOMPARE(copy.description, original.description);
    QVERIFY(copy.enumByName(QStringLiteral("Spare")));
    // Nodes, definitions and the statements without records stay as written.
    QCOMPARE(copy.dbcNodes, QStringList({"ECU1", "ECU2", "Gateway"}));
    QCOMPARE(original.dbcDefinitions.size(), 9);
    QCOMPARE(original.dbcStatements.size(), 7);
    QCOMPARE(original.messages.at(0).transmitters, QStringList({"ECU1", "Gateway"}));
    QStringList a = original.dbcDefinitions;
    QStringList b = copy.dbcDefinitions;
    a.sort();
    b.sort();
    QCOMPARE(b, a);
    a = original.dbcStatements;
    b = copy.dbcStatements;
    a.sort();
    b.sort();
    QCOMPARE(b, a);
    // Message attributes as text, with the default where a message has none.
    QCOMPARE(copy.messageAttribute(copy.messages.at(0), QStringLiteral("GenMsgSendType")), QStringLiteral("spontaneous"));
    QCOMPARE(copy.messageAttribute(copy.messages.at(1), QStringLiteral("GenMsgSendType")), QStringLiteral("cyclic"));
    QCOMPARE(copy.messageAttribute(copy.messages.at(0), QStringLiteral("GenMsgCycleTime")), QStringLiteral("20"));
    QCOMPARE(copy.messageAttribute(copy.messages.at(0), QStringLiteral("Unbekannt")), QString());
    QVERIFY(compareDecoding(original, copy, false).isEmpty());
}

void TestSymConvert::symToDbc()
{
    SymbolDatabase sym;
    QVERIFY(loadText(sym,
                     "FormatVersion=6.0\nTitle=\"Probe\"\n{ENUMS}\nEnum=Mode(0=\"Aus\", 1=\"Ein\", 2..4=\"Test\")\n"
                     "{SEND}\n[Status]\nID=123h\nLen=4\nCycleTime=50\nTimeout=100\n"
                     "Var=Mode Mode 0,4\nVar=\"Gas Pedal\" unsigned 8,8 /f:0.5 /u:\"%\" /min:0 -h\n"
                     "Var=Label string 16,16\n"
                     "{RECEIVE}\n[Pages]\nID=200h\nLen=8\nMux=First 0,8 1\nVar=A signed 8,16 -m /max:100\n"
                     "[Pages]\nLen=8\nMux=Second 0,8 2\nVar=B float 32,32\n"
                     "[Range]\nID=300h-30Fh\nVar=R unsigned 0,8\n"));
    QStringList lost;
    const QByteArray written = DbcFile::write(sym, &lost);
    const QString all = lost.join('\n');
    // What DBC has no place for is named.
    for (const char *expected : {"Gas Pedal", "Range", "Label", "Status", "Probe", "Mode"})
        QVERIFY2(all.contains(QLatin1String(expected)), qPrintable(expected + QStringLiteral(" fehlt in:\n") + all));
    SymbolDatabase dbc;
    QStringList warnings;
    QVERIFY(load(dbc, written, QStringLiteral("probe.dbc"), &warnings));
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n') + "\n" + written));
    const QStringList faults = compareDecoding(sym, dbc, true);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n') + "\n" + written));
    // The multiplexer field without a variable of its own becomes a signal
    // whose value descriptions keep the variants' names.
    const SymMessage *first = dbc.find(frameOf(0x200, {1, 0, 0, 0, 0, 0, 0, 0}));
    QVERIFY(first);
    QCOMPARE(first->displayName(), QStringLiteral("Pages [First]"));
    QCOMPARE(dbc.find(frameOf(0x123, {0, 0, 0, 0}))->cycleTime, 50);
    // The range's first identifier only.
    QVERIFY(dbc.find(frameOf(0x300, {0, 0, 0, 0, 0, 0, 0, 0})));
    QVERIFY(!dbc.find(frameOf(0x301, {0, 0, 0, 0, 0, 0, 0, 0})));
}

void TestSymConvert::dbcToSym()
{
    SymbolDatabase original;
    QVERIFY(load(original, RichDbc, QStringLiteral("rich.dbc")));
    QStringList lost;
    const QByteArray sym = SymFile::write(original, &lost);
    // What the symbol file cannot carry is named.
    for (const char *item : {"Empfänger", "BO_TX_BU_", "SIG_GROUP_ (1)", "EV_ (1)", "CM_ BU_ (1)", "CM_ EV_ (1)", "BA_ (3)",
                             "BusType", "Baudrate", "NodeAddress", "GenMsgSendType", "SPN", "Gateway"})
        QVERIFY2(lost.join('\n').contains(QString::fromUtf8(item)), qPrintable(item + QStringLiteral(" fehlt in:\n") + lost.join('\n')));
    SymbolDatabase copy;
    QStringList warnings;
    QVERIFY(load(copy, sym, QStringLiteral("rich.sym"), &warnings));
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n') + "\n" + sym));
    QCOMPARE(copy.fileFormat, int(SymFileFormat::Sym));
    const QStringList faults = compareDecoding(original, copy, false);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n') + "\n" + sym));
    // Start values and cycle times stay.
    const CanFrame a = original.defaultFrame(original.messages.at(0));
    const CanFrame b = copy.defaultFrame(copy.messages.at(0));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(b.data), 8), QByteArray(reinterpret_cast<const char *>(a.data), 8));
    QVERIFY(a.data[2] != 0 && a.data[4 + 3] != 0);   // Temp and Ratio have start values
    QCOMPARE(copy.messages.at(0).cycleTime, 20);
    QCOMPARE(copy.messages.at(1).frameType, int(SymFrameType::J1939Pg));

    // And back: a DBC -> sym -> DBC round trip decodes like the original.
    SymbolDatabase again;
    QVERIFY(load(again, DbcFile::write(copy, &lost), QStringLiteral("again.dbc"), &warnings));
    const QStringList back = compareDecoding(original, again, false);
    QVERIFY2(back.isEmpty(), qPrintable(back.join('\n')));
}

void TestSymConvert::writtenFilesLoadCleanly_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("name");
    QTest::newRow("dbc") << RichDbc << QStringLiteral("rich.dbc");
    QTest::newRow("sym") << QByteArray("FormatVersion=5.0\n{SENDRECEIVE}\n[A]\nID=18FEF100h\nType=Extended\nLen=8\n"
                                       "Var=x unsigned 0,12 -m /o:-5 /f:0.001\nVar=y char 16,8\nVar=z bit 24,1 /d:1\n")
                         << QStringLiteral("a.sym");
}

void TestSymConvert::writtenFilesLoadCleanly()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, name);
    SymbolDatabase db;
    QVERIFY(load(db, text, name));
    QStringList lost;
    for (const QByteArray &written : {DbcFile::write(db, &lost), SymFile::write(db, &lost)}) {
        SymbolDatabase copy;
        QStringList warnings;
        const bool isDbc = written.startsWith("VERSION");
        QVERIFY(load(copy, written, isDbc ? QStringLiteral("w.dbc") : QStringLiteral("w.sym"), &warnings));
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n') + "\n" + written));
        const QStringList faults = compareDecoding(db, copy, isDbc);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n') + "\n" + written));
    }
}

void TestSymConvert::symbolFileLinesStayWhole_data()
{
    // A text with a line break in every place the writer puts one.
    QTest::addColumn<QString>("place");
    for (const char *place : {"unit", "variable", "symbol", "long name", "value text", "start text", "title"})
        QTest::newRow(place) << QString::fromLatin1(place);
}

void TestSymConvert::symbolFileLinesStayWhole()
{
    QFETCH(QString, place);
    const QString text = QStringLiteral("zwei\nZeilen");
    SymbolDatabase db;
    SymMessage &m = db.messages.emplaceBack();
    m.name = place == QLatin1String("symbol") ? text : QStringLiteral("M");
    m.idLow = m.idHigh = 0x100;
    m.length = 8;
    m.lengthUnspecified = false;
    SymVariable &v = m.variables.emplaceBack();
    v.name = place == QLatin1String("variable") ? text : QStringLiteral("V");
    v.startBit = 0;
    v.length = 8;
    v.bits = SymbolDatabase::bitsFromPosition(0, 8, false);
    if (place == QLatin1String("unit"))
        v.unit = text;
    if (place == QLatin1String("long name"))
        v.longName = text;
    if (place == QLatin1String("value text")) {
        SymEnum e;
        e.name = QStringLiteral("E");
        e.values.insert(1, text);
        db.enums.insert(QStringLiteral("E"), e);
        v.enumName = QStringLiteral("E");
        v.type = SymType::Enum;
    }
    if (place == QLatin1String("start text")) {
        v.type = SymType::String;
        v.hasDefaultText = true;
        v.defaultText = text;
    }
    if (place == QLatin1String("title"))
        db.title = text;

    QStringList lost;
    const QByteArray written = SymFile::write(db, &lost);
    QVERIFY2(lost.join('\n').contains(QStringLiteral("Zeilenumbrüche")), qPrintable(lost.join('\n')));
    SymbolDatabase copy;
    QStringList warnings;
    QVERIFY(load(copy, written, QStringLiteral("lines.sym"), &warnings));
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n') + "\n" + written));
    QCOMPARE(copy.messages.size(), 1);
    QCOMPARE(copy.messages.at(0).variables.size(), 1);
    const SymVariable &w = copy.messages.at(0).variables.at(0);
    const QString oneLine = QStringLiteral("zwei Zeilen");
    const QString read = place == QLatin1String("unit") ? w.unit
        : place == QLatin1String("variable")            ? w.name
        : place == QLatin1String("symbol")              ? copy.messages.at(0).name
        : place == QLatin1String("long name")           ? w.longName
        : place == QLatin1String("value text")          ? copy.decodeText(frameOf(0x100, {1, 0, 0, 0, 0, 0, 0, 0})).section('=', 1)
        : place == QLatin1String("start text")          ? w.defaultText
                                                        : copy.title;
    QCOMPARE(read, oneLine);
}

QTEST_GUILESS_MAIN(TestSymConvert)
#include "tst_symconvert.moc"
