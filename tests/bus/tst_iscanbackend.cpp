// isCAN backend and library against the stand-in driver: call sequences,
// record mapping, status codes, failure texts and the device list.
#include "iscan.h"
#include "iscanbackend.h"
#include "iscanstandin.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

const QString StandIn = QStringLiteral(ISCAN_STANDIN);
// The library's name in messages: the file the default search looks for.
#ifdef Q_OS_WIN
const QString LibraryName = QStringLiteral("isCANdrv.dll");
#else
const QString LibraryName = QStringLiteral("libisCANdrv.so");
#endif

// Every frame the backend emitted so far.
CanFrameList collected(const QSignalSpy &spy)
{
    CanFrameList frames;
    for (const QList<QVariant> &arguments : spy)
        frames += arguments.at(0).value<CanFrameList>();
    return frames;
}

} // namespace

class TestIsCanBackend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void errorTexts_data();
    void errorTexts();
    void deviceTypeNames();
    void baudConstants_data();
    void baudConstants();

    void loadResolvesEveryExport();
    void loadReportsMissingExports_data();
    void loadReportsMissingExports();
    void loadFailuresExplain();
    void libraryStaysWhileConnected();

    void openingSequence_data();
    void openingSequence();
    void descriptionWithoutConfiguration();
    void openFailures_data();
    void openFailures();

    void writeSendsAndEchoes_data();
    void writeSendsAndEchoes();
    void framesCrossTheVirtualBus();
    void writeFailures();
    void receivedRecordsAreMapped_data();
    void receivedRecordsAreMapped();
    void statusCodes_data();
    void statusCodes();

    void resetRestartsDevice();
    void resetFailureCloses();

    void enumeratesConfiguredDevices();
    void enumerationWithoutDevices();
    void deviceTexts();
    void deviceListInfo_data();
    void deviceListInfo();

private:
    IsCanStandIn *m_standIn = nullptr;
};

void TestIsCanBackend::initTestCase()
{
    qRegisterMetaType<CanFrameList>("CanFrameList");
    m_standIn = new IsCanStandIn(StandIn);
    QVERIFY2(m_standIn->isValid(), qPrintable(m_standIn->errorString()));
}

void TestIsCanBackend::init()
{
    m_standIn->reset();
}

void TestIsCanBackend::cleanup()
{
    QCOMPARE(IsCan::Library::instance()->users, 0);
    QCOMPARE(m_standIn->openDevices(), 0);
}

void TestIsCanBackend::errorTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const QList<QPair<int, const char *>> table = {
        {0, "Kein Fehler"},
        {1, "Kein Zugriff auf das Gerät"},
        {2, "Gerät mit dieser Nummer nicht gefunden"},
        {3, "Treiberfehler"},
        {4, "Ungültiger Parameter"},
        {5, "Gerät ist nicht online"},
        {6, "Zeitüberschreitung am Gerät"},
        {7, "Sendepuffer belegt"},
        {8, "Keine Nachricht empfangen"},
        {9, "Thread konnte nicht gestartet werden"},
        {10, "Thread läuft bereits"},
        {11, "Pufferüberlauf"},
        {12, "Gerät nicht initialisiert"},
        {13, "Gerät wurde abgezogen"},
        {14, "Fehlercode 14"},
        {15, "Gerät wird bereits von diesem oder einem anderen Programm benutzt"},
        {16, "Busfehler"},
        {17, "Bus-Off"},
        {18, "Error passive"},
        {19, "Datenüberlauf im Controller"},
        {20, "Error-Warning"},
        {21, "Fehlercode 21"},
        {22, "Bus nach Bus-Off zurückgesetzt"},
        {24, "Extended-Nachricht empfangen"},
        {30, "Busfehler beim Senden"},
        {31, "Kein Acknowledge \u2013 vermutlich kein weiterer Teilnehmer am Bus"},
        {32, "Kritisches Bus-Timing oder Buslänge"},
        {35, "Callback-Thread blockiert"},
        {41, "Keine Zugriffsrechte"},
        {255, "Fehlercode 255"},
    };
    for (const auto &row : table)
        QTest::addRow("%d", row.first) << row.first << QString::fromUtf8(row.second);
}

void TestIsCanBackend::errorTexts()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(IsCan::errorText(quint8(code)), text);
}

