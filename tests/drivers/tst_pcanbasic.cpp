#include "canbackend.h"
#include "pcanbasic.h"
#include "pcanstandin.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

// PcanBasic::Library over the stand-in library, and the API's tables.
class TestPcanBasic : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void defaultSearchFindsTheLibraryOnce();
    void explicitPathIsKeptAndReusedWithoutReload();
    void noExchangeWhileAConnectionUsesIt();
    void incompleteLibraryIsUnloaded_data();
    void incompleteLibraryIsUnloaded();
    void missingFileUnloadsThePreviousLibrary();
    void thirtyTwoBitCopyIsExplained();
    void apiVersionAndErrorTexts();
    void channelNames_data();
    void channelNames();
    void statusBits_data();
    void statusBits();

private:
    PcanBasic::Library *lib = PcanBasic::Library::instance();
    PcanStandIn standIn;
    QTemporaryDir dir;
};

void TestPcanBasic::initTestCase()
{
    QVERIFY2(standIn.isValid(), qPrintable(PcanStandIn::path()));
}

void TestPcanBasic::defaultSearchFindsTheLibraryOnce()
{
    // CTest puts the stand-in's folder on the library search path.
    QString error;
    QVERIFY2(lib->load(QString(), &error), qPrintable(error));
    QVERIFY(lib->isLoaded());
    QVERIFY(lib->loadedPath().isEmpty());
    QVERIFY(lib->read && lib->write && lib->getErrorText);
    const auto read = lib->read;
    QVERIFY(lib->load(QStringLiteral("  "), &error));
    QVERIFY(lib->read == read);
}

void TestPcanBasic::explicitPathIsKeptAndReusedWithoutReload()
{
    QString error;
    QVERIFY2(lib->load(PcanStandIn::path(), &error), qPrintable(error));
    QCOMPARE(lib->loadedPath(), PcanStandIn::path());
    // Open a channel; loading the same path again must not disturb it.
    QCOMPARE(lib->initialize(0x51, 0x001C, 0, 0, 0), 0u);
    QVERIFY(lib->load(PcanStandIn::path() + QLatin1Char(' '), &error));
    QCOMPARE(standIn.initializedChannels(), 1);
    QCOMPARE(lib->uninitialize(0x51), 0u);
}

void TestPcanBasic::noExchangeWhileAConnectionUsesIt()
{
    QString error;
    QVERIFY(lib->load(PcanStandIn::path(), &error));
    lib->users = 1;
    QVERIFY(!lib->load(PcanStandIn::pathWithout("CAN_SetValue"), &error));
    QCOMPARE(error, QStringLiteral("Die DLL kann nicht gewechselt werden, solange eine Verbindung besteht."));
    lib->users = 0;
    QVERIFY(lib->isLoaded());
    QVERIFY(lib->getStatus);
    QCOMPARE(lib->loadedPath(), PcanStandIn::path());
}

void TestPcanBasic::incompleteLibraryIsUnloaded_data()
{
    QTest::addColumn<QString>("exportName");
    QTest::newRow("CAN_SetValue") << "CAN_SetValue";
    QTest::newRow("last export") << "CAN_GetErrorText";
}

void TestPcanBasic::incompleteLibraryIsUnloaded()
{
    QFETCH(QString, exportName);
    QString error;
    QVERIFY(!lib->load(PcanStandIn::pathWithout(qPrintable(exportName)), &error));
    QCOMPARE(error, QStringLiteral("libpcanbasic.so ist unvollständig, fehlende Funktionen: %1").arg(exportName));
    QVERIFY(!lib->isLoaded());
    QVERIFY(!lib->initialize && !lib->read && !lib->getValue && !lib->getErrorText);
    // The complete library loads again afterwards.
    QVERIFY(lib->load(PcanStandIn::path(), &error));
    QVERIFY(lib->setValue && lib->getErrorText);
}

void TestPcanBasic::missingFileUnloadsThePreviousLibrary()
{
    QString error;
    QVERIFY(lib->load(PcanStandIn::path(), &error));
    const QString absent = dir.filePath(QStringLiteral("x/PCANBasic.dll"));
    QVERIFY(!lib->load(absent, &error));
    QCOMPARE(error, QStringLiteral("Datei nicht gefunden: %1").arg(QDir::toNativeSeparators(absent)));
    QVERIFY(!lib->isLoaded());
    QVERIFY(!lib->read);
    QVERIFY(lib->load(PcanStandIn::path(), &error));
}

