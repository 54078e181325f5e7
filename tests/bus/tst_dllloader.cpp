#include "bitrates.h"
#include "dllloader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

// A loader with one optional export, enough to drive the shared steps.
class TestLoader : public DllLoader
{
public:
    void resetFunctions() override { resets++; }
    int load(const QString &path, const Spec &spec, QString *error) { return loadFile(path, spec, error); }
    int resets = 0;
};

DllLoader::Spec vendorSpec()
{
    return {QStringLiteral("NoSuchVendorLib"), QStringLiteral("Vendor.dll"), QString(),
            QStringLiteral("Bitte die DLL aus dem Ordner PCAN-Basic\\x64 verwenden.")};
}

// The smallest file that peMachine accepts: DOS header with the PE offset at 60.
QByteArray peFile(quint16 machine, quint32 peOffset = 0x80)
{
    QByteArray bytes(int(peOffset) + 24, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    qToLittleEndian<quint32>(peOffset, bytes.data() + 60);
    bytes.replace(int(peOffset), 4, QByteArray("PE\0\0", 4));
    qToLittleEndian<quint16>(machine, bytes.data() + peOffset + 4);
    return bytes;
}

} // namespace

class TestDllLoader : public QObject
{
    Q_OBJECT

private slots:
    void bitrateFormula_data();
    void bitrateFormula();
    void kbitNamesAStandardWord_data();
    void kbitNamesAStandardWord();
    void standardTableMatchesItsTexts();
    void peMachine_data();
    void peMachine();
    void missingFileNamedWithNativeSeparators();
    void foreignArchitectureIsExplained_data();
    void foreignArchitectureIsExplained();
    void defaultSearchFailureNamesTheLibraryAndHint();
    void wrongArchitectureFoundByTheDefaultSearch_data();
    void wrongArchitectureFoundByTheDefaultSearch();

private:
    QTemporaryDir m_dir;
};

void TestDllLoader::bitrateFormula_data()
{
    QTest::addColumn<int>("btr");
    QTest::addColumn<uint>("bitrate");
    QTest::addColumn<QString>("text");
    QTest::newRow("500k") << 0x001C << 500000u << "500 kBit/s";
    QTest::newRow("47,619k") << 0x1414 << 47619u << "47,619 kBit/s";
    QTest::newRow("1M") << 0x0014 << 1000000u << "1 MBit/s";
    QTest::newRow("5k") << 0x7F7F << 5000u << "5 kBit/s";
    // Jump width (BTR0 bits 7-6) and sampling (BTR1 bit 7) do not count.
    QTest::newRow("not in table") << 0x0A1C << 45454u << "45454 Bit/s (BTR 0x0A1C)";
    QTest::newRow("jump width, sampling") << 0xC09C << 500000u << "500000 Bit/s (BTR 0xC09C)";
    QTest::newRow("smallest word") << 0x0001 << 2000000u << "2000000 Bit/s (BTR 0x0001)";
}

void TestDllLoader::bitrateFormula()
{
    QFETCH(int, btr);
    QFETCH(uint, bitrate);
    QFETCH(QString, text);
    QCOMPARE(bitrateOfBtr(quint16(btr)), bitrate);
    QCOMPARE(bitrateText(quint16(btr)), text);
}

