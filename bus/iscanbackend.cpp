#include "iscanbackend.h"

#include "platform/monotonicclock.h"

#include <QStringList>
#include <QThread>

#include <algorithm>
#include <map>
#include <cstring>
#include <thread>

namespace {

constexpr int DrainLimit = 4096;
constexpr quint16 DefaultBtr = 0x001C;
constexpr uint8_t Baud500k = 7;

quint32 maskedIdentifier(const IsCan::Message &message)
{
    return message.identifier & (message.extended ? 0x1FFFFFFFu : 0x7FFu);
}

// The backends whose message handler runs, by the token handed to the driver
// as its user pointer. A driver may call the callback after its stop call
// returned, even after the backend was deleted: the callback finds the
// backend here only while it is registered, and counts itself in under the
// same lock, so stopReceiving() can wait for every callback that got in.
// Tokens are never reused.
std::mutex registryLock;
std::map<quintptr, IsCanBackend *> &registry()
{
    static std::map<quintptr, IsCanBackend *> backends;
    return backends;
}
quintptr lastToken = 0;

} // namespace

IsCanBackend::IsCanBackend(QObject *parent)
    : HardwareBackend(parent)
{
}

IsCanBackend::~IsCanBackend()
{
    close();
}

bool IsCanBackend::isOpen() const
{
    return m_opened;
}

bool IsCanBackend::usesCallback() const
{
    return m_handlerActive;
}

bool IsCanBackend::open(const ConnectParams &params, QString *error)
{
    close();
    IsCan::Library *library = IsCan::Library::instance();
    if (!library->load(params.isCanDllPath, error))
        return false;
    if (params.listenOnly) {
        if (error)
            *error = tr("isCAN unterstützt keinen Listen-Only-Modus.");
        return false;
    }
    m_device = quint8(std::clamp(params.isCanDevice, 0, 15));
    m_btr = params.btr > 0 ? quint16(params.btr) : DefaultBtr;
    {
        std::lock_guard<std::mutex> lock(m_driverLock);
        if (!initDevice(error))
            return false;
    }

    m_opened = true;
    ++library->users;
    m_startMicros = MonotonicClock::nowUs();
    m_busState = 0;
    m_latchedStatus = 0;
    m_deviceLost = false;

    QString deviceText = tr("isCAN %1").arg(m_device);
    IsCan::Configuration configuration {};
    uint8_t code;
    {
        std::lock_guard<std::mutex> lock(m_driverLock);
        code = library->getDriverConfiguration(m_device, &configuration);
    }
    if (code == IsCan::NoError && configuration.type != 0) {
        deviceText = tr("%1 (Nr. %2, Seriennr. %3)")
                         .arg(IsCan::deviceTypeName(configuration.type))
                         .arg(m_device)
                         .arg(QString::number(configuration.serial, 16).toUpper());
    }
    describeConnection(deviceText, m_btr);

    clearQueue();
    startReceiving();
    return true;
}

// Called with m_driverLock held.
bool IsCanBackend::initDevice(QString *error)
{
    IsCan::Library *library = IsCan::Library::instance();
    const int constant = IsCan::baudConstant(m_btr);
    uint8_t code;
    if (constant != 0) {
        code = library->deviceInitEx(m_device, uint8_t(constant));
    } else {
        // No driver constant for this timing: open at 500 kBit/s, then set
        // the registers directly.
        code = library->deviceInitEx(m_device, Baud500k);
        if (code == IsCan::NoError) {
            const uint8_t baudCode = library->setBaudRegister(m_device, uint8_t(m_btr >> 8),
                                                              uint8_t(m_btr & 0xFF));
            if (baudCode != IsCan::NoError) {
                library->closeDevice(m_device);
                if (error) {
                    *error = tr("Baudrate (BTR0/BTR1 = %1) konnte nicht gesetzt werden:\n%2")
                                 .arg(QStringLiteral("%1").arg(m_btr, 4, 16, QLatin1Char('0')).toUpper(),
                                      IsCan::errorText(baudCode));
                }
                return false;
            }
        }
    }
    if (code != IsCan::NoError) {
        if (error) {
            *error = tr("isCAN-Gerät %1 konnte nicht initialisiert werden:\n%2")
                         .arg(m_device)
                         .arg(IsCan::errorText(code));
        }
        return false;
    }
    library->setMessageExId(m_device, 0xFFFFFFFFu);
    library->setupDevice(m_device, 3, 1, 0);
    return true;
}