void TestIsCanBackend::deviceTypeNames()
{
    QCOMPARE(IsCan::deviceTypeName(1), QStringLiteral("isCAN USB"));
    QCOMPARE(IsCan::deviceTypeName(2), QStringLiteral("isCAN PCI"));
    QCOMPARE(IsCan::deviceTypeName(3), QStringLiteral("isCAN PCMCIA"));
    QCOMPARE(IsCan::deviceTypeName(4), QStringLiteral("isCAN NetCube"));
    QCOMPARE(IsCan::deviceTypeName(0), QStringLiteral("unbekannt (0)"));
    QCOMPARE(IsCan::deviceTypeName(200), QStringLiteral("unbekannt (200)"));
}

void TestIsCanBackend::baudConstants_data()
{
    QTest::addColumn<int>("btr");
    QTest::addColumn<int>("constant");
    QTest::newRow("10k") << 0x672F << 1;
    QTest::newRow("20k") << 0x532F << 2;
    QTest::newRow("50k") << 0x472F << 3;
    QTest::newRow("100k") << 0x432F << 4;
    QTest::newRow("125k") << 0x031C << 5;
    QTest::newRow("250k") << 0x011C << 6;
    QTest::newRow("500k") << 0x001C << 7;
    QTest::newRow("800k") << 0x0016 << 8;
    QTest::newRow("1M") << 0x0014 << 9;
    QTest::newRow("5k has none") << 0x7F7F << 0;
    QTest::newRow("83.3k has none") << 0x852B << 0;
    QTest::newRow("custom") << 0x0A1C << 0;
}

void TestIsCanBackend::baudConstants()
{
    QFETCH(int, btr);
    QFETCH(int, constant);
    QCOMPARE(IsCan::baudConstant(quint16(btr)), constant);
}

void TestIsCanBackend::loadResolvesEveryExport()
{
    IsCan::Library *library = IsCan::Library::instance();
    QString error;
    QVERIFY2(library->load(StandIn, &error), qPrintable(error));
    QVERIFY(library->deviceInitEx && library->setBaudRegister && library->setMessageExId
            && library->transmitMessageEx && library->receiveMessageEx && library->closeDevice
            && library->setupDevice && library->getDriverConfiguration && library->attachedDevices
            && library->startMessageHandler && library->stopMessageHandler);
    // The same path again is free; surrounding white space does not count.
    const auto before = library->deviceInitEx;
    QVERIFY(library->load(QLatin1Char(' ') + StandIn + QLatin1Char(' '), &error));
    QVERIFY(library->deviceInitEx == before);
}

void TestIsCanBackend::loadReportsMissingExports_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");
    QTest::newRow("one") << QStringLiteral(ISCAN_STANDIN_NOSETUP)
                         << LibraryName + QStringLiteral(" ist unvollständig, fehlende Funktionen: isCAN_SetupDevice");
    QTest::newRow("two, in resolution order")
        << QStringLiteral(ISCAN_STANDIN_NOBAUDNOATTACHED)
        << LibraryName + QStringLiteral(" ist unvollständig, fehlende Funktionen: "
                                       "isCAN_SetBaudRegister, isCAN_AttachedDevices");
}

void TestIsCanBackend::loadReportsMissingExports()
{
    QFETCH(QString, path);
    QFETCH(QString, message);
    IsCan::Library *library = IsCan::Library::instance();
    QString error;
    QVERIFY(!library->load(path, &error));
    QCOMPARE(error, message);
    QVERIFY(!library->deviceInitEx && !library->receiveMessageEx && !library->stopMessageHandler);

    // An incomplete library is never used to open a device.
    IsCanBackend backend;
    ConnectParams params = IsCanStandIn::connectParams();
    params.isCanDllPath = path;
    error.clear();
    QVERIFY(!backend.open(params, &error));
    QCOMPARE(error, message);
    QVERIFY(!backend.isOpen());
}

void TestIsCanBackend::loadFailuresExplain()
{
    IsCan::Library *library = IsCan::Library::instance();
    QString error;
    const QString missing = QDir::tempPath() + QStringLiteral("/nicht/da/isCANdrv.dll");
    QVERIFY(!library->load(missing, &error));
    QCOMPARE(error, QStringLiteral("Datei nicht gefunden: %1").arg(QDir::toNativeSeparators(missing)));

    // The default search is checked by the command-line test: in this process
    // the stand-in is already loaded and the search would find it by name.
}