void TestDllLoader::kbitNamesAStandardWord_data()
{
    QTest::addColumn<QString>("kbit");
    QTest::addColumn<int>("btr");   // -1: not a standard rate
    QTest::newRow("500") << "500" << 0x001C;
    QTest::newRow("1000 is 1 MBit/s") << "1000" << 0x0014;
    QTest::newRow("decimal comma") << "95,238" << 0xC34E;
    QTest::newRow("decimal point") << "47.619" << 0x1414;
    QTest::newRow("more digits") << "83.3333" << 0x852B;
    QTest::newRow("5") << "5" << 0x7F7F;
    QTest::newRow("between rates") << "499" << -1;
    QTest::newRow("rounded too far") << "95" << -1;
    QTest::newRow("zero") << "0" << -1;
    QTest::newRow("negative") << "-500" << -1;
    QTest::newRow("bit/s") << "500000" << -1;
    QTest::newRow("with unit") << "500k" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestDllLoader::kbitNamesAStandardWord()
{
    QFETCH(QString, kbit);
    QFETCH(int, btr);
    quint16 word = 0x1234;
    QCOMPARE(standardBtrOfKbit(kbit, &word), btr >= 0);
    QCOMPARE(int(word), btr >= 0 ? btr : 0x1234);
}

void TestDllLoader::standardTableMatchesItsTexts()
{
    QCOMPARE(int(std::size(standardBitrates)), 14);
    for (const StandardBitrate &row : standardBitrates) {
        // "95,238 kBit/s" -> 95238, "1 MBit/s" -> 1000000: the word gives what the text says.
        QString text = QString::fromLatin1(row.text);
        const bool mega = text.contains(QLatin1String("MBit"));
        text = text.section(QLatin1Char(' '), 0, 0);
        const double value = text.replace(QLatin1Char(','), QLatin1Char('.')).toDouble() * (mega ? 1e6 : 1e3);
        QVERIFY2(qAbs(double(bitrateOfBtr(row.btr)) - value) < 1.0, row.text);
    }
}

void TestDllLoader::peMachine_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("machine");
    QTest::newRow("x86") << peFile(0x014C) << 0x014C;
    QTest::newRow("x64") << peFile(0x8664) << 0x8664;
    QTest::newRow("arm64, header late") << peFile(0xAA64, 0x400) << 0xAA64;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("short DOS header") << peFile(0x014C).left(63) << 0;
    QTest::newRow("no MZ") << QByteArray(peFile(0x014C)).replace(0, 2, "ZM") << 0;
    QTest::newRow("no PE signature") << QByteArray(peFile(0x014C)).replace(0x80, 2, "NE") << 0;
    QTest::newRow("cut in machine field") << peFile(0x014C).left(0x80 + 5) << 0;
    QTest::newRow("offset beyond file") << peFile(0x014C).replace(60, 4, QByteArray("\xff\xff\xff\x7f", 4)) << 0;
    QTest::newRow("ELF") << QByteArray("\x7f" "ELF", 4) + QByteArray(100, '\0') << 0;
}