void IsCanBackend::startReceiving()
{
    m_stopRequested = false;
    IsCan::Library *library = IsCan::Library::instance();
    {
        std::lock_guard<std::mutex> lock(registryLock);
        m_callbackToken = ++lastToken;
        registry()[m_callbackToken] = this;
    }
    // Not under m_driverLock: the driver may call onMessage before this returns.
    m_handlerActive = library->startMessageHandler(m_device, &IsCanBackend::onMessage,
                                                   reinterpret_cast<void *>(m_callbackToken))
        == IsCan::NoError;
    if (!m_handlerActive)
        unregisterCallback();
    if (m_handlerActive) {
        drainReceiveQueue(); // what arrived before the callback was installed
        return;
    }
    startReader(QStringLiteral("IsCanReader"), [this] { pollLoop(); });
}

void IsCanBackend::stopReceiving()
{
    // First the flag, so that a late callback does nothing.
    m_stopRequested = true;
    if (m_handlerActive) {
        // From here on no callback gets to this backend.
        unregisterCallback();
        // Not under m_driverLock: the driver may wait for a running callback,
        // which needs the lock to finish its drain.
        IsCan::Library::instance()->stopMessageHandler(m_device);
        m_handlerActive = false;
        // A driver that does not wait for its callback to return must not
        // leave one running into a closed device or a deleted backend.
        while (m_callbacksRunning.load() > 0)
            std::this_thread::yield();
    }
    joinReader();
}

void IsCanBackend::unregisterCallback()
{
    std::lock_guard<std::mutex> lock(registryLock);
    registry().erase(m_callbackToken);
    m_callbackToken = 0;
}

void BV_DRIVER_CALL IsCanBackend::onMessage(quint8, void *user)
{
    IsCanBackend *backend = nullptr;
    {
        std::lock_guard<std::mutex> lock(registryLock);
        const auto found = registry().find(reinterpret_cast<quintptr>(user));
        if (found == registry().end())
            return; // stopped, perhaps deleted: the driver called late
        backend = found->second;
        ++backend->m_callbacksRunning;
    }
    if (!backend->m_stopRequested.load())
        backend->drainReceiveQueue();
    // The last touch of the backend: stopReceiving() may free it after this.
    --backend->m_callbacksRunning;
}

void IsCanBackend::pollLoop()
{
    while (!m_stopRequested.load() && !m_deviceLost.load()) {
        drainReceiveQueue();
        QThread::msleep(1);
    }
}

void IsCanBackend::drainReceiveQueue()
{
    std::lock_guard<std::mutex> drain(m_drainLock);
    IsCan::Library *library = IsCan::Library::instance();
    QList<CanFrame> batch;
    for (int i = 0; i < DrainLimit; ++i) {
        IsCan::Message message {};
        uint8_t code;
        {
            std::lock_guard<std::mutex> lock(m_driverLock);
            code = library->receiveMessageEx(m_device, &message);
        }
        bool stop = false;
        switch (code) {
        case IsCan::NoError: {
            CanFrame frame;
            frame.id = maskedIdentifier(message);
            frame.extended = message.extended != 0;
            frame.rtr = message.remote != 0;
            frame.dlc = std::min<quint8>(message.length, 8);
            std::memcpy(frame.data, message.data, 8);
            frame.timestampUs = elapsedMicros();
            batch.append(frame);
            m_busState = 0;
            break;
        }
        case IsCan::NoMessage:
            stop = true;
            break;
        case IsCan::BufferOverrun:
            m_latchedStatus |= RxQueueOverrun;
            break;
        case IsCan::BusError:
        case IsCan::ErrorWarning:
            m_busState = BusLight;
            m_latchedStatus |= BusLight;
            break;
        case IsCan::BusOff:
            m_busState = BusOff;
            m_latchedStatus |= BusOff;
            break;
        case IsCan::ErrorPassive:
            m_busState = BusHeavy;
            m_latchedStatus |= BusHeavy;
            break;
        case IsCan::ControllerOverrun:
            m_latchedStatus |= ControllerOverrun;
            break;
        case IsCan::BusReset:
            m_busState = 0;
            break;
        case IsCan::DeviceUnplugged:
            // Not "driver not loaded": the driver is there, the adapter is not.
            m_deviceLost = true;
            stop = true;
            break;
        default:
            m_latchedStatus |= DriverNotLoaded;
            stop = true;
            break;
        }
        if (stop)
            break;
    }
    if (!batch.isEmpty())
        enqueue(batch);
}

bool IsCanBackend::write(const CanFrame &frame, QString *error)
{
    if (!checkOpen(error))
        return false;
    IsCan::Message message {};
    message.identifier = frame.id;
    message.extended = frame.extended ? 1 : 0;
    message.remote = frame.rtr ? 1 : 0;
    message.length = std::min<quint8>(frame.dlc, 8);
    std::memcpy(message.data, frame.data, 8);
    uint8_t code;
    {
        std::lock_guard<std::mutex> lock(m_driverLock);
        code = IsCan::Library::instance()->transmitMessageEx(m_device, &message);
    }
    if (code == IsCan::NoError) {
        CanFrame echo = frame;
        echo.tx = true;
        echo.timestampUs = elapsedMicros();
        enqueue(echo);
        return true;
    }
    if (code == IsCan::TransmitBusError || code == IsCan::NoAcknowledge)
        m_latchedStatus |= BusLight;
    // An unplug code from a write is left to the receive side, which alone
    // decides that the adapter is gone: a write must not end the poller.
    if (error)
        *error = IsCan::errorText(code);
    return false;
}

