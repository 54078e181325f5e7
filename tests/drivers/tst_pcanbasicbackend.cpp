#include "pcanbasic.h"
#include "pcanbasicbackend.h"
#include "pcanstandin.h"

#include <QTest>

#include <QElapsedTimer>

#include <memory>

Q_DECLARE_METATYPE(ConnectParams)

namespace {

ConnectParams pcanParams(int channel = 0x51, int btr = 0x001C)
{
    ConnectParams params;
    params.interface = 2;
    params.basicDllPath = PcanStandIn::path();
    params.channel = channel;
    params.btr = btr;
    return params;
}

// Collects what a backend delivers through its queue.
struct Received
{
    explicit Received(CanBackend *backend)
    {
        QObject::connect(backend, &CanBackend::framesReceived,
                         [this](const CanFrameList &batch) { frames += batch; });
    }
    QList<CanFrame> frames;
};

} // namespace

// PcanBasicBackend over the stand-in: opening, sending, receiving, status,
// channel list and every failure the driver can report.
class TestPcanBasicBackend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void descriptions_data();
    void descriptions();
    void openFailures_data();
    void openFailures();
    void openedChannelIsConfigured();
    void closeDetachesAndReleases();
    void sentFramesReachTheBusWithTheRecordLayout();
    void echoComesOnceFromDriverOrBackend_data();
    void echoComesOnceFromDriverOrBackend();
    void writeStatus_data();
    void writeStatus();
    void receivedMessagesAreMapped();
    void timeStampsKeepTheDriverSpacing();
    void statusIsLatchedUntilRead_data();
    void statusIsLatchedUntilRead();
    void busOffFromTheDriverAndReset();
    void refusedEventFallsBackToPolling();
    void failedWriteOrStatusQueryKeepsReceiving_data();
    void failedWriteOrStatusQueryKeepsReceiving();
    void channelListFromTheDriver();
    void channelListByProbing();
    void channelListFailures();

private:
    PcanStandIn standIn;
    std::unique_ptr<PcanBasicBackend> backend;
};

void TestPcanBasicBackend::initTestCase()
{
    QVERIFY2(standIn.isValid(), qPrintable(PcanStandIn::path()));
}

void TestPcanBasicBackend::init()
{
    standIn.reset();
    backend = std::make_unique<PcanBasicBackend>();
}

void TestPcanBasicBackend::cleanup()
{
    backend.reset();
    QCOMPARE(PcanBasic::Library::instance()->users, 0);
    QCOMPARE(standIn.initializedChannels(), 0);
}

void TestPcanBasicBackend::descriptions_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("btr");
    QTest::addColumn<bool>("listenOnly");
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("bitrate");
    QTest::newRow("listen-only example") << 0x51 << 0x001C << true
                                         << "PCAN-USB 1 @ 500 kBit/s [PCAN-USB, Geräte-ID 0] (Listen-Only)" << 500000;
    QTest::newRow("btr 0 is 500k") << 0x52 << 0 << false << "PCAN-USB 2 @ 500 kBit/s [PCAN-USB FD, Geräte-ID 5]" << 500000;
    QTest::newRow("custom timing") << 0x51 << 0x0A1C << false
                                   << "PCAN-USB 1 @ 45454 Bit/s (BTR 0x0A1C) [PCAN-USB, Geräte-ID 0]" << 45454;
    // A channel the driver knows nothing about has no hardware text.
    QTest::newRow("unknown hardware") << 0x801 << 0x0014 << false << "PCAN-LAN 1 @ 1 MBit/s" << 1000000;
}

