#include "pcanbasicbackend.h"

#include "pcanbasic.h"
#include "platform/monotonicclock.h"
#include "platform/receiveevent.h"

#include <QThread>

#include <cstring>

namespace {

constexpr int MaxReadsPerBurst = 4096;
constexpr int EventWaitMs = 50;
constexpr int PollSleepMs = 2;

// Statuses with which a write still went out: controller overrun, the bus
// warning levels, receive queue overrun, error passive.
constexpr quint32 HarmlessWriteStatus = 0x2 | 0x4 | 0x8 | 0x40 | 0x40000;

PcanBasic::Library *library()
{
    return PcanBasic::Library::instance();
}

quint32 valueOf(quint16 channel, quint8 parameter, bool *ok)
{
    quint32 value = 0;
    *ok = library()->getValue(channel, parameter, &value, sizeof value) == PcanBasic::StatusOk;
    return value;
}

QString hardwareNameOf(quint16 channel)
{
    char buffer[34] = {};
    if (library()->getValue(channel, PcanBasic::ParamHardwareName, buffer, sizeof buffer) != PcanBasic::StatusOk)
        return QString();
    return QString::fromLocal8Bit(buffer, int(qstrnlen(buffer, sizeof buffer)));
}

} // namespace

PcanBasicBackend::PcanBasicBackend(QObject *parent)
    : HardwareBackend(parent)
{
}

PcanBasicBackend::~PcanBasicBackend()
{
    close();
}

bool PcanBasicBackend::open(const ConnectParams &params, QString *error)
{
    if (isOpen())
        close();
    PcanBasic::Library *lib = library();
    if (!lib->load(params.basicDllPath, error))
        return false;
    const quint16 candidate = quint16(params.channel);
    if (params.channel <= 0 || params.channel > 0xFFFF) {
        if (error)
            *error = tr("Kein PCAN-Kanal ausgewählt.");
        return false;
    }
    btr = params.btr > 0 && params.btr <= 0xFFFF ? quint16(params.btr) : quint16(0x001C);
    listenOnly = params.listenOnly;
    errorFrames = params.errorFrames;
    if (!initializeChannel(candidate, error))
        return false;
    channel = candidate;
    ++lib->users;

    m_startMicros = MonotonicClock::nowUs();
    timeBaseSet = false;
    driverOffset = 0;

    const QString hardwareName = hardwareNameOf(channel);
    bool deviceIdRead = false;
    const quint32 deviceId = valueOf(channel, PcanBasic::ParamDeviceId, &deviceIdRead);

    QString details;
    QString hardwareText = hardwareName.trimmed();
    if (deviceIdRead)
        hardwareText += tr(", Geräte-ID %1").arg(deviceId);
    if (!hardwareText.isEmpty())
        details += QStringLiteral(" [%1]").arg(hardwareText);
    if (params.listenOnly)
        details += tr(" (Listen-Only)");
    describeConnection(PcanBasic::channelName(channel), btr, details);

    clearQueue();
    m_stopRequested = false;
    m_latchedStatus = 0;
    m_deviceLost = false;

    startReader(QStringLiteral("PcanBasicReader"), [this] { readLoop(); });
    return true;
}

bool PcanBasicBackend::initializeChannel(quint16 candidate, QString *error)
{
    PcanBasic::Library *lib = library();
    quint32 listenValue = listenOnly ? 1 : 0;
    const quint32 listenStatus = lib->setValue(candidate, PcanBasic::ParamListenOnly, &listenValue, sizeof listenValue);
    if (listenStatus != PcanBasic::StatusOk && listenOnly) {
        if (error)
            *error = tr("Listen-Only-Modus konnte nicht aktiviert werden:\n%1").arg(lib->errorText(listenStatus));
        return false;
    }
    const quint32 initStatus = lib->initialize(candidate, btr, 0, 0, 0);
    if (initStatus != PcanBasic::StatusOk) {
        if (error)
            *error = tr("%1 konnte nicht initialisiert werden:\n%2")
                         .arg(PcanBasic::channelName(candidate), lib->errorText(initStatus));
        return false;
    }

    quint32 on = 1;
    if (errorFrames)
        lib->setValue(candidate, PcanBasic::ParamErrorFrames, &on, sizeof on);
    driverEchoes = lib->setValue(candidate, PcanBasic::ParamEchoFrames, &on, sizeof on) == PcanBasic::StatusOk;

    receiveEvent = std::make_unique<ReceiveEvent>();
    if (receiveEvent->isValid()) {
        quint64 handle = quint64(receiveEvent->nativeHandle());
        if (lib->setValue(candidate, PcanBasic::ParamReceiveEvent, &handle, sizeof handle) != PcanBasic::StatusOk)
            receiveEvent.reset();
    } else {
        receiveEvent.reset();
    }
    return true;
}