void TestDllLoader::peMachine()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, machine);
    const QString path = m_dir.filePath(QStringLiteral("file.dll"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    QCOMPARE(int(DllLoader::peMachine(path)), machine);
    QCOMPARE(int(DllLoader::peMachine(m_dir.filePath(QStringLiteral("absent.dll")))), 0);
}

void TestDllLoader::missingFileNamedWithNativeSeparators()
{
    TestLoader loader;
    QString error;
    const QString path = m_dir.filePath(QStringLiteral("sub/absent.dll"));
    QCOMPARE(loader.load(QStringLiteral("  ") + path + QStringLiteral("\t"), vendorSpec(), &error), 2);
    QCOMPARE(error, QStringLiteral("Datei nicht gefunden: %1").arg(QDir::toNativeSeparators(path)));
    QVERIFY(!loader.isLoaded());
    // A null error pointer is allowed.
    QCOMPARE(loader.load(path, vendorSpec(), nullptr), 2);
}

void TestDllLoader::foreignArchitectureIsExplained_data()
{
    QTest::addColumn<int>("machine");
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<bool>("explained");
    QTest::newRow("x86") << 0x014C << "32-bit (x86)" << true;
    QTest::newRow("arm64") << 0xAA64 << "64-bit (ARM64)" << true;
    QTest::newRow("other") << 0x0200 << "unbekannt" << true;
    // A native file that fails for another reason gets no architecture sentence.
    QTest::newRow("x64") << 0x8664 << "" << false;
}

void TestDllLoader::foreignArchitectureIsExplained()
{
    QFETCH(int, machine);
    QFETCH(QString, architecture);
    QFETCH(bool, explained);
    const QString path = m_dir.filePath(QStringLiteral("Vendor%1.dll").arg(machine));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(peFile(quint16(machine)));
    file.close();

    TestLoader loader;
    QString error;
    QCOMPARE(loader.load(path, vendorSpec(), &error), 2);
    QVERIFY2(error.startsWith(QStringLiteral("Vendor.dll konnte nicht geladen werden:\n")), qPrintable(error));
    const QString sentence = QStringLiteral("\n\nArchitektur passt nicht: Die DLL ist %1, die Anwendung ist 64-bit (x64)."
                                            " Bitte die DLL aus dem Ordner PCAN-Basic\\x64 verwenden.")
                                 .arg(architecture);
    QCOMPARE(error.endsWith(sentence), explained);
    QCOMPARE(error.contains(QLatin1String("Architektur")), explained);
    QVERIFY(!loader.isLoaded());
}

void TestDllLoader::defaultSearchFailureNamesTheLibraryAndHint()
{
    TestLoader loader;
    DllLoader::Spec spec = vendorSpec();
    spec.loadHint = QStringLiteral("Ist der Treiber installiert?");
    spec.alternativeNames = QStringList {QStringLiteral("AlsoNotThere")};
    QString error;
    QCOMPARE(loader.load(QString(), spec, &error), 2);
    QVERIFY2(error.startsWith(QStringLiteral("Vendor.dll konnte nicht geladen werden:\n")), qPrintable(error));
    QVERIFY(error.endsWith(QStringLiteral("\n\nIst der Treiber installiert?")));
    // The platform's reason names what was searched, not the alternative.
    QVERIFY2(error.contains(QLatin1String("NoSuchVendorLib")), qPrintable(error));
    QVERIFY(!error.contains(QLatin1String("Architektur")));
}

void TestDllLoader::wrongArchitectureFoundByTheDefaultSearch_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("sentence");
    // A 32-bit ELF shared object: class 1, little-endian, machine 3 (i386).
    QByteArray elf32(52, '\0');
    elf32.replace(0, 6, QByteArray("\x7f" "ELF\x01\x01", 6));
    elf32[16] = 3;
    elf32[18] = 3;
    QTest::newRow("32-bit DLL") << peFile(0x014C) << "Die DLL ist 32-bit (x86)";
    QTest::newRow("32-bit shared object") << elf32 << "Die Bibliothek ist 32-bit (x86)";
}

// The common mistake of a 32-bit library where the default search finds it
// gets the hint that an explicitly chosen file gets, with the place found.
void TestDllLoader::wrongArchitectureFoundByTheDefaultSearch()
{
#ifdef Q_OS_WIN
    QSKIP("the test's search place is given through LD_LIBRARY_PATH");
#else
    QFETCH(QByteArray, bytes);
    QFETCH(QString, sentence);
    const QString place = QString::fromLocal8Bit(qgetenv("BUSVISTA_TEST_SEARCH_DIR"));
    QVERIFY2(!place.isEmpty() && qEnvironmentVariable("LD_LIBRARY_PATH").contains(place), "set by CTest");
    DllLoader::Spec spec = vendorSpec();
    spec.libraryName = QStringLiteral("Vendor32");
    const QString path = QDir(place).filePath(DllLoader::searchedFileNames(spec).constFirst());
    QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("libVendor32.so"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();

    TestLoader loader;
    QString error;
    QCOMPARE(loader.load(QString(), spec, &error), 2);
    QFile::remove(path);
    QVERIFY2(error.startsWith(QStringLiteral("Vendor.dll konnte nicht geladen werden:\n")), qPrintable(error));
    QVERIFY2(error.endsWith(QStringLiteral("\n\nArchitektur passt nicht: %1, die Anwendung ist 64-bit (x64). "
                                           "Bitte die DLL aus dem Ordner PCAN-Basic\\x64 verwenden.\n(Gefunden: %2)")
                                .arg(sentence, path)),
             qPrintable(error));
#endif
}

QTEST_GUILESS_MAIN(TestDllLoader)
#include "tst_dllloader.moc"
