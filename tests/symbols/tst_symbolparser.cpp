// Loading symbol files: fatal errors, every warning branch with its exact text
// and line number, and the values the parser stores.
#include "symtestutil.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

// A 6.0 (or 5.0) file whose line 5 is the given symbol line (more may follow).
QByteArray inSymbol(const QByteArray &lines, const QByteArray &version = "6.0")
{
    return "FormatVersion=" + version + "\n{SENDRECEIVE}\n[M]\nID=1\n" + lines;
}

QStringList warningsOf(const QByteArray &text, bool *ok = nullptr)
{
    SymbolDatabase db;
    QStringList warnings;
    QString error;
    const bool loaded = db.loadData(text, QString(), &error, &warnings);
    if (ok)
        *ok = loaded;
    else if (!loaded)
        warnings.append(QStringLiteral("LOAD FAILED: ") + error);
    return warnings;
}

} // namespace

class TestSymbolParser : public QObject
{
    Q_OBJECT

private slots:
    void fatalErrors_data();
    void fatalErrors();
    void failedLoadLeavesDatabaseUnchanged();
    void warnings_data();
    void warnings();
    void textDecodingBomAndWindows1252();
    void headerSettingsAndDescription();
    void commentsOutsideQuotes();
    void enumerationsOverSeveralLines();
    void symbolKeysAndLengthRules_data();
    void symbolKeysAndLengthRules();
    void repeatedSymbolBlocksContinueEarlierDefinition();
    void j1939MasksAndIndex();
    void multiplexerLines();
    void variableLineFields();
    void decimalSeparatorForFactor();
    void initialValues_data();
    void initialValues();
    void signalDefinitionsAndAssignments();
    void uniqueVariablesCheck();
    void hostileInputsStayBounded();
};

void TestSymbolParser::fatalErrors_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");

    QTest::newRow("version 5.1") << QByteArray("FormatVersion=5.1\n{SEND}\n[A]\nID=1\n")
                                 << QStringLiteral("Zeile 1: Es werden nur FormatVersion=5.0 und 6.0 unterstützt (Datei: 5.1).");
    QTest::newRow("version 7.0 after comments")
        << QByteArray("// made by hand\n\nFormatVersion= 7.0 \n")
        << QStringLiteral("Zeile 3: Es werden nur FormatVersion=5.0 und 6.0 unterstützt (Datei: 7.0).");
    QTest::newRow("other key first") << QByteArray("Title=\"x\"\nFormatVersion=5.0\n")
                                     << QStringLiteral("Zeile 1: FormatVersion fehlt (erwartet: FormatVersion=5.0 oder 6.0 als erste Zeile).");
    QTest::newRow("section first") << QByteArray("\n{SEND}\nFormatVersion=5.0\n")
                                   << QStringLiteral("Zeile 2: FormatVersion fehlt (erwartet: FormatVersion=5.0 oder 6.0).");
    QTest::newRow("no version at all") << QByteArray("// nothing\n\n")
                                       << QStringLiteral("Die Datei enthält keine FormatVersion (erwartet: FormatVersion=5.0 oder 6.0).");
    QTest::newRow("no symbols") << QByteArray("FormatVersion=6.0\n{ENUMS}\nEnum=A(1=\"a\")\n")
                                << QStringLiteral("Die Datei enthält keine Symbole (Nachrichtendefinitionen).");
    QTest::newRow("only skipped symbols") << QByteArray("FormatVersion=6.0\n{SEND}\n[NoId]\nLen=8\n")
                                          << QStringLiteral("Die Datei enthält keine Symbole (Nachrichtendefinitionen).");
}

void TestSymbolParser::fatalErrors()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    SymbolDatabase db;
    QString actual;
    QStringList warnings;
    QVERIFY(!db.loadData(text, QString(), &actual, &warnings));
    QCOMPARE(actual, error);
}

void TestSymbolParser::failedLoadLeavesDatabaseUnchanged()
{
    SymbolDatabase db;
    QVERIFY(loadText(db, "FormatVersion=5.0\nTitle=\"First\"\n{SEND}\n[A]\nID=12h\n"));
    QString error;
    QVERIFY(!db.loadData("FormatVersion=6.0\nTitle=\"Second\"\n", QString(), &error, nullptr));
    QCOMPARE(db.title, QStringLiteral("First"));
    QCOMPARE(db.messages.size(), 1);
    QCOMPARE(db.formatVersion, QStringLiteral("5.0"));

    QTemporaryDir dir;
    QVERIFY(!db.load(dir.filePath(QStringLiteral("missing.sym")), &error, nullptr));
    QVERIFY(!error.isEmpty());
    QCOMPARE(db.title, QStringLiteral("First"));
}