void TestIsCanBackend::libraryStaysWhileConnected()
{
    IsCanBackend backend;
    QString error;
    QVERIFY2(backend.open(IsCanStandIn::connectParams(), &error), qPrintable(error));
    QCOMPARE(IsCan::Library::instance()->users, 1);
    QVERIFY(!IsCan::Library::instance()->load(QStringLiteral(ISCAN_STANDIN_NOSETUP), &error));
    QCOMPARE(error, QStringLiteral("Die DLL kann nicht gewechselt werden, solange eine Verbindung besteht."));
    CanFrame frame;
    frame.id = 0x123;
    QVERIFY(backend.write(frame, &error));
    backend.close();
    QCOMPARE(IsCan::Library::instance()->users, 0);
}

void TestIsCanBackend::openingSequence_data()
{
    QTest::addColumn<int>("device");
    QTest::addColumn<int>("btr");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("bitrate");
    const QStringList tail = {QStringLiteral("isCAN_SetMessageExID(%1,4294967295)"),
                              QStringLiteral("isCAN_SetupDevice(%1,3,1,0)"),
                              QStringLiteral("isCAN_GetDriverConfiguration(%1)"),
                              QStringLiteral("isCAN_StartMessageHandler(%1)")};
    auto calls = [&](int device, const QStringList &head) {
        QStringList all = head;
        for (const QString &call : tail)
            all << call.arg(device);
        return all;
    };
    QTest::newRow("500k") << 0 << 0x001C << calls(0, {QStringLiteral("isCAN_DeviceInitEx(0,7)")})
                          << QStringLiteral("isCAN USB (Nr. 0, Seriennr. 1A2B) @ 500 kBit/s") << 500000;
    QTest::newRow("no timing opens 500k")
        << 0 << 0 << calls(0, {QStringLiteral("isCAN_DeviceInitEx(0,7)")})
        << QStringLiteral("isCAN USB (Nr. 0, Seriennr. 1A2B) @ 500 kBit/s") << 500000;
    QTest::newRow("1M") << 0 << 0x0014 << calls(0, {QStringLiteral("isCAN_DeviceInitEx(0,9)")})
                        << QStringLiteral("isCAN USB (Nr. 0, Seriennr. 1A2B) @ 1 MBit/s") << 1000000;
    QTest::newRow("timing without constant")
        << 0 << 0x0A1C
        << calls(0, {QStringLiteral("isCAN_DeviceInitEx(0,7)"), QStringLiteral("isCAN_SetBaudRegister(0,10,28)")})
        << QStringLiteral("isCAN USB (Nr. 0, Seriennr. 1A2B) @ 45454 Bit/s (BTR 0x0A1C)") << 45454;
    QTest::newRow("83.333k has no constant either")
        << 0 << 0x852B
        << calls(0, {QStringLiteral("isCAN_DeviceInitEx(0,7)"), QStringLiteral("isCAN_SetBaudRegister(0,133,43)")})
        << QStringLiteral("isCAN USB (Nr. 0, Seriennr. 1A2B) @ 83,333 kBit/s") << 83333;
    QTest::newRow("device above 15")
        << 20 << 0x011C << calls(15, {QStringLiteral("isCAN_DeviceInitEx(15,6)")})
        << QStringLiteral("isCAN NetCube (Nr. 15, Seriennr. FFFFFFFF) @ 250 kBit/s") << 250000;
    QTest::newRow("negative device")
        << -3 << 0x001C << calls(0, {QStringLiteral("isCAN_DeviceInitEx(0,7)")})
        << QStringLiteral("isCAN USB (Nr. 0, Seriennr. 1A2B) @ 500 kBit/s") << 500000;
}

void TestIsCanBackend::openingSequence()
{
    QFETCH(int, device);
    QFETCH(int, btr);
    QFETCH(QStringList, calls);
    QFETCH(QString, description);
    QFETCH(int, bitrate);
    m_standIn->configure(15, 4, 0xFFFFFFFFu, true);

    IsCanBackend backend;
    QString error;
    QVERIFY2(backend.open(IsCanStandIn::connectParams(device, btr), &error), qPrintable(error));
    QVERIFY(backend.isOpen());
    QVERIFY(backend.usesCallback());
    QCOMPARE(m_standIn->log(), calls);
    QCOMPARE(backend.description(), description);
    QCOMPARE(backend.bitrate(), bitrate);
    QCOMPARE(IsCan::Library::instance()->users, 1);

    backend.close();
    QCOMPARE(m_standIn->log().mid(calls.size()),
             QStringList({QStringLiteral("isCAN_StopMessageHandler(%1)").arg(qBound(0, device, 15)),
                          QStringLiteral("isCAN_CloseDevice(%1)").arg(qBound(0, device, 15))}));
    QVERIFY(!backend.isOpen());
    QCOMPARE(backend.description(), QString());
    QCOMPARE(backend.bitrate(), 0);
    backend.close(); // a second close does nothing
    QCOMPARE(m_standIn->calls("isCAN_CloseDevice"), quint64(1));
}

