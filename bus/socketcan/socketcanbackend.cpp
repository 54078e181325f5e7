#include "socketcanbackend.h"

#include "bitrates.h"
#include "platform/monotonicclock.h"
#include "socketcan.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include <linux/can.h>
#include <linux/can/raw.h>
#include <linux/net_tstamp.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#ifdef BUSVISTA_LIBSOCKETCAN
#include <libsocketcan.h>
#endif

namespace {

// Room for SO_TIMESTAMPNS, SO_TIMESTAMPING (three stamps) and SO_RXQ_OVFL.
constexpr size_t ControlBytes = CMSG_SPACE(sizeof(timespec)) + CMSG_SPACE(3 * sizeof(timespec))
    + CMSG_SPACE(sizeof(quint32)) + 64;
// A busy bus is drained in up to this many recvmmsg() calls per wake-up and
// handed over in one enqueue().
constexpr int MaxBatchesPerWake = 64;

qint64 realtimeNowNs()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool isGone(int error)
{
    return error == ENETDOWN || error == ENODEV || error == ENXIO;
}

bool isQueueFull(int error)
{
    return error == ENOBUFS || error == EAGAIN || error == EWOULDBLOCK;
}

// How long a write waits for room in the interface's transmit queue (about
// 10 frames); a bus that frees no place in this time takes nothing (nobody
// acknowledges, bus-off). After such a wait the next writes wait only
// briefly, until one goes out again.
constexpr qint64 RoomWaitUs = 300000;
constexpr qint64 StalledRoomWaitUs = 20000;
// poll() slices: the time left is checked between them.
constexpr int RoomPollSliceMs = 50;
constexpr int MaxBackoffMs = 8;

// The status bits of a controller state that netlink reported.
unsigned busStateOf(int state)
{
    switch (state) {
    case SocketCan::StateBusOff:
        return CanBackend::BusOff;
    case SocketCan::StateErrorPassive:
        return CanBackend::BusHeavy;
    case SocketCan::StateErrorWarning:
        return CanBackend::BusLight;
    default:
        return 0;
    }
}

void enable(int fd, int level, int option, int value = 1)
{
    ::setsockopt(fd, level, option, &value, sizeof value);
}

} // namespace

struct SocketCanBackend::Batch
{
    mmsghdr headers[BatchSize];
    iovec vectors[BatchSize];
    canfd_frame frames[BatchSize];
    alignas(cmsghdr) char control[BatchSize][ControlBytes];

    void prepare()
    {
        for (int i = 0; i < BatchSize; ++i) {
            vectors[i].iov_base = &frames[i];
            vectors[i].iov_len = sizeof frames[i];
            msghdr &header = headers[i].msg_hdr;
            header = msghdr {};
            header.msg_iov = &vectors[i];
            header.msg_iovlen = 1;
            header.msg_control = control[i];
            header.msg_controllen = ControlBytes;
            headers[i].msg_len = 0;
        }
    }
};

SocketCanBackend::SocketCanBackend(QObject *parent)
    : HardwareBackend(parent)
{
}

SocketCanBackend::~SocketCanBackend()
{
    close();
}

bool SocketCanBackend::open(const ConnectParams &params, QString *error)
{
    if (isOpen())
        close();
    const QString name = params.socketCanInterface.trimmed();
    if (name.isEmpty()) {
        if (error)
            *error = tr("Keine SocketCAN-Schnittstelle ausgewählt.");
        return false;
    }
    m_name = name;
    m_localName = name.toLocal8Bit();
    if (m_localName.size() >= IFNAMSIZ) {
        if (error)
            *error = tr("Der Schnittstellenname %1 ist zu lang (höchstens %2 Zeichen).").arg(name).arg(IFNAMSIZ - 1);
        return false;
    }
    m_listenOnly = params.listenOnly;

    // The hint for a down interface names the bit rate chosen in the dialog.
    const quint16 btr = params.btr > 0 && params.btr <= 0xFFFF ? quint16(params.btr) : quint16(0x001C);
    m_wantedBitrate = bitrateOfBtr(btr);
    // Without its wake event the reader could not be stopped.
    if (!m_wake)
        m_wake = std::make_unique<ReceiveEvent>();
    if (!m_wake->isValid()) {
        m_wake.reset();
        if (error)
            *error = tr("Der Empfangs-Thread kann nicht eingerichtet werden (kein eventfd).");
        return false;
    }
    if (!openSocket(error))
        return false;

    m_startMicros = MonotonicClock::nowUs();
    m_fdSkipped = 0;
    m_fdReported = 0;
    m_txStalled = false;

    quint32 bitrate = 0;
    int state = SocketCan::StateUnknown;
    SocketCan::queryController(name, &bitrate, &state);
    m_messages.reset(realtimeNowNs(), params.errorFrames, busStateOf(state));
    QString text = bitrate > 0 ? QStringLiteral("%1 @ %2").arg(name, SocketCan::bitrateText(bitrate)) : name;
    if (m_listenOnly)
        text += tr(" (Listen-Only)");
    describeConnection(text, bitrate);

    clearQueue();
    m_latchedStatus = 0;
    m_deviceLost = false;
    m_open = true;
    startReceiving();
    return true;
}