void TestSymbolParser::warnings_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("expected");

    // Sections and header.
    QTest::newRow("signals in 5.0 ignored")
        << QByteArray("FormatVersion=5.0\n{SIGNALS}\nSig=S unsigned 8\nrubbish\n{SEND}\n[A]\nID=1\n")
        << QStringList{QStringLiteral("Zeile 2: Abschnitt {SIGNALS} gehört nicht zu Format 5.0 – ignoriert")};
    QTest::newRow("virtualvars in 6.0, unknown section")
        << QByteArray("FormatVersion=6.0\n{virtualvars}\n{ Extra }\n{SEND}\n[A]\nID=1\n")
        << QStringList{QStringLiteral("Zeile 2: Abschnitt {VIRTUALVARS} gehört nicht zu Format 6.0 – ignoriert"),
                       QStringLiteral("Zeile 3: Abschnitt {EXTRA} gehört nicht zu Format 6.0 – ignoriert")};
    QTest::newRow("header lines")
        << QByteArray("FormatVersion=6.0\nWhatever=1\nloose words\nIDMask=zz\nMuxChar=x\nByteOrder=1\n{SEND}\n[A]\nID=1\n")
        << QStringList{QStringLiteral("Zeile 2: Unbekannter Schlüssel im Kopfbereich: Whatever"),
                       QStringLiteral("Zeile 3: Unbekannte Zeile im Kopfbereich: loose words"),
                       QStringLiteral("Zeile 4: Ungültige IDMask: zz")};
    QTest::newRow("virtual and signal section lines")
        << QByteArray("FormatVersion=5.0\n{VIRTUALVARS}\nSig=a unsigned\nVar=v unsigned\n{SEND}\n[A]\nID=1\n")
        << QStringList{QStringLiteral("Zeile 3: Variablendefinition 'Var=...' erwartet: Sig=a unsigned")};
    QTest::newRow("signal section lines")
        << QByteArray("FormatVersion=6.0\n{SIGNALS}\nVar=a unsigned 8\nSig=a unsigned 8\nSig=A signed 4\n{SEND}\n[A]\nID=1\n")
        << QStringList{QStringLiteral("Zeile 3: Signaldefinition 'Sig=...' erwartet: Var=a unsigned 8"),
                       QStringLiteral("Zeile 5: Signalname \"A\" wird bereits verwendet")};

    // Enumerations.
    QTest::newRow("enum lines")
        << QByteArray("FormatVersion=6.0\n{ENUMS}\nvalue(1=\"x\")\nenum (1=\"a\")\nEnum E(x=\"a\", 5..2=\"b\", 1=\"c\")\nenum e(2=\"d\")\n{SEND}\n[A]\nID=1\n")
        << QStringList{QStringLiteral("Zeile 3: Schlüsselwort 'Enum' erwartet: value(1=\"x\")"),
                       QStringLiteral("Zeile 4: Ungültige Enum-Definition"),
                       QStringLiteral("Zeile 5: Enum E: ungültiger Wert \"x\""),
                       QStringLiteral("Zeile 5: Enum E: ungültiger Bereich \"5..2\""),
                       QStringLiteral("Zeile 6: Enum-Neudefinition: e")};
    QTest::newRow("enum unclosed at end of file")
        << QByteArray("FormatVersion=6.0\n{SEND}\n[A]\nID=1\n{ENUMS}\nenum Open(1=\"a\",\n2=\"b\"\n")
        << QStringList{QStringLiteral("Zeile 7: Ungültige Enum-Definition")};

    // Symbol key lines.
    QTest::newRow("outside symbol") << QByteArray("FormatVersion=6.0\n{SEND}\nID=1\n[A]\nID=1\n")
                                    << QStringList{QStringLiteral("Zeile 3: Zeile außerhalb eines Symbols ignoriert: ID=1")};
    QTest::newRow("bad key values")
        << inSymbol("ID=xyz\nID=-5\nType=Bus\nLen=-1\nDLC=65\nCycleTime=x\nTimeout=-1\nColor=1000000h\nJ1939Mask=q\nSpeed=3\nnothing here\n=3\n")
        << QStringList{QStringLiteral("Zeile 5: Ungültige CAN-ID: xyz"),
                       QStringLiteral("Zeile 6: Ungültige CAN-ID: -5"),
                       QStringLiteral("Zeile 7: Unbekannter Symboltyp: Bus"),
                       QStringLiteral("Zeile 8: Ungültige Datenlänge: -1"),
                       QStringLiteral("Zeile 9: Ungültige Datenlänge: 65"),
                       QStringLiteral("Zeile 10: Ungültiger Wert für cycletime: x"),
                       QStringLiteral("Zeile 11: Ungültiger Wert für timeout: -1"),
                       QStringLiteral("Zeile 12: Ungültige Farbe: 1000000h"),
                       QStringLiteral("Zeile 13: Ungültige J1939Mask: q"),
                       QStringLiteral("Zeile 14: Unbekannter Schlüssel: Speed"),
                       QStringLiteral("Zeile 15: Unbekannte Zeile: nothing here"),
                       QStringLiteral("Zeile 16: Unbekannte Zeile: =3")};
    QTest::newRow("fd type in 5.0, sig in 5.0")
        << inSymbol("Type=FDStandard\nSig=S 0\n", "5.0")
        << QStringList{QStringLiteral("Zeile 5: Typ \"FDStandard\" gehört erst zu Format 6.0 – als klassisches CAN behandelt"),
                       QStringLiteral("Zeile 6: Signalzuweisung (Sig=) gehört zu Format 6.0 – ignoriert")};
    QTest::newRow("mux lines")
        << inSymbol("Mux=A 0,8\nMux=A x,8 1\nMux=B 60,8 1 -q\n[N]\nID=2\nMuxMask=C 12\nMuxMask=C 1,\nMuxMask=C 1,F\nMux=D 0,8 1\n")
        << QStringList{QStringLiteral("Zeile 5: Ungültige Mux-Zeile (erwartet: Name Startbit,Länge Wert): A 0,8"),
                       QStringLiteral("Zeile 6: Ungültige Mux-Zeile (erwartet: Name Startbit,Länge Wert): A x,8 1"),
                       QStringLiteral("Zeile 7: Mux B: unbekannte Angabe \"-q\""),
                       QStringLiteral("Zeile 7: [M]: Multiplexer 60,8 liegt außerhalb der 64 Datenbits"),
                       QStringLiteral("Zeile 10: Ungültige MuxMask-Zeile (erwartet: Name Wert,Maske): C 12"),
                       QStringLiteral("Zeile 11: Ungültige MuxMask-Zeile (erwartet: Name Wert,Maske): C 1,"),
                       QStringLiteral("Zeile 13: Klassische Multiplexer und Multiplexer-Bitmasken dürfen nicht im selben Symbol stehen")};
    QTest::newRow("muxmask after classic mux")
        << inSymbol("Mux=A 0,8 1\nMuxMask=B 1,F\n")
        << QStringList{QStringLiteral("Zeile 6: Klassische Multiplexer und Multiplexer-Bitmasken dürfen nicht im selben Symbol stehen")};

    // Finishing symbols (warnings carry the line that opened the symbol).
    QTest::newRow("finish checks")
        << QByteArray("FormatVersion=6.0\n{SEND}\n"
                      "[NoId]\nLen=8\n"                          // 3: dropped
                      "[Big]\nID=3FFFFFFFh\nType=Extended\n"     // 5
                      "[Std]\nID=800h\nType=Standard\n"          // 8
                      "[Snd]\nID=200h-100h\nTimeout=5\n"         // 11
                      "[Fd]\nType=FDStandard\nID=5\nDLC=13\n"    // 14
                      "[Cls]\nID=6\nDLC=13\n"                    // 18
                      "[Cls2]\nID=7\nDLC=16\n"                   // 21
                      "[Len]\nID=8\nLen=12\n"                    // 24
                      "{RECEIVE}\n"
                      "[Std]\nID=801h\n")                        // 28
        << QStringList{QStringLiteral("Zeile 3: Nachricht [NoId] hat keine CAN-ID und es gibt keine gleichnamige Nachricht davor – übersprungen"),
                       QStringLiteral("Zeile 5: [Big]: CAN-ID größer als 1FFFFFFFh"),
                       QStringLiteral("Zeile 8: [Std]: Typ passt nicht zur angegebenen Extended-CAN-ID"),
                       QStringLiteral("Zeile 11: [Snd]: Timeouts sind für Sendesymbole nicht erlaubt"),
                       QStringLiteral("Zeile 11: [Snd]: CAN-ID-Bereiche sind nur für Empfangssymbole erlaubt"),
                       QStringLiteral("Zeile 14: [Fd]: CAN FD mit 32 Byte – nur die ersten 8 Datenbytes lassen sich dekodieren"),
                       QStringLiteral("Zeile 18: [Cls]: Datenlänge 13 > 8 ist nur bei CAN FD erlaubt – auf 8 begrenzt"),
                       QStringLiteral("Zeile 21: [Cls2]: ungültiger Datenlängencode 16"),
                       QStringLiteral("Zeile 24: [Len]: Datenlänge 12 > 8 ist nur bei CAN FD erlaubt – auf 8 begrenzt"),
                       QStringLiteral("Zeile 28: [Std]: die CAN-ID weicht von der früheren Definition desselben Symbols ab"),
                       QStringLiteral("Zeile 28: [Std]: Symbol wurde zuerst in einem anderen Abschnitt definiert")};
    QTest::newRow("multiplexer variants")
        << QByteArray("FormatVersion=6.0\n{RECEIVE}\n"
                      "[V]\nID=10\nMux=One 0,8 1\n"    // 3
                      "[V]\nMux=One 0,8 2\n"           // 6
                      "[V]\nMux=Two 0,8 1\n")          // 8
        << QStringList{QStringLiteral("Zeile 6: [V]: Multiplexername \"One\" wird bereits verwendet"),
                       QStringLiteral("Zeile 8: [V]: Multiplexerwert wird bereits von \"One\" verwendet")};

    QTest::newRow("multiplexer clashes reported once per block")
        << QByteArray("FormatVersion=6.0\n{RECEIVE}\n"
                      "[V]\nID=10\nMux=One 0,8 1\n"   // 3
                      "[V]\nMux=Two 0,8 1\n"          // 6
                      "[V]\nMux=Three 0,8 1\n"        // 8
                      "[V]\nMux=One 0,8 1\n"          // 10
                      "[V]\nLen=4\nMux=Four 0,8 1\n") // 12: other length, no clash
        << QStringList{QStringLiteral("Zeile 6: [V]: Multiplexerwert wird bereits von \"One\" verwendet"),
                       QStringLiteral("Zeile 8: [V]: Multiplexerwert wird bereits von \"One\" verwendet"),
                       QStringLiteral("Zeile 10: [V]: Multiplexername \"One\" wird bereits verwendet"),
                       QStringLiteral("Zeile 10: [V]: Multiplexerwert wird bereits von \"Two\" verwendet")};

    // Variable lines.
    QTest::newRow("variable lines")
        << inSymbol("Var=OnlyName\nVar=\"\" unsigned 0,8\nVar=W word 0,16\nVar=X thing 0,8\nVar=P unsigned 0\n"
                    "Var=Q unsigned 60,8\nVar=Z unsigned 0,0\nVar=F float 0,16\nVar=S string 4,8\nVar=G signed 0,1\n"
                    "Var=K unsigned 0,8 -x /zz:1 loose /f:0 /o:a /f:b /e:Nope /d:q\n")
        << QStringList{QStringLiteral("Zeile 5: Ungültige Var-Zeile (erwartet: Name Typ Startbit,Länge): OnlyName"),
                       QStringLiteral("Zeile 6: Ungültige Var-Zeile (erwartet: Name Typ Startbit,Länge): \"\" unsigned 0,8"),
                       QStringLiteral("Zeile 7: [M] W: Datentyp \"word\" wird ab FormatVersion 5 nicht mehr unterstützt"),
                       QStringLiteral("Zeile 8: [M] X: unbekannter Datentyp \"thing\" – als unsigned behandelt"),
                       QStringLiteral("Zeile 9: [M] P: Startbit,Länge fehlt oder ist ungültig"),
                       QStringLiteral("Zeile 10: [M] Q: Position 60,8 reicht über die 64 Datenbits (8 Byte) hinaus – übersprungen"),
                       QStringLiteral("Zeile 11: [M] Z: Variablen können nicht kürzer als 1 Bit sein"),
                       QStringLiteral("Zeile 12: [M] F: falsche Bitanzahl für Datentyp 'float' – als unsigned behandelt"),
                       QStringLiteral("Zeile 13: [M] S: String/Raw muss an Byte-Grenzen ausgerichtet sein – übersprungen"),
                       QStringLiteral("Zeile 14: [M] G: nicht genügend Bits für Datentyp 'signed'"),
                       QStringLiteral("Zeile 15: [M] K: unbekanntes Flag \"-x\""),
                       QStringLiteral("Zeile 15: [M] K: unbekannte Option \"/zz:1\""),
                       QStringLiteral("Zeile 15: [M] K: unerwartetes Token \"loose\""),
                       QStringLiteral("Zeile 15: [M] K: ungültiger Offset \"a\""),
                       QStringLiteral("Zeile 15: [M] K: ungültiger Faktor \"b\""),
                       QStringLiteral("Zeile 15: [M] K: unbekanntes Enum \"Nope\""),
                       QStringLiteral("Zeile 15: [M] K: Faktor 0 führt zur Division durch Null – Faktor 1 verwendet (Dezimaltrennzeichen prüfen)"),
                       QStringLiteral("Zeile 15: [M] K: ungültiger Anfangswert \"q\"")};
    QTest::newRow("virtual variables")
        << QByteArray("FormatVersion=5.0\n{VIRTUALVARS}\nVar=V\nVar=V char /f:0\n{SEND}\n[A]\nID=1\n")
        << QStringList{QStringLiteral("Zeile 3: Ungültige Var-Zeile (erwartet: Name Typ): V"),
                       QStringLiteral("Zeile 4: [virtuelle Variable] V: Faktor 0 führt zur Division durch Null – Faktor 1 verwendet (Dezimaltrennzeichen prüfen)")};
    QTest::newRow("signal definitions and assignments")
        << QByteArray("FormatVersion=6.0\n{SIGNALS}\nSig=L unsigned\nSig=H unsigned 65\nSig=C char 7\nSig=D double\nSig=R raw 16\n"
                      "{SEND}\n[A]\nID=1\nSig=D 60\nSig=Nope 0\nSig=D\nSig=D -1\nSig=R 4\nSig=C 0\n")
        << QStringList{QStringLiteral("Zeile 3: Signal L: Länge fehlt oder ist ungültig – übersprungen"),
                       QStringLiteral("Zeile 4: Signal H: 65 Bit reichen über die 64 Datenbits (8 Byte) hinaus – übersprungen"),
                       QStringLiteral("Zeile 5: [Signaldefinition] C: falsche Bitanzahl für Datentyp 'char' – als unsigned behandelt"),
                       QStringLiteral("Zeile 11: [A] D: Position 60,64 reicht über die 64 Datenbits (8 Byte) hinaus – übersprungen"),
                       QStringLiteral("Zeile 12: [A] Signal \"Nope\" ist in {SIGNALS} nicht definiert"),
                       QStringLiteral("Zeile 13: Ungültige Sig-Zeile (erwartet: Name Startbit): D"),
                       QStringLiteral("Zeile 14: Ungültige Sig-Zeile (erwartet: Name Startbit): D -1"),
                       QStringLiteral("Zeile 15: [A] R: String/Raw muss an Byte-Grenzen ausgerichtet sein – übersprungen")};
    // Positions far beyond the data are named as written, without overflow.
    QTest::newRow("huge positions")
        << QByteArray("FormatVersion=6.0\n{SIGNALS}\nSig=B unsigned 99999999999999999999\nSig=D double\n"
                      "{SEND}\n[A]\nID=1\nSig=D 9223372036854775807\nSig=D 9223372036854775744\n"
                      "Var=V unsigned 12345678901234567890,8\nVar=W unsigned 0,0099999999999\n")
        << QStringList{QStringLiteral("Zeile 3: Signal B: 99999999999999999999 Bit reichen über die 64 Datenbits (8 Byte) hinaus – übersprungen"),
                       QStringLiteral("Zeile 8: [A] D: Position 9223372036854775807,64 reicht über die 64 Datenbits (8 Byte) hinaus – übersprungen"),
                       QStringLiteral("Zeile 9: [A] D: Position 9223372036854775744,64 reicht über die 64 Datenbits (8 Byte) hinaus – übersprungen"),
                       QStringLiteral("Zeile 10: [A] V: Position 12345678901234567890,8 reicht über die 64 Datenbits (8 Byte) hinaus – übersprungen"),
                       QStringLiteral("Zeile 11: [A] W: Position 0,0099999999999 reicht über die 64 Datenbits (8 Byte) hinaus – übersprungen")};
    // Non-finite factors and offsets would turn every value into nan or inf.
    QTest::newRow("non-finite factor and offset")
        << inSymbol("Var=K unsigned 0,8 /f:nan /o:inf\nVar=L unsigned 8,8 /f:-inf /o:NaN\n")
        << QStringList{QStringLiteral("Zeile 5: [M] K: ungültiger Faktor \"nan\""),
                       QStringLiteral("Zeile 5: [M] K: ungültiger Offset \"inf\""),
                       QStringLiteral("Zeile 6: [M] L: ungültiger Faktor \"-inf\""),
                       QStringLiteral("Zeile 6: [M] L: ungültiger Offset \"NaN\"")};
}