void PcanBasicBackend::releaseChannel()
{
    PcanBasic::Library *lib = library();
    if (receiveEvent) {
        quint64 none = 0;
        lib->setValue(channel, PcanBasic::ParamReceiveEvent, &none, sizeof none);
    }
    lib->uninitialize(channel);
    receiveEvent.reset();
}

void PcanBasicBackend::stopReader()
{
    if (!hasReader())
        return;
    m_stopRequested = true;
    if (receiveEvent)
        receiveEvent->set();
    joinReader();
}

void PcanBasicBackend::close()
{
    if (channel == 0)
        return;
    stopReader();
    releaseChannel();
    --library()->users;
    clearConnection();
    channel = 0;
    m_deviceLost = false;
}

bool PcanBasicBackend::isOpen() const
{
    return channel != 0;
}

void PcanBasicBackend::readLoop()
{
    const PcanBasic::ReadFunction read = library()->read;
    QList<CanFrame> batch;
    bool cutOff = false;
    bool gone = false;
    while (!m_stopRequested) {
        // A burst cut off at its limit goes on at once: more is waiting, and
        // the driver signals only new arrivals.
        if (receiveEvent)
            receiveEvent->wait(cutOff ? 0 : EventWaitMs);
        else if (!cutOff)
            QThread::msleep(PollSleepMs);
        if (m_stopRequested)
            break;

        int reads = 0;
        cutOff = false;
        for (; reads < MaxReadsPerBurst; ++reads) {
            PcanBasic::Message message {};
            PcanBasic::Timestamp stamp {};
            const quint32 status = read(channel, &message, &stamp);
            if (status & PcanBasic::StatusReceiveQueueEmpty)
                break;
            if (PcanBasic::isHardwareGone(status)) {
                gone = true;
                break;
            }
            const quint32 mapped = PcanBasic::busStatusBits(status);
            if (status != PcanBasic::StatusOk && !(message.type & PcanBasic::TypeStatus)) {
                m_latchedStatus.fetch_or(mapped);
                break;
            }

            CanFrame frame;
            frame.id = message.id;
            frame.dlc = quint8(qMin<int>(message.length, 8));
            std::memcpy(frame.data, message.data, 8);
            frame.extended = message.type & PcanBasic::TypeExtended;
            frame.rtr = message.type & PcanBasic::TypeRemote;
            frame.error = message.type & PcanBasic::TypeErrorFrame;
            frame.status = message.type & PcanBasic::TypeStatus;
            frame.tx = message.type & PcanBasic::TypeEcho;

            const qint64 driverUs = qint64((quint64(stamp.millisOverflow) << 32) + stamp.millis) * 1000 + stamp.micros;
            if (!timeBaseSet.load(std::memory_order_relaxed)) {
                driverOffset.store(driverUs - MonotonicClock::nowUs(), std::memory_order_relaxed);
                timeBaseSet.store(true, std::memory_order_relaxed);
            }
            const qint64 stampUs = driverUs - driverOffset.load(std::memory_order_relaxed) - m_startMicros;
            frame.timestampUs = stampUs < 0 ? 0 : stampUs;

            if (frame.status)
                m_latchedStatus.fetch_or(mapped);
            batch.append(frame);
        }
        cutOff = reads == MaxReadsPerBurst;
        if (!batch.isEmpty()) {
            enqueue(batch);
            batch.clear();
        }
        // Nothing more will come from a vanished adapter: only a reset, which
        // initialises the channel anew and starts another reader, brings
        // frames again.
        if (gone) {
            m_deviceLost = true;
            break;
        }
    }
}

bool PcanBasicBackend::write(const CanFrame &frame, QString *error)
{
    if (!checkOpen(error))
        return false;
    PcanBasic::Message message {};
    message.id = frame.id;
    message.type = quint8((frame.extended ? PcanBasic::TypeExtended : 0) | (frame.rtr ? PcanBasic::TypeRemote : 0));
    message.length = quint8(qMin<int>(frame.dlc, 8));
    std::memcpy(message.data, frame.data, 8);
    const quint32 status = library()->write(channel, &message);
    // A failed write says nothing about the reader: a driver may refuse one
    // frame with a hardware status while reception goes on.
    if (status & ~HarmlessWriteStatus) {
        if (error)
            *error = library()->errorText(status);
        return false;
    }
    if (!driverEchoes) {
        CanFrame echo = frame;
        echo.tx = true;
        echo.timestampUs = elapsedMicros();
        enqueue(echo);
    }
    return true;
}

unsigned PcanBasicBackend::busStatus()
{
    if (!isOpen())
        return 0;
    const quint32 taken = takeLatchedStatus();
    // Only the reader's own read decides that the adapter is gone.
    const quint32 status = library()->getStatus(channel);
    return PcanBasic::busStatusBits(status) | taken | deviceLostBit();
}