void TestIsCanBackend::descriptionWithoutConfiguration()
{
    m_standIn->force("isCAN_GetDriverConfiguration", 3);
    IsCanBackend backend;
    QString error;
    QVERIFY2(backend.open(IsCanStandIn::connectParams(), &error), qPrintable(error));
    QCOMPARE(backend.description(), QStringLiteral("isCAN 0 @ 500 kBit/s"));
    backend.close();
}

void TestIsCanBackend::openFailures_data()
{
    QTest::addColumn<QByteArray>("function");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("btr");
    QTest::addColumn<bool>("listenOnly");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("listen-only") << QByteArray() << 0 << 0x001C << true
                                 << QStringLiteral("isCAN unterstützt keinen Listen-Only-Modus.") << QStringList();
    QTest::newRow("device in use")
        << QByteArray("isCAN_DeviceInitEx") << 15 << 0x001C << false
        << QStringLiteral("isCAN-Gerät 0 konnte nicht initialisiert werden:\n"
                          "Gerät wird bereits von diesem oder einem anderen Programm benutzt")
        << QStringList({QStringLiteral("isCAN_DeviceInitEx(0,7)")});
    QTest::newRow("not online, custom timing")
        << QByteArray("isCAN_DeviceInitEx") << 5 << 0x0A1C << false
        << QStringLiteral("isCAN-Gerät 0 konnte nicht initialisiert werden:\nGerät ist nicht online")
        << QStringList({QStringLiteral("isCAN_DeviceInitEx(0,7)")});
    QTest::newRow("registers refused")
        << QByteArray("isCAN_SetBaudRegister") << 4 << 0x0A1C << false
        << QStringLiteral("Baudrate (BTR0/BTR1 = 0A1C) konnte nicht gesetzt werden:\nUngültiger Parameter")
        << QStringList({QStringLiteral("isCAN_DeviceInitEx(0,7)"), QStringLiteral("isCAN_SetBaudRegister(0,10,28)"),
                        QStringLiteral("isCAN_CloseDevice(0)")});
    QTest::newRow("register text zero-filled")
        << QByteArray("isCAN_SetBaudRegister") << 3 << 0x01A2 << false
        << QStringLiteral("Baudrate (BTR0/BTR1 = 01A2) konnte nicht gesetzt werden:\nTreiberfehler")
        << QStringList({QStringLiteral("isCAN_DeviceInitEx(0,7)"), QStringLiteral("isCAN_SetBaudRegister(0,1,162)"),
                        QStringLiteral("isCAN_CloseDevice(0)")});
}

void TestIsCanBackend::openFailures()
{
    QFETCH(QByteArray, function);
    QFETCH(int, code);
    QFETCH(int, btr);
    QFETCH(bool, listenOnly);
    QFETCH(QString, message);
    QFETCH(QStringList, calls);
    if (!function.isEmpty())
        m_standIn->force(function.constData(), code);
    IsCanBackend backend;
    ConnectParams params = IsCanStandIn::connectParams(0, btr);
    params.listenOnly = listenOnly;
    QString error;
    QVERIFY(!backend.open(params, &error));
    QCOMPARE(error, message);
    QCOMPARE(m_standIn->log(), calls);
    QVERIFY(!backend.isOpen());
    QCOMPARE(backend.description(), QString());
    QCOMPARE(backend.busStatus(), 0u);
    QVERIFY(!backend.write(CanFrame(), &error));
    QCOMPARE(error, QStringLiteral("Nicht verbunden."));
}