void TestSymbolParser::warnings()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, expected);
    QCOMPARE(warningsOf(text), expected);
}

void TestSymbolParser::textDecodingBomAndWindows1252()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "\xEF\xBB\xBF" "FormatVersion=6.0\nTitle=\"Gr\xC3\xBC\xC3\x9F" "e\"\n{SEND}\n[A]\nID=1\n", &warnings));
    QCOMPARE(db.title, QStringLiteral("Grüße"));
    QVERIFY(warnings.isEmpty());

    // Not valid UTF-8: read as Windows-1252, including the euro sign at 0x80.
    QVERIFY(loadText(db, "FormatVersion=6.0\n{SEND}\n[\xC4nderung]\nID=1\nVar=T unsigned 0,8 /u:\x80/m\xB2\n", &warnings));
    QCOMPARE(db.messages.at(0).name, QStringLiteral("Änderung"));
    QCOMPARE(db.messages.at(0).variables.at(0).unit, QStringLiteral("€/m²"));
}

void TestSymbolParser::headerSettingsAndDescription()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "// before the version: not kept\n"
                         "FormatVersion=6.0 // Do not edit\n"
                         "// First line\n"
                         "Title=\" A title \"\n"
                         "//Second line\n"
                         "DecimalSeparator=Komma\nUniqueVariables=TRUE\nFloatDecimalPlaces=20\nFloatPrecision=x\n"
                         "IDMask=7FFh\nBRS=1\n"
                         "{SEND}\n[A]\nID=1\n",
                     &warnings));
    QCOMPARE(warnings, QStringList());
    QCOMPARE(db.formatVersion, QStringLiteral("6.0"));
    QCOMPARE(db.description, QStringLiteral("First line\nSecond line"));
    QCOMPARE(db.title, QStringLiteral(" A title "));
    QCOMPARE(db.decimalSeparator, QLatin1Char(','));
    QVERIFY(db.uniqueVariables);
    QCOMPARE(db.floatDecimalPlaces, 15);
    QCOMPARE(db.floatPrecision, 0);
    QCOMPARE(db.idMask, 0x7FFu);
    QVERIFY(db.messages.at(0).brs);
    QCOMPARE(db.messages.at(0).idMask, 0x7FFu);
    // The index key holds the masked identifier.
    QVERIFY(db.idIndex.contains(1));
}