void TestPcanBasicBackend::descriptions()
{
    QFETCH(int, channel);
    QFETCH(int, btr);
    QFETCH(bool, listenOnly);
    QFETCH(QString, description);
    QFETCH(int, bitrate);
    ConnectParams params = pcanParams(channel, btr);
    params.listenOnly = listenOnly;
    QString error;
    QVERIFY2(backend->open(params, &error), qPrintable(error));
    QVERIFY(backend->isOpen());
    QCOMPARE(backend->description(), description);
    QCOMPARE(backend->bitrate(), bitrate);
    QCOMPARE(standIn.channelSetting(quint16(channel), "btr"), btr == 0 ? 0x001C : btr);
    QCOMPARE(PcanBasic::Library::instance()->users, 1);
    backend->close();
    QVERIFY(!backend->isOpen());
    QCOMPARE(backend->description(), QString());
    QCOMPARE(backend->bitrate(), 0);
}

void TestPcanBasicBackend::openFailures_data()
{
    QTest::addColumn<ConnectParams>("params");
    QTest::addColumn<QString>("refused");
    QTest::addColumn<QString>("forcedFunction");
    QTest::addColumn<uint>("forcedStatus");
    QTest::addColumn<QString>("message");

    ConnectParams listenOnly = pcanParams();
    listenOnly.listenOnly = true;
    QTest::newRow("listen-only refused") << listenOnly << "listenOnly" << "" << 0u
                                         << "Listen-Only-Modus konnte nicht aktiviert werden:\nUngültiger Parametertyp (0x4000)";
    QTest::newRow("initialise fails") << pcanParams(0x509) << "" << "CAN_Initialize" << 0x1400u
                                      << "PCAN-USB 9 konnte nicht initialisiert werden:\nUngültiges Hardware-Handle (0x1400)";
    QTest::newRow("initialise fails without driver text") << pcanParams() << "" << "CAN_Initialize" << 0x8000000u
                                                          << "PCAN-USB 1 konnte nicht initialisiert werden:\nFehlercode 0x8000000";
    QTest::newRow("no channel") << pcanParams(0) << "" << "" << 0u << "Kein PCAN-Kanal ausgewählt.";
    ConnectParams missing = pcanParams();
    missing.basicDllPath = QStringLiteral("/nonexistent/PCANBasic.dll");
    QTest::newRow("library missing") << missing << "" << "" << 0u << "Datei nicht gefunden: /nonexistent/PCANBasic.dll";
    ConnectParams incomplete = pcanParams();
    incomplete.basicDllPath = PcanStandIn::pathWithout("CAN_SetValue");
    QTest::newRow("export missing") << incomplete << "" << "" << 0u
                                    << "libpcanbasic.so ist unvollständig, fehlende Funktionen: CAN_SetValue";
}

void TestPcanBasicBackend::openFailures()
{
    QFETCH(ConnectParams, params);
    QFETCH(QString, refused);
    QFETCH(QString, forcedFunction);
    QFETCH(uint, forcedStatus);
    QFETCH(QString, message);
    if (!refused.isEmpty())
        standIn.refuse(qPrintable(refused), 1);
    if (!forcedFunction.isEmpty())
        standIn.forceStatus(qPrintable(forcedFunction), forcedStatus);
    QString error;
    QVERIFY(!backend->open(params, &error));
    QCOMPARE(error, message);
    QVERIFY(!backend->isOpen());
    QCOMPARE(standIn.initializedChannels(), 0);
    QCOMPARE(PcanBasic::Library::instance()->users, 0);
    // Null error pointers are allowed.
    QVERIFY(!backend->open(params, nullptr));
}

void TestPcanBasicBackend::openedChannelIsConfigured()
{
    ConnectParams params = pcanParams();
    params.errorFrames = true;
    QVERIFY(backend->open(params, nullptr));
    QCOMPARE(standIn.channelSetting(0x51, "listenOnly"), 0);
    QCOMPARE(standIn.channelSetting(0x51, "errorFrames"), 1);
    QCOMPARE(standIn.channelSetting(0x51, "echoes"), 1);
    QCOMPARE(standIn.channelSetting(0x51, "event"), 1);
    // Opening again closes first.
    QVERIFY(backend->open(pcanParams(0x52), nullptr));
    QCOMPARE(standIn.channelSetting(0x51, "btr"), -1);
    QCOMPARE(standIn.channelSetting(0x52, "errorFrames"), 0);
    QCOMPARE(PcanBasic::Library::instance()->users, 1);
}