void TestIsCanBackend::writeSendsAndEchoes_data()
{
    QTest::addColumn<quint32>("id");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<bool>("rtr");
    QTest::addColumn<int>("dlc");
    QTest::addColumn<int>("length");
    QTest::newRow("standard") << 0x123u << false << false << 3 << 3;
    QTest::newRow("extended") << 0x1ABCDEF0u << true << false << 8 << 8;
    QTest::newRow("remote") << 0x7FFu << false << true << 2 << 2;
    QTest::newRow("length clamped") << 0x10u << false << false << 12 << 8;
}

void TestIsCanBackend::writeSendsAndEchoes()
{
    QFETCH(quint32, id);
    QFETCH(bool, extended);
    QFETCH(bool, rtr);
    QFETCH(int, dlc);
    QFETCH(int, length);
    IsCanBackend backend;
    QSignalSpy spy(&backend, &CanBackend::framesReceived);
    QString error;
    QVERIFY2(backend.open(IsCanStandIn::connectParams(), &error), qPrintable(error));

    CanFrame frame;
    frame.id = id;
    frame.extended = extended;
    frame.rtr = rtr;
    frame.dlc = quint8(dlc);
    for (int i = 0; i < 8; ++i)
        frame.data[i] = quint8(0xA0 + i);
    frame.timestampUs = 123456789; // ignored
    QVERIFY2(backend.write(frame, &error), qPrintable(error));

    QByteArray sent;
    QCOMPARE(m_standIn->transmitted(&sent), quint64(1));
    QCOMPARE(sent, IsCanStandIn::record(id, extended, rtr, quint8(length),
                                        QByteArray::fromHex("a0a1a2a3a4a5a6a7")));

    QTRY_COMPARE(collected(spy).size(), 1);
    const CanFrame echo = collected(spy).at(0);
    QVERIFY(echo.tx);
    QCOMPARE(echo.id, id);
    QCOMPARE(echo.extended, extended);
    QCOMPARE(echo.rtr, rtr);
    QVERIFY(echo.timestampUs >= 0 && echo.timestampUs < 60000000);
    backend.close();
}

void TestIsCanBackend::framesCrossTheVirtualBus()
{
    m_standIn->configure(1, 2, 0x77, true);
    IsCanBackend sender;
    IsCanBackend receiver;
    QSignalSpy senderSpy(&sender, &CanBackend::framesReceived);
    QSignalSpy receiverSpy(&receiver, &CanBackend::framesReceived);
    QString error;
    QVERIFY2(sender.open(IsCanStandIn::connectParams(0), &error), qPrintable(error));
    QVERIFY2(receiver.open(IsCanStandIn::connectParams(1), &error), qPrintable(error));
    QCOMPARE(receiver.description(), QStringLiteral("isCAN PCI (Nr. 1, Seriennr. 77) @ 500 kBit/s"));
    QCOMPARE(IsCan::Library::instance()->users, 2);

    CanFrame frame;
    frame.id = 0x18FF00AA;
    frame.extended = true;
    frame.dlc = 2;
    frame.data[0] = 0x11;
    frame.data[1] = 0x22;
    QVERIFY(sender.write(frame, &error));

    QTRY_COMPARE(collected(receiverSpy).size(), 1);
    const CanFrame received = collected(receiverSpy).at(0);
    QVERIFY(!received.tx);
    QCOMPARE(received.id, 0x18FF00AAu);
    QVERIFY(received.extended);
    QCOMPARE(received.dlc, quint8(2));
    QCOMPARE(received.data[1], quint8(0x22));
    QTRY_COMPARE(collected(senderSpy).size(), 1); // only its own echo
    QVERIFY(collected(senderSpy).at(0).tx);
    sender.close();
    receiver.close();
}

void TestIsCanBackend::writeFailures()
{
    IsCanBackend backend;
    QSignalSpy spy(&backend, &CanBackend::framesReceived);
    QString error;
    QVERIFY2(backend.open(IsCanStandIn::connectParams(), &error), qPrintable(error));
    QCOMPARE(backend.busStatus(), 0u);

    m_standIn->force("isCAN_TransmitMessageEx", 31);
    QVERIFY(!backend.write(CanFrame(), &error));
    QCOMPARE(error, QStringLiteral("Kein Acknowledge \u2013 vermutlich kein weiterer Teilnehmer am Bus"));
    QCOMPARE(backend.busStatus(), 0x04u);
    QCOMPARE(backend.busStatus(), 0u);

    m_standIn->force("isCAN_TransmitMessageEx", 30);
    QVERIFY(!backend.write(CanFrame(), &error));
    QCOMPARE(error, QStringLiteral("Busfehler beim Senden"));
    QCOMPARE(backend.busStatus(), 0x04u);

    m_standIn->force("isCAN_TransmitMessageEx", 7);
    QVERIFY(!backend.write(CanFrame(), &error));
    QCOMPARE(error, QStringLiteral("Sendepuffer belegt"));
    QCOMPARE(backend.busStatus(), 0u);

    backend.flushQueue();
    QCOMPARE(spy.count(), 0); // no echo of a frame that was not sent
    backend.close();
}