void TestSymbolParser::commentsOutsideQuotes()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "FormatVersion=6.0\n{SEND}\n"
                         "[\"A//B\"] // head\n"
                         "// inside\n"
                         "ID=1 // id line\n"
                         "Var=V unsigned 0,8 /u:\"km//h\" // of the variable\n",
                     &warnings));
    const SymMessage &m = db.messages.at(0);
    QCOMPARE(m.name, QStringLiteral("A//B"));
    QCOMPARE(m.comment, QStringLiteral("head\ninside\nid line"));
    QCOMPARE(m.variables.at(0).unit, QStringLiteral("km//h"));
    QCOMPARE(m.variables.at(0).comment, QStringLiteral("of the variable"));
}

void TestSymbolParser::enumerationsOverSeveralLines()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "FormatVersion=6.0\n{ENUMS}\n"
                         "Enum=Mode(0=\"Off (idle)\", // first\n"
                         "// between\n"
                         "  1=\"On\", 1=\"Again\",\n"
                         "  -2..-1=\"Neg\", 0x10=\"Hex\", 11h=\"H\") // last\n"
                         "enum   Empty()\n"
                         "{SEND}\n[A]\nID=1\nVar=M Mode 0,8\nVar=N unsigned 8,8 /e:EMPTY\n",
                     &warnings));
    QCOMPARE(warnings, QStringList());
    const SymEnum *mode = db.enumByName(QStringLiteral("MODE"));
    QVERIFY(mode);
    QCOMPARE(mode->values.size(), 4);
    QCOMPARE(mode->values.value(0), QStringLiteral("Off (idle)"));
    QCOMPARE(mode->values.value(1), QStringLiteral("On"));
    QCOMPARE(mode->values.value(16), QStringLiteral("Hex"));
    QCOMPARE(mode->values.value(17), QStringLiteral("H"));
    QCOMPARE(mode->ranges.size(), 1);
    QCOMPARE(mode->ranges.at(0).low, qint64(-2));
    QCOMPARE(mode->ranges.at(0).high, qint64(-1));
    QCOMPARE(mode->comment, QStringLiteral("first\nbetween\nlast"));
    QVERIFY(db.enumByName(QStringLiteral("empty")));

    const SymVariable &m = db.messages.at(0).variables.at(0);
    QCOMPARE(m.type, int(SymType::Enum));
    QCOMPARE(m.enumName, QStringLiteral("Mode"));
    QVERIFY(!m.isSigned);   // ranges do not make it signed, only single values
    QCOMPARE(db.messages.at(0).variables.at(1).enumName, QStringLiteral("Empty"));

    // A negative single value makes the variable signed; "enum NAME" as type works too.
    QVERIFY(loadText(db, "FormatVersion=6.0\n{ENUMS}\nenum T(-1=\"minus\", 1=\"plus\")\n"
                         "{SEND}\n[A]\nID=1\nVar=A enum T 0,8\nVar=B unsigned 8,8 /e:t\nVar=C T 16,1\n",
                     &warnings));
    QCOMPARE(warnings, QStringList());
    const QList<SymVariable> &vars = db.messages.at(0).variables;
    QCOMPARE(vars.at(0).type, int(SymType::Enum));
    QVERIFY(vars.at(0).isSigned);
    QCOMPARE(vars.at(1).type, int(SymType::Unsigned));
    QVERIFY(vars.at(1).isSigned);
    QVERIFY(!vars.at(2).isSigned);   // one bit is never signed
}