void TestPcanBasic::thirtyTwoBitCopyIsExplained()
{
    // A 32-bit Windows library: DOS stub, PE header at 0x40, machine 0x014C.
    QByteArray bytes(0x40 + 24, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    qToLittleEndian<quint32>(0x40, bytes.data() + 60);
    bytes.replace(0x40, 6, QByteArray("PE\0\0\x4c\x01", 6));
    const QString path = dir.filePath(QStringLiteral("PCANBasic.dll"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();

    QString error;
    QVERIFY(!lib->load(path, &error));
    QVERIFY2(error.startsWith(QStringLiteral("libpcanbasic.so konnte nicht geladen werden:\n")), qPrintable(error));
    QVERIFY2(error.endsWith(QStringLiteral("\n\nArchitektur passt nicht: Die DLL ist 32-bit (x86), die Anwendung ist "
                                           "64-bit (x64). Bitte die 64-Bit-Bibliothek des PCAN-Basic-Pakets verwenden.")),
             qPrintable(error));
    QVERIFY(!lib->isLoaded());
}

void TestPcanBasic::apiVersionAndErrorTexts()
{
    QCOMPARE(lib->apiVersion(), QString());
    QCOMPARE(lib->errorText(0x10), QStringLiteral("Fehlercode 0x10"));
    QString error;
    QVERIFY(lib->load(PcanStandIn::path(), &error));
    QCOMPARE(lib->apiVersion(), QStringLiteral("4.6.0.600"));
    QCOMPARE(lib->errorText(0x4000), QStringLiteral("Ungültiger Parametertyp (0x4000)"));
    QCOMPARE(lib->errorText(0x10), QStringLiteral("Bus-Off (0x10)"));
    // The driver has no text: the code alone.
    QCOMPARE(lib->errorText(0x123), QStringLiteral("Fehlercode 0x123"));
    standIn.forceStatus("CAN_GetValue", 0x4000);
    standIn.forceStatus("CAN_GetErrorText", 0x8000);
    QCOMPARE(lib->apiVersion(), QString());
    QCOMPARE(lib->errorText(0x4000), QStringLiteral("Fehlercode 0x4000"));
    standIn.reset();
}

void TestPcanBasic::channelNames_data()
{
    QTest::addColumn<int>("handle");
    QTest::addColumn<QString>("name");
    QTest::newRow("0x51") << 0x51 << "PCAN-USB 1";
    QTest::newRow("0x58") << 0x58 << "PCAN-USB 8";
    QTest::newRow("0x59") << 0x59 << "Kanal 0x59";
    QTest::newRow("0x50A") << 0x50A << "PCAN-USB 10";
    QTest::newRow("0x510") << 0x510 << "PCAN-USB 16";
    QTest::newRow("0x41") << 0x41 << "PCAN-PCI 1";
    QTest::newRow("0x409") << 0x409 << "PCAN-PCI 9";
    QTest::newRow("0x801") << 0x801 << "PCAN-LAN 1";
    QTest::newRow("0x810") << 0x810 << "PCAN-LAN 16";
    QTest::newRow("0x1") << 0x1 << "Kanal 0x1";
    QTest::newRow("0x0") << 0x0 << "Kanal 0x0";
    QTest::newRow("0xFFFF") << 0xFFFF << "Kanal 0xffff";
}

void TestPcanBasic::channelNames()
{
    QFETCH(int, handle);
    QFETCH(QString, name);
    QCOMPARE(PcanBasic::channelName(quint16(handle)), name);
}

void TestPcanBasic::statusBits_data()
{
    QTest::addColumn<uint>("status");
    QTest::addColumn<uint>("bits");
    QTest::addColumn<QString>("text");
    QTest::newRow("ok") << 0u << 0u << "OK";
    QTest::newRow("bus off") << 0x10u << 0x10u << "Bus-Off";
    QTest::newRow("error passive") << 0x40000u << 0x08u << "Bus-Heavy (Error passive)";
    QTest::newRow("bus light") << 0x04u << 0x04u << "Bus-Light (Warnung)";
    QTest::newRow("bus heavy is a warning level") << 0x08u << 0x04u << "Bus-Light (Warnung)";
    QTest::newRow("overrun, queue overrun") << 0x42u << 0x42u << "Controller-Überlauf, Empfangsqueue-Überlauf";
    QTest::newRow("transmit side") << 0x81u << 0x81u << "Sendepuffer voll, Sendequeue voll";
    QTest::newRow("no driver") << 0x200u << 0x200u << "Treiber nicht geladen";
    QTest::newRow("other bits dropped") << 0x4000020u << 0u << "OK";
}

void TestPcanBasic::statusBits()
{
    QFETCH(uint, status);
    QFETCH(uint, bits);
    QFETCH(QString, text);
    QCOMPARE(PcanBasic::busStatusBits(status), bits);
    QCOMPARE(CanBackend::statusText(PcanBasic::busStatusBits(status)), text);
}

QTEST_GUILESS_MAIN(TestPcanBasic)
#include "tst_pcanbasic.moc"