void TestPcanBasicBackend::closeDetachesAndReleases()
{
    QVERIFY(backend->open(pcanParams(), nullptr));
    const quint64 setValues = standIn.calls("CAN_SetValue");
    backend->close();
    // The event is taken from the driver before the channel is released.
    QCOMPARE(standIn.calls("CAN_SetValue"), setValues + 1);
    QCOMPARE(standIn.calls("CAN_Uninitialize"), 1u);
    backend->close();
    QCOMPARE(standIn.calls("CAN_Uninitialize"), 1u);
    QString error;
    QVERIFY(!backend->write(CanFrame(), &error));
    QCOMPARE(error, QStringLiteral("Nicht verbunden."));
    QVERIFY(!backend->resetHardware(&error));
    QCOMPARE(error, QStringLiteral("Nicht verbunden."));
    QCOMPARE(backend->busStatus(), 0u);
}

void TestPcanBasicBackend::sentFramesReachTheBusWithTheRecordLayout()
{
    QVERIFY(backend->open(pcanParams(), nullptr));
    PcanBasicBackend other;
    Received onOther(&other);
    QVERIFY(other.open(pcanParams(0x52), nullptr));
    QCOMPARE(PcanBasic::Library::instance()->users, 2);

    CanFrame extended;
    extended.id = 0x18FEF100;
    extended.extended = true;
    extended.dlc = 12; // a length above 8 goes out as 8
    for (int i = 0; i < 8; ++i)
        extended.data[i] = quint8(0xA0 + i);
    CanFrame remote;
    remote.id = 0x7FF;
    remote.rtr = true;
    remote.dlc = 2;
    QVERIFY(backend->write(extended, nullptr));
    QVERIFY(backend->write(remote, nullptr));

    uint8_t records[16 * 4] = {};
    QCOMPARE(standIn.takeWritten(records, 4), 2u);
    const QByteArray first(reinterpret_cast<const char *>(records), 16);
    QCOMPARE(first.toHex(' '), QByteArray("00 f1 fe 18 02 08 a0 a1 a2 a3 a4 a5 a6 a7 00 00"));
    const QByteArray second(reinterpret_cast<const char *>(records + 16), 16);
    QCOMPARE(second.toHex(' '), QByteArray("ff 07 00 00 01 02 00 00 00 00 00 00 00 00 00 00"));

    QTRY_COMPARE(onOther.frames.size(), 2);
    QCOMPARE(onOther.frames[0].id, 0x18FEF100u);
    QVERIFY(onOther.frames[0].extended && !onOther.frames[0].tx);
    QCOMPARE(onOther.frames[0].dlc, quint8(8));
    QVERIFY(onOther.frames[1].rtr);
}

void TestPcanBasicBackend::echoComesOnceFromDriverOrBackend_data()
{
    QTest::addColumn<bool>("driverEchoes");
    QTest::newRow("driver echoes") << true;
    QTest::newRow("backend echoes") << false;
}

void TestPcanBasicBackend::echoComesOnceFromDriverOrBackend()
{
    QFETCH(bool, driverEchoes);
    standIn.refuse("echo", driverEchoes ? 0 : 1);
    Received received(backend.get());
    QVERIFY(backend->open(pcanParams(), nullptr));
    CanFrame frame;
    frame.id = 0x123;
    frame.dlc = 3;
    frame.data[0] = 0x11;
    frame.timestampUs = -5;
    QVERIFY(backend->write(frame, nullptr));
    QTRY_COMPARE(received.frames.size(), 1);
    const CanFrame echo = received.frames.first();
    QVERIFY(echo.tx);
    QCOMPARE(echo.id, 0x123u);
    QCOMPARE(echo.dlc, quint8(3));
    QCOMPARE(echo.data[0], quint8(0x11));
    QVERIFY(echo.timestampUs >= 0);
    // Nothing else follows.
    QTest::qWait(60);
    QCOMPARE(received.frames.size(), 1);
}