void TestSymbolParser::symbolKeysAndLengthRules_data()
{
    QTest::addColumn<QByteArray>("keys");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("unspecified");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<int>("frameType");

    QTest::newRow("no length") << QByteArray("ID=5\n") << 8 << true << false << int(SymFrameType::Standard);
    QTest::newRow("len 3") << QByteArray("ID=5\nLen=3\n") << 3 << false << false << int(SymFrameType::Standard);
    QTest::newRow("dlc 0") << QByteArray("ID=5\nDLC=0\n") << 0 << false << false << int(SymFrameType::Standard);
    QTest::newRow("fd dlc 9") << QByteArray("ID=5\nType=FDExtended\nDLC=9\n") << 12 << false << true << int(SymFrameType::FdExtended);
    QTest::newRow("fd dlc 15") << QByteArray("ID=5\nType=FDStandard\nDLC=15\n") << 64 << false << false << int(SymFrameType::FdStandard);
    QTest::newRow("fd len 20") << QByteArray("ID=5\nType=FDStandard\nLen=20\n") << 20 << false << false << int(SymFrameType::FdStandard);
    QTest::newRow("dlc 13 classic") << QByteArray("ID=5\nDLC=13\n") << 8 << false << false << int(SymFrameType::Standard);
    QTest::newRow("dlc 20") << QByteArray("ID=5\nDLC=20\n") << 8 << false << false << int(SymFrameType::Standard);
    QTest::newRow("implicit extended") << QByteArray("ID=800h\n") << 8 << true << true << int(SymFrameType::Extended);
    QTest::newRow("type extended small id") << QByteArray("ID=5\nType=Extended\n") << 8 << true << true << int(SymFrameType::Extended);
    QTest::newRow("j1939") << QByteArray("ID=18FEF100h\nType=J1939PG\n") << 8 << true << true << int(SymFrameType::J1939Pg);
}