bool PcanBasicBackend::resetHardware(QString *error)
{
    if (!checkOpen(error))
        return false;
    if (m_deviceLost)
        return reinitialize(error);
    const quint32 status = library()->reset(channel);
    if (status != PcanBasic::StatusOk) {
        if (error)
            *error = library()->errorText(status);
        return false;
    }
    m_latchedStatus = 0;
    return true;
}

// After the adapter was lost the driver no longer knows the channel: a
// CAN_Reset would report success without bringing a frame. So the channel is
// released and initialised again with the settings of the open, and a new
// reader starts. When that fails the backend is closed.
bool PcanBasicBackend::reinitialize(QString *error)
{
    stopReader();
    releaseChannel();
    QString reason;
    if (!initializeChannel(channel, &reason)) {
        if (error) {
            *error = tr("%1 konnte nicht wieder in Betrieb genommen werden (Adapter eingesteckt?).\n%2")
                         .arg(PcanBasic::channelName(channel), reason);
        }
        --library()->users;
        clearConnection();
        channel = 0;
        m_deviceLost = false;
        return false;
    }
    timeBaseSet = false;
    m_stopRequested = false;
    m_latchedStatus = 0;
    m_deviceLost = false;
    startReader(QStringLiteral("PcanBasicReader"), [this] { readLoop(); });
    return true;
}

QList<PcanBasicChannelInfo> PcanBasicBackend::enumerateChannels(const QString &dllPath, QString *error)
{
    QList<PcanBasicChannelInfo> channels;
    PcanBasic::Library *lib = library();
    if (!lib->load(dllPath, error))
        return channels;
    const QString noneFound =
        tr("Keine PCAN-Hardware gefunden (PCAN-USB/-PCI/-LAN angeschlossen und PEAK-Gerätetreiber installiert?).");

    bool counted = false;
    const quint32 count = valueOf(0, PcanBasic::ParamAttachedChannelCount, &counted);
    if (counted && count == 0) {
        if (error)
            *error = noneFound;
        return channels;
    }
    // A count beyond any real installation is a confused driver, not a
    // reason to allocate its product: fall back to probing.
    if (counted && count <= 4096) {
        QByteArray buffer(int(count) * int(sizeof(PcanBasic::ChannelInformation)), '\0');
        if (lib->getValue(0, PcanBasic::ParamAttachedChannels, buffer.data(), quint32(buffer.size()))
            == PcanBasic::StatusOk) {
            for (quint32 i = 0; i < count; ++i) {
                PcanBasic::ChannelInformation record;
                std::memcpy(&record, buffer.constData() + i * sizeof record, sizeof record);
                PcanBasicChannelInfo info;
                info.handle = record.handle;
                info.name = PcanBasic::channelName(record.handle);
                info.hardwareName = QString::fromLocal8Bit(record.deviceName,
                                                           int(qstrnlen(record.deviceName, sizeof record.deviceName)));
                info.deviceId = int(record.deviceId);
                info.controllerNumber = record.controllerNumber;
                info.fdCapable = record.deviceFeatures & 1;
                info.condition = record.condition;
                channels.append(info);
            }
            return channels;
        }
    }

    // Older libraries: probe the fixed handles.
    const struct { quint16 first, last; } ranges[] = {
        {0x51, 0x58}, {0x509, 0x510}, {0x41, 0x48}, {0x409, 0x410}, {0x801, 0x810},
    };
    for (const auto &range : ranges) {
        for (quint16 handle = range.first; handle <= range.last; ++handle) {
            bool ok = false;
            const quint32 condition = valueOf(handle, PcanBasic::ParamChannelCondition, &ok);
            if (!ok || !(condition & 0x3))
                continue;
            PcanBasicChannelInfo info;
            info.handle = handle;
            info.name = PcanBasic::channelName(handle);
            info.hardwareName = hardwareNameOf(handle);
            info.condition = condition;
            channels.append(info);
        }
    }
    if (channels.isEmpty() && error)
        *error = noneFound;
    return channels;
}

QString PcanBasicBackend::channelText(const PcanBasicChannelInfo &info)
{
    QStringList details;
    if (!info.hardwareName.isEmpty())
        details << info.hardwareName;
    if (info.deviceId >= 0)
        details << tr("Geräte-ID %1").arg(info.deviceId);
    if (info.fdCapable)
        details << QStringLiteral("FD");
    if (info.condition & 0x2)
        details << tr("belegt");
    if (details.isEmpty())
        return info.name;
    return info.name + QStringLiteral("   \u2014   ") + details.join(QStringLiteral(", "));
}