void TestPcanBasicBackend::writeStatus_data()
{
    QTest::addColumn<uint>("status");
    QTest::addColumn<bool>("sent");
    QTest::addColumn<QString>("message");
    QTest::newRow("bus warning still sends") << 0x4u << true << "";
    QTest::newRow("error passive and overruns still send") << 0x40042u << true << "";
    QTest::newRow("bus off") << 0x10u << false << "Bus-Off (0x10)";
    QTest::newRow("transmit buffer full") << 0x1u << false << "Sendepuffer im Controller ist voll (0x1)";
    QTest::newRow("unknown") << 0x80000u << false << "Fehlercode 0x80000";
}

void TestPcanBasicBackend::writeStatus()
{
    QFETCH(uint, status);
    QFETCH(bool, sent);
    QFETCH(QString, message);
    standIn.refuse("echo", 1);
    Received received(backend.get());
    QVERIFY(backend->open(pcanParams(), nullptr));
    standIn.forceStatus("CAN_Write", status);
    QString error;
    QCOMPARE(backend->write(CanFrame(), &error), sent);
    QCOMPARE(error, message);
    backend->flushQueue();
    QCOMPARE(received.frames.size(), sent ? 1 : 0);
}

void TestPcanBasicBackend::receivedMessagesAreMapped()
{
    Received received(backend.get());
    QVERIFY(backend->open(pcanParams(), nullptr));
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    standIn.inject(0x51, 0x1ABCDEF0, 0x02, 8, data, 0, 0, 0);
    standIn.inject(0x51, 0x123, 0x01, 4, nullptr, 0, 0, 0);
    standIn.inject(0x51, 0x7, 0x40, 15, data, 0, 0, 0);
    standIn.inject(0x51, 0x555, 0x20, 2, data, 0, 0, 0);
    QTRY_COMPARE(received.frames.size(), 4);
    const CanFrame &ext = received.frames[0];
    QVERIFY(ext.extended && !ext.rtr && !ext.error && !ext.status && !ext.tx);
    QCOMPARE(ext.id, 0x1ABCDEF0u);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(ext.data), 8), QByteArray("\1\2\3\4\5\6\7\x8"));
    QVERIFY(received.frames[1].rtr && !received.frames[1].extended);
    QCOMPARE(received.frames[1].dlc, quint8(4));
    QVERIFY(received.frames[2].error);
    QCOMPARE(received.frames[2].dlc, quint8(8)); // clamped
    QVERIFY(received.frames[3].tx);
}

void TestPcanBasicBackend::timeStampsKeepTheDriverSpacing()
{
    Received received(backend.get());
    QElapsedTimer sinceOpen;
    sinceOpen.start();
    QVERIFY(backend->open(pcanParams(), nullptr));
    // Driver time far from the local clock, across a wrap of the milliseconds.
    standIn.inject(0x51, 0x100, 0, 0, nullptr, 0xFFFFFFFFu, 6, 900);
    standIn.inject(0x51, 0x101, 0, 0, nullptr, 1, 7, 400);
    QTRY_COMPARE(received.frames.size(), 2);
    const qint64 first = received.frames[0].timestampUs;
    // The first is stamped with the local time of its reading.
    QVERIFY(first >= 0);
    QVERIFY(first <= sinceOpen.nsecsElapsed() / 1000);
    QCOMPARE(received.frames[1].timestampUs - first, 1500);
}

void TestPcanBasicBackend::statusIsLatchedUntilRead_data()
{
    QTest::addColumn<uint>("readStatus");
    QTest::addColumn<uint>("bits");
    QTest::addColumn<QString>("text");
    QTest::newRow("queue overrun") << 0x40u << 0x40u << "Empfangsqueue-Überlauf";
    QTest::newRow("controller overrun") << 0x02u << 0x02u << "Controller-Überlauf";
    QTest::newRow("bus off") << 0x10u << 0x10u << "Bus-Off";
    QTest::newRow("no driver") << 0x200u << 0x200u << "Treiber nicht geladen";
}