void TestSymbolParser::symbolKeysAndLengthRules()
{
    QFETCH(QByteArray, keys);
    QFETCH(int, length);
    QFETCH(bool, unspecified);
    QFETCH(bool, extended);
    QFETCH(int, frameType);
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "FormatVersion=6.0\n{SENDRECEIVE}\n[S]\n" + keys, &warnings));
    const SymMessage &m = db.messages.at(0);
    QCOMPARE(m.length, length);
    QCOMPARE(m.lengthUnspecified, unspecified);
    QCOMPARE(m.extended, extended);
    QCOMPARE(m.frameType, frameType);
}

void TestSymbolParser::repeatedSymbolBlocksContinueEarlierDefinition()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "FormatVersion=6.0\n{RECEIVE}\n"
                         "[Multi]\nID=12h\nType=Extended\nLen=2\nMux=First 0,8 1\nCycleTime=100\nColor=0A0B0Ch\n"
                         "[Multi]\nLen=2\nMux=Second 0,8 2 -v -t -m\n"
                         "[Range]\nID=300h-100h\n",
                     &warnings));
    QCOMPARE(warnings, QStringList());
    QCOMPARE(db.messages.size(), 3);
    const SymMessage &second = db.messages.at(1);
    QCOMPARE(second.idLow, 0x12u);
    QVERIFY(second.extended);
    QCOMPARE(second.frameType, int(SymFrameType::Extended));
    QCOMPARE(second.direction, int(SymDirection::Receive));
    QCOMPARE(second.displayName(), QStringLiteral("Multi [Second]"));
    QCOMPARE(second.decodeMode, 1);
    QVERIFY(second.flagT);
    QVERIFY(second.muxMotorola);
    QCOMPARE(second.muxBits, SymbolDatabase::bitsFromPosition(0, 8, true));
    QCOMPARE(second.cycleTime, 0);   // keys other than identifier and type are not inherited
    const SymMessage &first = db.messages.at(0);
    QCOMPARE(first.cycleTime, 100);
    QVERIFY(first.hasColor);
    QCOMPARE(first.color, 0x0A0B0Cu);
    // Both variants share the identifier index entry, in file order.
    QCOMPARE(db.idIndex.value((quint64(1) << 32) | 0x12), (QList<int>{0, 1}));
    // A reversed range is swapped.
    QCOMPARE(db.messages.at(2).idLow, 0x100u);
    QCOMPARE(db.messages.at(2).idHigh, 0x300u);
    QCOMPARE(db.rangeMessages, QList<int>{2});
}

void TestSymbolParser::j1939MasksAndIndex()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "FormatVersion=6.0\n{RECEIVE}\n"
                         "[Own]\nID=18FEF100h\nType=J1939PG\nJ1939Mask=3FFFF00h\nMultiPacket=true\n"
                         "[Own]\nFastPacket=1\n"
                         "[Src]\nID=18FEF200h\nType=J1939PG\nIgnoreSource=1\n"
                         "[Plain]\nID=18FEF300h\nType=J1939PG\n",
                     &warnings));
    QCOMPARE(warnings, QStringList());
    QCOMPARE(db.messages.at(0).idMask, 0x3FFFF00u);
    // The continuation block takes over the mask and the J1939 flags.
    QCOMPARE(db.messages.at(1).idMask, 0x3FFFF00u);
    QVERIFY(db.messages.at(1).multiPacket);
    QVERIFY(db.messages.at(1).fastPacket);
    QCOMPARE(db.messages.at(2).idMask, 0xFFFFFF00u);
    QCOMPARE(db.messages.at(3).idMask, 0xFFFFFFFFu);
    QCOMPARE(db.rangeMessages, (QList<int>{0, 1, 2}));
    QCOMPARE(db.idIndex.size(), 1);
    // Priority bits outside the own mask do not matter.
    QCOMPARE(db.find(frameOf(0x0CFEF1AA, {}, true)), &db.messages.at(0));
}