bool SocketCanBackend::openSocket(QString *error)
{
    auto fail = [&](const QString &message) {
        if (error)
            *error = message;
        closeSocket();
        return false;
    };
    m_fd = ::socket(PF_CAN, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, CAN_RAW);
    if (m_fd < 0) {
        const int code = errno;
        if (code == EAFNOSUPPORT || code == EPROTONOSUPPORT || code == ESOCKTNOSUPPORT)
            return fail(SocketCan::notAvailableText());
        return fail(tr("CAN-Socket konnte nicht angelegt werden: %1").arg(QString::fromLocal8Bit(strerror(code))));
    }

    ifreq request {};
    std::memcpy(request.ifr_name, m_localName.constData(), size_t(m_localName.size()));
    if (::ioctl(m_fd, SIOCGIFINDEX, &request) < 0)
        return fail(tr("Die CAN-Schnittstelle %1 gibt es nicht.").arg(m_name));
    const int index = request.ifr_ifindex;
    // The kernel lets a socket bind to a down interface, but nothing would
    // arrive and every write would fail: say what to do instead.
    if (::ioctl(m_fd, SIOCGIFFLAGS, &request) == 0 && !(request.ifr_flags & IFF_UP))
        return fail(SocketCan::bringUpHint(m_name, m_wantedBitrate));

    // The kernel's echo of our own frames is the transmit echo.
    int on = 1;
    m_kernelEchoes = ::setsockopt(m_fd, SOL_CAN_RAW, CAN_RAW_RECV_OWN_MSGS, &on, sizeof on) == 0;
    // Error frames always: the status follows the controller.
    can_err_mask_t errorMask = CAN_ERR_MASK;
    ::setsockopt(m_fd, SOL_CAN_RAW, CAN_RAW_ERR_FILTER, &errorMask, sizeof errorMask);
    // FD frames are received only to be counted and skipped.
    enable(m_fd, SOL_CAN_RAW, CAN_RAW_FD_FRAMES);
    enable(m_fd, SOL_SOCKET, SO_TIMESTAMPNS);
    enable(m_fd, SOL_SOCKET, SO_TIMESTAMPING,
           SOF_TIMESTAMPING_RX_HARDWARE | SOF_TIMESTAMPING_RAW_HARDWARE | SOF_TIMESTAMPING_RX_SOFTWARE
               | SOF_TIMESTAMPING_SOFTWARE);
    enable(m_fd, SOL_SOCKET, SO_RXQ_OVFL);

    sockaddr_can address {};
    address.can_family = AF_CAN;
    address.can_ifindex = index;
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) < 0) {
        const int code = errno;
        if (isGone(code))
            return fail(SocketCan::bringUpHint(m_name, m_wantedBitrate));
        return fail(tr("Die CAN-Schnittstelle %1 konnte nicht geöffnet werden: %2")
                        .arg(m_name, QString::fromLocal8Bit(strerror(code))));
    }
    return true;
}

void SocketCanBackend::closeSocket()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void SocketCanBackend::startReceiving()
{
    if (!m_batch)
        m_batch = std::make_unique<Batch>();
    m_stopRequested = false;
    startReader(QStringLiteral("SocketCanReader"), [this] { readLoop(); });
}

void SocketCanBackend::stopReceiving()
{
    if (!hasReader())
        return;
    m_stopRequested = true;
    m_wake->set();
    joinReader();
    // A set left over from this stop must not end the next reader at once.
    m_wake->wait(0);
}

void SocketCanBackend::close()
{
    if (!m_open)
        return;
    stopReceiving();
    closeSocket();
    clearConnection();
    m_open = false;
    m_deviceLost = false;
    m_messages.setBusState(0);
}

bool SocketCanBackend::isOpen() const
{
    return m_open;
}