void TestPcanBasicBackend::statusIsLatchedUntilRead()
{
    QFETCH(uint, readStatus);
    QFETCH(uint, bits);
    QFETCH(QString, text);
    Received received(backend.get());
    QVERIFY(backend->open(pcanParams(), nullptr));
    const quint64 readsBefore = standIn.calls("CAN_Read");
    standIn.forceStatus("CAN_Read", readStatus);
    standIn.inject(0x51, 0x100, 0, 0, nullptr, 0, 0, 0);
    QTRY_VERIFY(standIn.calls("CAN_Read") > readsBefore);
    standIn.forceStatus("CAN_Read", 0);
    // Once the frame behind it was read, the reader is past the failed read.
    QTRY_COMPARE(received.frames.size(), 1);
    const unsigned status = backend->busStatus();
    QCOMPARE(status, bits);
    QCOMPARE(CanBackend::statusText(status), text);
    QCOMPARE(backend->busStatus(), 0u);
}

void TestPcanBasicBackend::busOffFromTheDriverAndReset()
{
    Received received(backend.get());
    QVERIFY(backend->open(pcanParams(), nullptr));
    // A status message: delivered as a status frame and latched.
    const uint8_t busOff[8] = {0x10, 0, 0, 0};
    standIn.inject(0x51, 0, 0x80, 4, busOff, 0, 0, 0);
    QTRY_COMPARE(received.frames.size(), 1);
    QVERIFY(received.frames[0].status);
    QCOMPARE(backend->busStatus(), unsigned(CanBackend::BusOff));
    QCOMPARE(backend->busStatus(), 0u);
    // The controller's own state.
    standIn.forceStatus("CAN_GetStatus", 0x40000 | 0x80);
    QCOMPARE(backend->busStatus(), unsigned(CanBackend::BusHeavy | CanBackend::TxQueueFull));
    standIn.forceStatus("CAN_GetStatus", 0);

    QString error;
    QVERIFY(backend->resetHardware(&error));
    standIn.forceStatus("CAN_Reset", 0x1400);
    QVERIFY(!backend->resetHardware(&error));
    QCOMPARE(error, QStringLiteral("Ungültiges Hardware-Handle (0x1400)"));
    QVERIFY(backend->isOpen());
}

void TestPcanBasicBackend::refusedEventFallsBackToPolling()
{
    standIn.refuse("event", 1);
    Received received(backend.get());
    QVERIFY(backend->open(pcanParams(), nullptr));
    QCOMPARE(standIn.channelSetting(0x51, "event"), 0);
    QCOMPARE(standIn.injectNumbered(0x51, 0x100, 0, 5000), 5000u);
    QTRY_COMPARE(received.frames.size(), 5000);
    // Without an event nothing is detached at close.
    const quint64 setValues = standIn.calls("CAN_SetValue");
    backend->close();
    QCOMPARE(standIn.calls("CAN_SetValue"), setValues);
}

void TestPcanBasicBackend::failedWriteOrStatusQueryKeepsReceiving_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<uint>("status");
    QTest::newRow("write: illegal hardware") << "CAN_Write" << 0x1400u;
    QTest::newRow("write: not initialised") << "CAN_Write" << 0x4000000u;
    QTest::newRow("status query: illegal hardware") << "CAN_GetStatus" << 0x1400u;
}