void TestSymbolParser::multiplexerLines()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "FormatVersion=6.0\n{RECEIVE}\n"
                         "[C]\nID=1\nMux=\"Sel A\" 4,12 0ABh -o\n"
                         "[K]\nID=2\nMuxMask=Mm 1234h,0FF0h -M\n",
                     &warnings));
    QCOMPARE(warnings, QStringList());
    const SymMessage &c = db.messages.at(0);
    QCOMPARE(c.muxName, QStringLiteral("Sel A"));
    QCOMPARE(c.muxValue, quint64(0xAB));
    QCOMPARE(c.muxBits.size(), 12);
    QCOMPARE(c.decodeMode, 2);
    QVERIFY(!c.muxMaskMode);
    const SymMessage &k = db.messages.at(1);
    QVERIFY(k.muxMaskMode);
    QVERIFY(k.muxMotorola);
    QCOMPARE(k.muxMask, quint64(0x0FF0));
    QCOMPARE(k.muxValue, quint64(0x0230));
    QVERIFY(k.muxBits.isEmpty());
}

void TestSymbolParser::variableLineFields()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "FormatVersion=5.0\n{VIRTUALVARS}\nVar=Virt float /u:x\n"
                         "{SEND}\n[A]\nID=1\n"
                         "Var=\"Full Name\" signed 4,12 -m -h -v -s -t /u:\"km/h\" /f:0.5 /o:-40 /min:-10 /max:1e3 "
                         "/p:3 /ln:\"Long one\" /spn:190 /pos:12 // said\n"
                         "Var=B unsigned 0,4 -b -o /p:99 /min:x\n",
                     &warnings));
    QCOMPARE(warnings, QStringList());
    QCOMPARE(db.virtualVariables.size(), 1);
    const SymVariable &virt = db.virtualVariables.at(0);
    QCOMPARE(virt.startBit, -1);
    QCOMPARE(virt.length, 32);
    QVERIFY(virt.bits.isEmpty());

    const SymVariable &v = db.messages.at(0).variables.at(0);
    QCOMPARE(v.name, QStringLiteral("Full Name"));
    QCOMPARE(v.type, int(SymType::Signed));
    QVERIFY(v.isSigned);
    QCOMPARE(v.startBit, 4);
    QCOMPARE(v.length, 12);
    QVERIFY(v.motorola);
    QCOMPARE(v.bits, SymbolDatabase::bitsFromPosition(4, 12, true));
    QCOMPARE(v.displayFormat, 1);
    QCOMPARE(v.decodeMode, 1);
    QVERIFY(v.flagS);
    QVERIFY(v.flagT);
    QCOMPARE(v.unit, QStringLiteral("km/h"));
    QCOMPARE(v.factor, 0.5);
    QCOMPARE(v.offset, -40.0);
    QVERIFY(v.hasMin);
    QCOMPARE(v.minimum, -10.0);
    QVERIFY(v.hasMax);
    QCOMPARE(v.maximum, 1000.0);
    QCOMPARE(v.decimals, 3);
    QCOMPARE(v.longName, QStringLiteral("Long one"));
    QCOMPARE(v.spn, 190);
    QCOMPARE(v.comment, QStringLiteral("said"));
    QVERIFY(!v.hasDefaultRaw);

    const SymVariable &b = db.messages.at(0).variables.at(1);
    QCOMPARE(b.displayFormat, 2);
    QCOMPARE(b.decodeMode, 2);
    QCOMPARE(b.decimals, 15);
    QVERIFY(!b.hasMin);
}

void TestSymbolParser::decimalSeparatorForFactor()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "FormatVersion=6.0\nDecimalSeparator=,\n{SEND}\n[A]\nID=1\nVar=V unsigned 0,8 /f:0,5 /o:1,25\n", &warnings));
    QCOMPARE(warnings, QStringList());
    QCOMPARE(db.messages.at(0).variables.at(0).factor, 0.5);
    QCOMPARE(db.messages.at(0).variables.at(0).offset, 1.25);

    QVERIFY(loadText(db, "FormatVersion=6.0\n{SEND}\n[A]\nID=1\nVar=V unsigned 0,8 /f:0,5\n", &warnings));
    QCOMPARE(warnings, QStringList{QStringLiteral("Zeile 5: [A] V: ungültiger Faktor \"0,5\"")});
    QCOMPARE(db.messages.at(0).variables.at(0).factor, 1.0);
}

void TestSymbolParser::initialValues_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<qint64>("raw");

    QTest::newRow("physical scaled") << QByteArray() << QByteArray("unsigned 0,8 /f:0.5 /o:-40 /d:25") << qint64(130);
    QTest::newRow("old style raw") << QByteArray("OldStyleDefaultValues=True\n")
                                   << QByteArray("unsigned 0,8 /f:0.5 /o:-40 /d:25") << qint64(25);
    QTest::newRow("hex scaled") << QByteArray() << QByteArray("unsigned 0,8 /f:2 /d:1Ah") << qint64(13);
    QTest::newRow("hash hex") << QByteArray() << QByteArray("unsigned 0,8 /d:#0x10") << qint64(16);
    QTest::newRow("limited to max") << QByteArray() << QByteArray("unsigned 0,8 /max:100 /d:250") << qint64(100);
    QTest::newRow("limited to min") << QByteArray() << QByteArray("signed 0,8 /min:-5 /d:-50") << qint64(-5);
    QTest::newRow("half away from zero") << QByteArray() << QByteArray("signed 0,8 /d:-2.5") << qint64(-3);
    QTest::newRow("float pattern") << QByteArray() << QByteArray("float 0,32 /d:1.5") << qint64(0x3FC00000);
    QTest::newRow("double pattern") << QByteArray() << QByteArray("double 0,64 /d:2") << qint64(0x4000000000000000LL);
    QTest::newRow("char quoted") << QByteArray() << QByteArray("char 0,8 /d:'A'") << qint64(65);
    QTest::newRow("char number low byte") << QByteArray() << QByteArray("char 0,8 /d:#321") << qint64(321 & 0xFF);
    QTest::newRow("options order free") << QByteArray() << QByteArray("unsigned 0,8 /d:10 /f:2") << qint64(5);
}