unsigned IsCanBackend::busStatus()
{
    if (!m_opened)
        return 0;
    return m_busState.load() | takeLatchedStatus() | deviceLostBit();
}

bool IsCanBackend::resetHardware(QString *error)
{
    if (!checkOpen(error))
        return false;
    stopReceiving();
    IsCan::Library *library = IsCan::Library::instance();
    bool initialised;
    {
        std::lock_guard<std::mutex> lock(m_driverLock);
        library->closeDevice(m_device);
    }
    {
        std::lock_guard<std::mutex> lock(m_driverLock);
        initialised = initDevice(error);
    }
    if (!initialised) {
        markClosed();
        return false;
    }
    m_busState = 0;
    m_latchedStatus = 0;
    m_deviceLost = false;
    startReceiving();
    return true;
}

void IsCanBackend::close()
{
    if (!m_opened)
        return;
    stopReceiving();
    {
        std::lock_guard<std::mutex> lock(m_driverLock);
        IsCan::Library::instance()->closeDevice(m_device);
    }
    markClosed();
}

void IsCanBackend::markClosed()
{
    --IsCan::Library::instance()->users;
    m_opened = false;
    clearConnection();
}

QList<IsCanDeviceInfo> IsCanBackend::enumerateDevices(const QString &dllPath, int *unconfigured,
                                                      QString *error)
{
    if (unconfigured)
        *unconfigured = 0;
    IsCan::Library *library = IsCan::Library::instance();
    if (!library->load(dllPath, error))
        return {};

    QList<IsCanDeviceInfo> devices;
    QList<quint32> configuredSerials;
    for (int number = 0; number < 16; ++number) {
        IsCan::Configuration configuration {};
        if (library->getDriverConfiguration(uint8_t(number), &configuration) != IsCan::NoError
            || configuration.type == 0)
            continue;
        IsCanDeviceInfo info;
        info.number = number;
        info.typeName = IsCan::deviceTypeName(configuration.type);
        info.serial = configuration.serial;
        info.attached = configuration.attached != 0;
        info.busy = configuration.busy != 0;
        devices.append(info);
        configuredSerials.append(info.serial);
    }

    IsCan::AttachedDevice attached {};
    uint8_t mode = IsCan::AttachedFirst;
    for (int count = 0; count < 64; ++count) {
        if (library->attachedDevices(mode, &attached) != IsCan::NoError)
            break;
        const quint32 serial = attached.serial; // copied out: the record field is unaligned
        if (unconfigured && !configuredSerials.contains(serial))
            ++*unconfigured;
        mode = IsCan::AttachedNext;
    }

    if (devices.isEmpty() && error)
        *error = tr("In der isCAN-Treiberkonfiguration ist kein Gerät eingetragen.");
    return devices;
}

QString IsCanBackend::deviceText(const IsCanDeviceInfo &device)
{
    QStringList details;
    details << tr("Seriennr. %1").arg(QString::number(device.serial, 16).toUpper());
    details << (device.attached ? tr("angeschlossen") : tr("nicht angeschlossen"));
    if (device.busy)
        details << tr("belegt");
    return tr("Nr. %1: %2   —   %3").arg(device.number).arg(device.typeName, details.join(QStringLiteral(", ")));
}

QString IsCanBackend::deviceListInfo(const QList<IsCanDeviceInfo> &devices, int unconfigured,
                                     const QString &message, bool *isError)
{
    QString text;
    bool error;
    if (devices.isEmpty()) {
        text = message;
        error = true;
    } else {
        const auto attached = std::count_if(devices.begin(), devices.end(),
                                            [](const IsCanDeviceInfo &device) { return device.attached; });
        text = tr("%1 Gerät(e) konfiguriert, davon %2 angeschlossen.").arg(devices.size()).arg(attached);
        error = attached == 0;
    }
    if (unconfigured > 0) {
        text += QLatin1Char('\n')
            + tr("%1 angeschlossene(s) Gerät(e) ist/sind nicht in der Treiberkonfiguration eingetragen "
                 "– bitte mit dem isCAN-Konfigurationsprogramm (CANDriverConfig) hinzufügen.")
                  .arg(unconfigured);
    }
    text += QLatin1Char('\n') + tr("Hinweis: isCAN liefert keine Hardware-Zeitstempel und unterstützt kein Listen-Only.");
    if (isError)
        *isError = error;
    return text;
}