void TestIsCanBackend::receivedRecordsAreMapped_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<quint32>("id");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<bool>("rtr");
    QTest::addColumn<int>("dlc");
    const QByteArray data = QByteArray::fromHex("0102030405060708");
    QTest::newRow("standard") << IsCanStandIn::record(0x7FF, false, false, 8, data) << 0x7FFu << false << false << 8;
    QTest::newRow("standard id masked") << IsCanStandIn::record(0xF800 | 0x123, false, false, 1, data) << 0x123u
                                        << false << false << 1;
    QTest::newRow("extended id masked to 29 bits")
        << IsCanStandIn::record(0xFFFFFFFF, true, false, 4, data) << 0x1FFFFFFFu << true << false << 4;
    QTest::newRow("remote") << IsCanStandIn::record(0x55, false, true, 3, data) << 0x55u << false << true << 3;
    QTest::newRow("length above 8") << IsCanStandIn::record(0x66, false, false, 15, data) << 0x66u << false
                                    << false << 8;
}

void TestIsCanBackend::receivedRecordsAreMapped()
{
    QFETCH(QByteArray, record);
    QFETCH(quint32, id);
    QFETCH(bool, extended);
    QFETCH(bool, rtr);
    QFETCH(int, dlc);
    IsCanBackend backend;
    QSignalSpy spy(&backend, &CanBackend::framesReceived);
    QString error;
    QVERIFY2(backend.open(IsCanStandIn::connectParams(), &error), qPrintable(error));
    QCOMPARE(m_standIn->inject(0, record), 1);
    QTRY_COMPARE(collected(spy).size(), 1);
    const CanFrame frame = collected(spy).at(0);
    QCOMPARE(frame.id, id);
    QCOMPARE(frame.extended, extended);
    QCOMPARE(frame.rtr, rtr);
    QCOMPARE(int(frame.dlc), dlc);
    QVERIFY(!frame.tx && !frame.error && !frame.status);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(frame.data), 8), QByteArray::fromHex("0102030405060708"));
    QVERIFY(frame.timestampUs >= 0);
    backend.close();
}

void TestIsCanBackend::statusCodes_data()
{
    // Codes queued in order ("f" a frame), then busStatus() twice.
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<unsigned>("first");
    QTest::addColumn<unsigned>("second");
    const int f = -1;
    QTest::newRow("bus off stays") << QList<int>{17} << 0x10u << 0x10u;
    QTest::newRow("bus off until a frame") << QList<int>{17, f} << 0x10u << 0u;
    QTest::newRow("bus off until reset code") << QList<int>{17, 22} << 0x10u << 0u;
    QTest::newRow("error passive") << QList<int>{18} << 0x08u << 0x08u;
    QTest::newRow("bus error") << QList<int>{16} << 0x04u << 0x04u;
    QTest::newRow("error warning then frame") << QList<int>{20, f} << 0x04u << 0u;
    QTest::newRow("passive after off") << QList<int>{17, 18} << 0x18u << 0x08u;
    QTest::newRow("buffer overrun once") << QList<int>{11, f} << 0x40u << 0u;
    QTest::newRow("controller overrun once") << QList<int>{19} << 0x02u << 0u;
    QTest::newRow("unknown code") << QList<int>{3} << 0x200u << 0u;
}

void TestIsCanBackend::statusCodes()
{
    QFETCH(QList<int>, codes);
    QFETCH(unsigned, first);
    QFETCH(unsigned, second);
    // Polling goes on after a code that ends a drain; a callback would wait
    // for the next arrival.
    m_standIn->force("isCAN_StartMessageHandler", 9);
    IsCanBackend backend;
    QString error;
    QVERIFY2(backend.open(IsCanStandIn::connectParams(), &error), qPrintable(error));
    for (int code : codes) {
        if (code < 0)
            m_standIn->inject(0, IsCanStandIn::record(0x1, false, false, 0));
        else
            m_standIn->injectCode(0, code);
        QTRY_VERIFY(m_standIn->drained(0));
    }
    QCOMPARE(backend.busStatus(), first);
    QCOMPARE(backend.busStatus(), second);
    backend.close();
    QCOMPARE(backend.busStatus(), 0u);
}