void TestPcanBasicBackend::failedWriteOrStatusQueryKeepsReceiving()
{
    QFETCH(QString, function);
    QFETCH(uint, status);
    Received received(backend.get());
    QVERIFY(backend->open(pcanParams(), nullptr));
    standIn.forceStatus(function.toLatin1().constData(), status);
    if (function == QLatin1String("CAN_Write"))
        QVERIFY(!backend->write(CanFrame(), nullptr));
    QCOMPARE(backend->busStatus() & CanBackend::DeviceLost, 0u);
    standIn.forceStatus(function.toLatin1().constData(), 0);

    // Two bursts: the reader goes on after the first.
    for (int burst = 1; burst <= 2; ++burst) {
        standIn.inject(0x51, 0x100 + uint32_t(burst), 0, 0, nullptr, 0, 0, 0);
        QTRY_COMPARE(received.frames.size(), burst);
        QTest::qWait(10);
    }
    QCOMPARE(backend->busStatus() & CanBackend::DeviceLost, 0u);
    // An ordinary reset, not a new initialisation.
    const quint64 initialisations = standIn.calls("CAN_Initialize");
    QVERIFY(backend->resetHardware(nullptr));
    QCOMPARE(standIn.calls("CAN_Initialize"), initialisations);
}

void TestPcanBasicBackend::channelListFromTheDriver()
{
    standIn.clearAttached();
    standIn.addAttached(0x51, "PCAN-USB FD", 5, 0, 1, 0x01);
    standIn.addAttached(0x802, "", 0xFFFFFFFF, 1, 0, 0x02);
    QString error;
    const QList<PcanBasicChannelInfo> channels = PcanBasicBackend::enumerateChannels(PcanStandIn::path(), &error);
    QCOMPARE(channels.size(), 2);
    QCOMPARE(channels[0].handle, quint16(0x51));
    QCOMPARE(channels[0].name, QStringLiteral("PCAN-USB 1"));
    QCOMPARE(channels[0].hardwareName, QStringLiteral("PCAN-USB FD"));
    QCOMPARE(channels[0].deviceId, 5);
    QVERIFY(channels[0].fdCapable);
    QCOMPARE(channels[0].condition, 1u);
    QCOMPARE(channels[1].name, QStringLiteral("PCAN-LAN 2"));
    QCOMPARE(channels[1].controllerNumber, quint8(1));
    QVERIFY(!channels[1].fdCapable);
    QCOMPARE(channels[1].condition, 2u);
}

void TestPcanBasicBackend::channelListByProbing()
{
    standIn.setLegacy(1);
    standIn.clearAttached();
    standIn.addAttached(0x41, "PCAN-PCI", 1, 0, 0, 0x01);
    standIn.addAttached(0x52, "PCAN-USB", 2, 0, 0, 0x02);
    standIn.addAttached(0x53, "gone", 3, 0, 0, 0x00);
    QString error;
    const QList<PcanBasicChannelInfo> channels = PcanBasicBackend::enumerateChannels(PcanStandIn::path(), &error);
    // USB before PCI; a channel neither available nor occupied is left out.
    QCOMPARE(channels.size(), 2);
    QCOMPARE(channels[0].handle, quint16(0x52));
    QCOMPARE(channels[0].hardwareName, QStringLiteral("PCAN-USB"));
    QCOMPARE(channels[0].deviceId, -1);
    QCOMPARE(channels[1].name, QStringLiteral("PCAN-PCI 1"));
}

void TestPcanBasicBackend::channelListFailures()
{
    const QString noHardware = QStringLiteral(
        "Keine PCAN-Hardware gefunden (PCAN-USB/-PCI/-LAN angeschlossen und PEAK-Gerätetreiber installiert?).");
    standIn.clearAttached();
    QString error;
    QVERIFY(PcanBasicBackend::enumerateChannels(PcanStandIn::path(), &error).isEmpty());
    QCOMPARE(error, noHardware);
    standIn.setLegacy(1);
    error.clear();
    QVERIFY(PcanBasicBackend::enumerateChannels(PcanStandIn::path(), &error).isEmpty());
    QCOMPARE(error, noHardware);
    QVERIFY(PcanBasicBackend::enumerateChannels(QStringLiteral("/nonexistent.dll"), &error).isEmpty());
    QCOMPARE(error, QStringLiteral("Datei nicht gefunden: /nonexistent.dll"));
}

QTEST_GUILESS_MAIN(TestPcanBasicBackend)
#include "tst_pcanbasicbackend.moc"