void SocketCanBackend::readLoop()
{
    pollfd watched[2] = {};
    watched[0].fd = m_fd;
    watched[0].events = POLLIN;
    watched[1].fd = int(m_wake->nativeHandle());
    watched[1].events = POLLIN;
    Batch &batch = *m_batch;
    QList<CanFrame> frames;
    bool gone = false;
    while (!m_stopRequested.load()) {
        watched[0].revents = watched[1].revents = 0;
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (watched[1].revents)
            break;
        // POLLERR too: the pending socket error (ENETDOWN) comes out of recvmmsg.
        if (!watched[0].revents)
            continue;
        // The kernel reports a pending error ahead of the frames still queued
        // and clears it: after ENETDOWN/ENODEV the queue is read to its end.
        bool more = false;
        for (int round = 0; round < MaxBatchesPerWake; ++round) {
            batch.prepare();
            const int count = ::recvmmsg(m_fd, batch.headers, BatchSize, MSG_DONTWAIT, nullptr);
            if (count < 0) {
                const int code = errno;
                if (isGone(code) && !gone) {
                    gone = true;
                    more = true;
                    continue;
                }
                if (!isGone(code) && code != EAGAIN && code != EWOULDBLOCK && code != EINTR)
                    m_latchedStatus.fetch_or(RxQueueOverrun);
                more = false;
                break;
            }
            takeMessages(batch, count, &frames);
            more = count == BatchSize;
            if (!more)
                break;
        }
        // Before anything else: what was read stays, even when the bus is gone.
        if (!frames.isEmpty()) {
            enqueue(frames);
            frames.clear();
        }
        if (gone && !more)
            break;
    }
    if (gone)
        m_deviceLost = true;
}

void SocketCanBackend::takeMessages(const Batch &batch, int count, QList<CanFrame> *frames)
{
    for (int i = 0; i < count; ++i) {
        CanFrame frame;
        switch (m_messages.take(batch.headers[i].msg_hdr, batch.headers[i].msg_len, batch.frames[i], &frame)) {
        case SocketCanMessages::Frame:
            if (frame.timestampUs < 0)
                frame.timestampUs = elapsedMicros();
            frames->append(frame);
            break;
        case SocketCanMessages::FdFrame:
            m_fdSkipped.fetch_add(1, std::memory_order_relaxed);
            break;
        case SocketCanMessages::Nothing:
            break;
        }
    }
    if (const unsigned latched = m_messages.takeLatched())
        m_latchedStatus.fetch_or(latched);
}

bool SocketCanBackend::write(const CanFrame &frame, QString *error)
{
    if (!checkOpen(error))
        return false;
    if (m_listenOnly) {
        if (error)
            *error = tr("Im Listen-Only-Modus sendet Busvista nicht.");
        return false;
    }
    if (m_fd < 0 || m_deviceLost) {
        if (error)
            *error = tr("Die CAN-Schnittstelle %1 ist nicht mehr verfügbar.").arg(m_name);
        return false;
    }
    can_frame raw {};
    raw.can_id = frame.extended ? ((frame.id & CAN_EFF_MASK) | CAN_EFF_FLAG) : (frame.id & CAN_SFF_MASK);
    if (frame.rtr)
        raw.can_id |= CAN_RTR_FLAG;
    raw.len = quint8(qMin<int>(frame.dlc, 8));
    std::memcpy(raw.data, frame.data, 8);
    int code = 0;
    if (sendWaitingForRoom(raw, &code)) {
        if (!m_kernelEchoes) {
            CanFrame echo = frame;
            echo.tx = true;
            echo.error = echo.status = false;
            echo.timestampUs = elapsedMicros();
            enqueue(echo);
        }
        return true;
    }
    if (isQueueFull(code)) {
        m_latchedStatus.fetch_or(TxBufferFull);
        if (error)
            *error = tr("%1: Die Sendewarteschlange von %2 wurde nicht frei (bestätigt kein anderer Teilnehmer, oder Bus-Off?).")
                         .arg(statusText(TxBufferFull), m_name);
        return false;
    }
    if (isGone(code)) {
        m_deviceLost = true;
        if (error)
            *error = tr("Die CAN-Schnittstelle %1 ist nicht mehr verfügbar.").arg(m_name);
        return false;
    }
    if (error)
        *error = tr("Senden auf %1 fehlgeschlagen: %2").arg(m_name, QString::fromLocal8Bit(strerror(code)));
    return false;
}