void TestIsCanBackend::resetRestartsDevice()
{
    IsCanBackend backend;
    QSignalSpy spy(&backend, &CanBackend::framesReceived);
    QString error;
    QVERIFY(!backend.resetHardware(&error));
    QCOMPARE(error, QStringLiteral("Nicht verbunden."));

    QVERIFY2(backend.open(IsCanStandIn::connectParams(0, 0x0A1C), &error), qPrintable(error));
    m_standIn->injectCode(0, 17);
    QTRY_VERIFY(m_standIn->drained(0));
    const int before = int(m_standIn->log().size());
    QVERIFY2(backend.resetHardware(&error), qPrintable(error));
    QCOMPARE(m_standIn->log().mid(before),
             QStringList({QStringLiteral("isCAN_StopMessageHandler(0)"), QStringLiteral("isCAN_CloseDevice(0)"),
                          QStringLiteral("isCAN_DeviceInitEx(0,7)"), QStringLiteral("isCAN_SetBaudRegister(0,10,28)"),
                          QStringLiteral("isCAN_SetMessageExID(0,4294967295)"),
                          QStringLiteral("isCAN_SetupDevice(0,3,1,0)"),
                          QStringLiteral("isCAN_StartMessageHandler(0)")}));
    QCOMPARE(backend.busStatus(), 0u);
    QVERIFY(backend.isOpen());
    QCOMPARE(IsCan::Library::instance()->users, 1);

    // Reception goes on after the reset.
    m_standIn->inject(0, IsCanStandIn::record(0x42, false, false, 0));
    QTRY_COMPARE(collected(spy).size(), 1);
    backend.close();
}

void TestIsCanBackend::resetFailureCloses()
{
    IsCanBackend backend;
    QString error;
    QVERIFY2(backend.open(IsCanStandIn::connectParams(), &error), qPrintable(error));
    m_standIn->force("isCAN_DeviceInitEx", 6);
    QVERIFY(!backend.resetHardware(&error));
    QCOMPARE(error, QStringLiteral("isCAN-Gerät 0 konnte nicht initialisiert werden:\nZeitüberschreitung am Gerät"));
    QVERIFY(!backend.isOpen());
    QCOMPARE(backend.description(), QString());
    QCOMPARE(backend.bitrate(), 0);
    QCOMPARE(IsCan::Library::instance()->users, 0);
    QCOMPARE(m_standIn->handlerThreads(), 0);
    const quint64 closes = m_standIn->calls("isCAN_CloseDevice");
    backend.close(); // already closed: no second close of the device
    QCOMPARE(m_standIn->calls("isCAN_CloseDevice"), closes);
}

void TestIsCanBackend::enumeratesConfiguredDevices()
{
    m_standIn->configure(0, 1, 0x1A2B, true);
    m_standIn->configure(3, 4, 0xC0FFEE, false, true);
    m_standIn->setAttached({0x1A2B, 0x999});
    int unconfigured = -1;
    QString error;
    const QList<IsCanDeviceInfo> devices = IsCanBackend::enumerateDevices(StandIn, &unconfigured, &error);
    QCOMPARE(devices.size(), 2);
    QCOMPARE(devices.at(0).number, 0);
    QCOMPARE(devices.at(0).typeName, QStringLiteral("isCAN USB"));
    QCOMPARE(devices.at(0).serial, 0x1A2Bu);
    QVERIFY(devices.at(0).attached);
    QVERIFY(!devices.at(0).busy);
    QCOMPARE(devices.at(1).number, 3);
    QCOMPARE(devices.at(1).typeName, QStringLiteral("isCAN NetCube"));
    QCOMPARE(devices.at(1).serial, 0xC0FFEEu);
    QVERIFY(!devices.at(1).attached);
    QVERIFY(devices.at(1).busy);
    QCOMPARE(unconfigured, 1);
    QCOMPARE(error, QString());
    QCOMPARE(m_standIn->calls("isCAN_GetDriverConfiguration"), quint64(16));
    QCOMPARE(m_standIn->log().filter(QStringLiteral("isCAN_AttachedDevices")),
             QStringList({QStringLiteral("isCAN_AttachedDevices(96)"), QStringLiteral("isCAN_AttachedDevices(128)"),
                          QStringLiteral("isCAN_AttachedDevices(128)")}));

    // A device opened by this program is reported busy.
    IsCanBackend backend;
    QVERIFY(backend.open(IsCanStandIn::connectParams(), &error));
    QVERIFY(IsCanBackend::enumerateDevices(StandIn, nullptr, nullptr).at(0).busy);
    backend.close();
}