void TestSymbolParser::initialValues()
{
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, variable);
    QFETCH(qint64, raw);
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "FormatVersion=6.0\n" + header + "{SEND}\n[A]\nID=1\nVar=V " + variable + "\n", &warnings));
    QCOMPARE(warnings, QStringList());
    const SymVariable &v = db.messages.at(0).variables.at(0);
    QVERIFY(v.hasDefaultRaw);
    QCOMPARE(v.defaultRaw, raw);
}

void TestSymbolParser::signalDefinitionsAndAssignments()
{
    SymbolDatabase db;
    QStringList warnings;
    QVERIFY(loadText(db, "FormatVersion=6.0\n{SIGNALS}\n"
                         "Sig=Speed unsigned 16 -m /u:km/h /f:0.1 /d:10 // definition\n"
                         "Sig=Dbl double\n"
                         "Sig=Txt string 16 /d:ok\n"
                         "{SEND}\n[A]\nID=1\n"
                         "Sig=speed 8 -h /u:mph // placed\n"
                         "Sig=Dbl 0\n"
                         "Sig=Txt 48\n"
                         "[B]\nID=2\nSig=Speed 0 /d:20\n",
                     &warnings));
    QCOMPARE(warnings, QStringList());
    QCOMPARE(db.signalDefinitions.size(), 3);
    const SymVariable &def = db.signalDefinitions.at(0);
    QCOMPARE(def.startBit, -1);
    QCOMPARE(def.length, 16);
    QVERIFY(def.bits.isEmpty());
    QCOMPARE(def.defaultRaw, qint64(100));
    QCOMPARE(db.signalDefinitions.at(1).length, 64);

    const SymVariable &placed = db.messages.at(0).variables.at(0);
    QVERIFY(placed.fromSignal);
    QCOMPARE(placed.name, QStringLiteral("Speed"));
    QCOMPARE(placed.startBit, 8);
    QCOMPARE(placed.bits, SymbolDatabase::bitsFromPosition(8, 16, true));
    QCOMPARE(placed.displayFormat, 1);
    QCOMPARE(placed.unit, QStringLiteral("mph"));
    QCOMPARE(placed.comment, QStringLiteral("placed"));
    QCOMPARE(placed.defaultRaw, qint64(100));
    QCOMPARE(db.messages.at(0).variables.at(1).bits.size(), 64);
    QCOMPARE(db.messages.at(0).variables.at(2).defaultText, QStringLiteral("ok"));

    const SymVariable &other = db.messages.at(1).variables.at(0);
    QCOMPARE(other.comment, QStringLiteral("definition"));
    QCOMPARE(other.defaultRaw, qint64(200));   // the assignment's initial value wins
    QCOMPARE(other.unit, QStringLiteral("km/h"));
}

void TestSymbolParser::uniqueVariablesCheck()
{
    const QByteArray text = "FormatVersion=5.0\nUniqueVariables=true\n{VIRTUALVARS}\nVar=Temp unsigned\n"
                            "{SEND}\n[A]\nID=1\nVar=temp unsigned 0,8\nVar=X unsigned 8,8\n"
                            "[A]\nMux=M2 0,1 1\nVar=x unsigned 8,8\n";
    QCOMPARE(warningsOf(text),
             (QStringList{QStringLiteral("Zeile 0: Variablenname \"temp\" (A) wird bereits verwendet (virtuelle Variable) – UniqueVariables=True"),
                          QStringLiteral("Zeile 0: Variablenname \"x\" (A [M2]) wird bereits verwendet (A) – UniqueVariables=True")}));
    QByteArray relaxed = text;
    relaxed.replace("UniqueVariables=true", "UniqueVariables=false");
    QCOMPARE(warningsOf(relaxed), QStringList());
}

void TestSymbolParser::hostileInputsStayBounded()
{
    // Each of these was quadratic or worse in a naive parser; the test's
    // time-out catches a regression.
    QByteArray unbalanced = "FormatVersion=6.0\n{ENUMS}\nenum Open(";
    for (int i = 0; i < 50000; ++i)
        unbalanced += "(" + QByteArray::number(i) + "=\"x\",\n";
    QStringList warnings;
    bool ok = true;
    warnings = warningsOf(unbalanced, &ok);
    QVERIFY(!ok);
    QCOMPARE(warnings, QStringList{QStringLiteral("Zeile 50002: Ungültige Enum-Definition")});

    QByteArray variants = "FormatVersion=6.0\n{RECEIVE}\n[V]\nID=1\nMux=M0 0,16 0\n";
    for (int i = 1; i < 30000; ++i)
        variants += "[V]\nMux=M" + QByteArray::number(i) + " 0,16 " + QByteArray::number(i) + "\n";
    SymbolDatabase db;
    warnings.clear();
    QVERIFY(loadText(db, variants, &warnings));
    QCOMPARE(warnings, QStringList());
    QCOMPARE(db.messages.size(), 30000);
    QCOMPARE(db.find(frameOf(1, {0x39, 0x30}))->muxName, QStringLiteral("M12345"));

    const QByteArray longLine = "FormatVersion=6.0\n{SEND}\n[A]\nID=1\nVar=" + QByteArray(2 << 20, '"') + "\n";
    QVERIFY(loadText(db, longLine, &warnings));
    QCOMPARE(warnings.size(), 1);   // the nameless variable line

    QByteArray binary(1 << 16, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 7919) & 0xFF);
    QVERIFY(!db.loadData(binary, QString(), nullptr, nullptr));
}

QTEST_GUILESS_MAIN(TestSymbolParser)
#include "tst_symbolparser.moc"