bool SocketCanBackend::sendWaitingForRoom(const can_frame &raw, int *code)
{
    const qint64 deadline = MonotonicClock::nowUs() + (m_txStalled.load() ? StalledRoomWaitUs : RoomWaitUs);
    // Many drivers report POLLOUT while their queue is still full (the socket's
    // own buffer has room): once poll said so and the write failed anyway,
    // only waiting helps.
    bool pollSaidRoom = false;
    bool pollUnreliable = false;
    int backoffMs = 1;
    for (;;) {
        const ssize_t written = ::write(m_fd, &raw, sizeof raw);
        if (written == ssize_t(sizeof raw)) {
            m_txStalled = false;
            return true;
        }
        *code = written < 0 ? errno : EIO;
        if (*code == EINTR)
            continue;
        if (!isQueueFull(*code))
            return false;
        const qint64 leftUs = deadline - MonotonicClock::nowUs();
        if (leftUs <= 0) {
            m_txStalled = true;
            return false;
        }
        const int leftMs = int(qMin<qint64>((leftUs + 999) / 1000, RoomPollSliceMs));
        if (pollSaidRoom)
            pollUnreliable = true;
        if (pollUnreliable) {
            ::poll(nullptr, 0, qMin(backoffMs, leftMs));
            backoffMs = qMin(backoffMs * 2, MaxBackoffMs);
            continue;
        }
        pollfd room {};
        room.fd = m_fd;
        room.events = POLLOUT;
        pollSaidRoom = ::poll(&room, 1, leftMs) > 0 && (room.revents & POLLOUT);
    }
}

unsigned SocketCanBackend::busStatus()
{
    if (!isOpen())
        return 0;
    const qint64 skipped = m_fdSkipped.load();
    if (skipped != m_fdReported) {
        m_fdReported = skipped;
        emit notice(tr("%1 CAN-FD-Frames übersprungen: Busvista zeigt nur klassische CAN-Frames.").arg(skipped));
    }
    return m_messages.busState() | takeLatchedStatus() | deviceLostBit();
}

bool SocketCanBackend::resetHardware(QString *error)
{
    if (!checkOpen(error))
        return false;
    // A controller in bus-off stays there through a reopen: it needs a restart
    // by netlink first. Refused, nothing changes and the reader goes on.
    if (!m_deviceLost && (m_messages.busState() & BusOff) && !restartController(error))
        return false;
    stopReceiving();
    closeSocket();
    if (!openSocket(error)) {
        // Stays open in the lost state, so the user can try again.
        m_deviceLost = true;
        return false;
    }
    // The state as the controller has it now, not as it was assumed.
    quint32 bitrate = 0;
    int state = SocketCan::StateUnknown;
    SocketCan::queryController(m_name, &bitrate, &state);
    m_messages.setBusState(busStateOf(state));
    m_latchedStatus = 0;
    m_deviceLost = false;
    startReceiving();
    if (state == SocketCan::StateBusOff) {
        if (error)
            *error = tr("Der CAN-Controller von %1 ist nach dem Neustart wieder im Bus-Off. Verkabelung, "
                        "Abschlusswiderstände und Bitrate prüfen.").arg(m_name);
        return false;
    }
    return true;
}

bool SocketCanBackend::restartController(QString *error)
{
    quint32 bitrate = 0;
    int state = SocketCan::StateUnknown;
    SocketCan::queryController(m_name, &bitrate, &state);
    // Restarted meanwhile (restart-ms, or by hand): the reopen is all there is.
    if (state != SocketCan::StateUnknown && state != SocketCan::StateBusOff)
        return true;
    QString reason;
#ifdef BUSVISTA_LIBSOCKETCAN
    if (can_do_restart(m_localName.constData()) == 0)
        return true;
    const int code = errno;
    reason = code == EPERM || code == EACCES
        ? tr("dazu fehlen Busvista die Rechte (CAP_NET_ADMIN)")
        : QString::fromLocal8Bit(strerror(code));
#else
    reason = tr("Busvista wurde ohne libsocketcan gebaut");
#endif
    if (error) {
        *error = tr("Der CAN-Controller von %1 ist im Bus-Off und konnte nicht neu gestartet werden: %2.\n"
                    "Als root neu starten mit:\nip link set %1 type can restart\n"
                    "oder den Kernel nach einem Bus-Off selbst neu starten lassen:\n"
                    "ip link set %1 down && ip link set %1 up type can restart-ms 100")
                     .arg(m_name, reason);
    }
    return false;
}