void TestIsCanBackend::enumerationWithoutDevices()
{
    m_standIn->configure(0, 0, 0, false);
    m_standIn->setAttached({0x5, 0x6, 0x7});
    int unconfigured = -1;
    QString error;
    QVERIFY(IsCanBackend::enumerateDevices(StandIn, &unconfigured, &error).isEmpty());
    QCOMPARE(error, QStringLiteral("In der isCAN-Treiberkonfiguration ist kein Gerät eingetragen."));
    QCOMPARE(unconfigured, 3);

    // The walk stops at 64 even when a driver never says "no more".
    m_standIn->force("isCAN_AttachedDevices", 0);
    IsCanBackend::enumerateDevices(StandIn, &unconfigured, &error);
    QCOMPARE(m_standIn->calls("isCAN_AttachedDevices"), quint64(3 + 1 + 64));

    // A library that does not load gives its message and no rows.
    unconfigured = -1;
    QVERIFY(IsCanBackend::enumerateDevices(QStringLiteral("/nicht/da.so"), &unconfigured, &error).isEmpty());
    QCOMPARE(error, QStringLiteral("Datei nicht gefunden: /nicht/da.so"));
    QCOMPARE(unconfigured, 0);
}

void TestIsCanBackend::deviceTexts()
{
    IsCanDeviceInfo device;
    device.number = 3;
    device.typeName = QStringLiteral("isCAN NetCube");
    device.serial = 0xc0ffee;
    device.attached = true;
    QCOMPARE(IsCanBackend::deviceText(device),
             QStringLiteral("Nr. 3: isCAN NetCube   \u2014   Seriennr. C0FFEE, angeschlossen"));
    device.attached = false;
    device.busy = true;
    QCOMPARE(IsCanBackend::deviceText(device),
             QStringLiteral("Nr. 3: isCAN NetCube   \u2014   Seriennr. C0FFEE, nicht angeschlossen, belegt"));
}

void TestIsCanBackend::deviceListInfo_data()
{
    QTest::addColumn<QList<bool>>("attached");
    QTest::addColumn<int>("unconfigured");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isError");
    const QString hint = QStringLiteral("\nHinweis: isCAN liefert keine Hardware-Zeitstempel und unterstützt kein Listen-Only.");
    const QString missing = QStringLiteral("\n1 angeschlossene(s) Gerät(e) ist/sind nicht in der Treiberkonfiguration "
                                           "eingetragen \u2013 bitte mit dem isCAN-Konfigurationsprogramm "
                                           "(CANDriverConfig) hinzufügen.");
    QTest::newRow("one of two attached") << QList<bool>{true, false} << 0
                                         << QStringLiteral("2 Gerät(e) konfiguriert, davon 1 angeschlossen.") + hint << false;
    QTest::newRow("none attached") << QList<bool>{false} << 1
                                   << QStringLiteral("1 Gerät(e) konfiguriert, davon 0 angeschlossen.") + missing + hint
                                   << true;
    QTest::newRow("no device") << QList<bool>{} << 1 << QStringLiteral("Meldung") + missing + hint << true;
}

void TestIsCanBackend::deviceListInfo()
{
    QFETCH(QList<bool>, attached);
    QFETCH(int, unconfigured);
    QFETCH(QString, text);
    QFETCH(bool, isError);
    QList<IsCanDeviceInfo> devices;
    for (bool a : attached) {
        IsCanDeviceInfo device;
        device.attached = a;
        devices.append(device);
    }
    bool error = !isError;
    QCOMPARE(IsCanBackend::deviceListInfo(devices, unconfigured, QStringLiteral("Meldung"), &error), text);
    QCOMPARE(error, isError);
}

QTEST_GUILESS_MAIN(TestIsCanBackend)
#include "tst_iscanbackend.moc"
