#include "socketcanmessages.h"

#include "canbackend.h"

#include <cstring>
#include <limits>
#include <ctime>

#include <linux/can.h>
#include <linux/can/error.h>
#include <sys/socket.h>

namespace {

// A stamp outside what a clock can give (negative, beyond the year 2250)
// counts as no stamp.
qint64 nanosOf(const timespec &ts)
{
    if (ts.tv_sec < 0 || ts.tv_sec >= 9000000000 || ts.tv_nsec < 0 || ts.tv_nsec >= 1000000000)
        return 0;
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Differences of stamps from two clocks: saturated instead of wrapping.
qint64 minus(qint64 a, qint64 b)
{
    qint64 difference;
    if (__builtin_sub_overflow(a, b, &difference))
        return b > 0 ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
    return difference;
}

qint64 realtimeNowNs()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return nanosOf(now);
}

// Copies `size` bytes of a control message's data, or returns false when the
// message is shorter or reaches past the buffer: a short one is ignored
// rather than read beyond its end.
bool payload(const msghdr &header, const cmsghdr *control, void *out, size_t size)
{
    if (control->cmsg_len < CMSG_LEN(size))
        return false;
    const auto *data = reinterpret_cast<const char *>(CMSG_DATA(control));
    const auto *end = static_cast<const char *>(header.msg_control) + header.msg_controllen;
    if (data + size > end)
        return false;
    std::memcpy(out, data, size);
    return true;
}

} // namespace

void SocketCanMessages::reset(qint64 openRealNs, bool errorFrames, unsigned busState)
{
    m_openRealNs = openRealNs;
    m_errorFrames = errorFrames;
    m_hardwareOffsetNs = 0;
    m_hardwareOffsetSet = false;
    m_lastDrops = 0;
    m_latched = 0;
    m_busState = busState;
}

unsigned SocketCanMessages::takeLatched()
{
    const unsigned bits = m_latched;
    m_latched = 0;
    return bits;
}

SocketCanMessages::Kind SocketCanMessages::take(const msghdr &header, unsigned length, const canfd_frame &raw,
                                                CanFrame *frame)
{
    qint64 softwareNs = 0;
    qint64 hardwareNs = 0;
    for (cmsghdr *control = CMSG_FIRSTHDR(&header); control;
         control = CMSG_NXTHDR(const_cast<msghdr *>(&header), control)) {
        if (control->cmsg_level != SOL_SOCKET)
            continue;
        if (control->cmsg_type == SO_TIMESTAMPNS) {
            timespec stamp {};
            if (payload(header, control, &stamp, sizeof stamp))
                softwareNs = nanosOf(stamp);
        } else if (control->cmsg_type == SO_TIMESTAMPING) {
            timespec stamps[3] = {};
            if (payload(header, control, stamps, sizeof stamps)) {
                if (!softwareNs)
                    softwareNs = nanosOf(stamps[0]);
                hardwareNs = nanosOf(stamps[2]);
            }
        } else if (control->cmsg_type == SO_RXQ_OVFL) {
            quint32 drops = 0;
            // The counter only grows; a rise means the kernel dropped frames.
            if (payload(header, control, &drops, sizeof drops) && drops != m_lastDrops) {
                m_lastDrops = drops;
                m_latched |= CanBackend::RxQueueOverrun;
            }
        }
    }

    if (length == CANFD_MTU)
        return FdFrame;
    if (length != CAN_MTU)
        return Nothing;

    CanFrame converted;
    if (raw.can_id & CAN_ERR_FLAG) {
        takeErrorFrame(raw.can_id, raw.data);
        if (!m_errorFrames)
            return Nothing;
        converted.error = true;
        converted.id = raw.can_id & CAN_ERR_MASK;
    } else if (raw.can_id & CAN_EFF_FLAG) {
        converted.extended = true;
        converted.id = raw.can_id & CAN_EFF_MASK;
    } else {
        converted.id = raw.can_id & CAN_SFF_MASK;
    }
    converted.rtr = !converted.error && (raw.can_id & CAN_RTR_FLAG);
    converted.dlc = quint8(qMin<int>(raw.len, 8));
    std::memcpy(converted.data, raw.data, 8);
    converted.tx = header.msg_flags & MSG_CONFIRM;
    converted.timestampUs = stampOf(softwareNs, hardwareNs);
    *frame = converted;
    return Frame;
}

void SocketCanMessages::takeErrorFrame(quint32 canId, const quint8 *data)
{
    if (canId & CAN_ERR_BUSOFF) {
        m_busState = CanBackend::BusOff;
    } else if (canId & CAN_ERR_RESTARTED) {
        m_busState = 0;
    } else if (canId & CAN_ERR_CRTL) {
        const quint8 controller = data[1];
        if (controller & (CAN_ERR_CRTL_RX_OVERFLOW | CAN_ERR_CRTL_TX_OVERFLOW))
            m_latched |= CanBackend::ControllerOverrun;
        // The kernel reports each change with the new state's bits, going up
        // as well as down; "active" is the way back to no state bit.
        if (controller & (CAN_ERR_CRTL_RX_PASSIVE | CAN_ERR_CRTL_TX_PASSIVE))
            m_busState = CanBackend::BusHeavy;
        else if (controller & (CAN_ERR_CRTL_RX_WARNING | CAN_ERR_CRTL_TX_WARNING))
            m_busState = CanBackend::BusLight;
        else if (controller & CAN_ERR_CRTL_ACTIVE)
            m_busState = 0;
    }
}

qint64 SocketCanMessages::stampOf(qint64 softwareNs, qint64 hardwareNs)
{
    qint64 ns;
    if (hardwareNs) {
        // The adapter's clock has its own zero: the first stamp is tied to the
        // system clock, later ones keep the adapter's spacing.
        if (!m_hardwareOffsetSet) {
            m_hardwareOffsetNs = minus(hardwareNs, softwareNs ? softwareNs : realtimeNowNs());
            m_hardwareOffsetSet = true;
        }
        ns = minus(hardwareNs, m_hardwareOffsetNs);
    } else if (softwareNs) {
        ns = softwareNs;
    } else {
        return -1;
    }
    const qint64 us = minus(ns, m_openRealNs) / 1000;
    return us < 0 ? 0 : us;
}
