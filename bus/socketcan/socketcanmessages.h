#pragma once

#include "canframe.h"

#include <atomic>

struct msghdr;
struct canfd_frame;

// What one message read from a raw CAN socket means: a frame for the
// trace, a change of the controller's state, a kernel drop count, or a CAN
// FD frame to skip. Kept apart from the socket so that any bytes a kernel
// (or a faulty driver) could hand over can be fed to it in tests and fuzzing.
//
// Threads: take() and reset() belong to the reader thread (reset() also to
// the GUI thread while no reader runs); busState() may be read from any.
class SocketCanMessages
{
public:
    enum Kind {
        Frame,    // *frame is filled
        FdFrame,  // a CAN FD frame: counted and skipped by the caller
        Nothing   // a state change only, or nothing usable
    };

    // openRealNs: CLOCK_REALTIME at open, the zero of the frames' time stamps.
    void reset(qint64 openRealNs, bool errorFrames, unsigned busState = 0);

    // `length` is what recvmmsg() reported for the message, `raw` the bytes
    // it filled (at least sizeof(canfd_frame) must be readable). A frame
    // without any kernel time stamp gets timestampUs = -1: the caller stamps it.
    Kind take(const msghdr &header, unsigned length, const canfd_frame &raw, CanFrame *frame);

    // 0, BusLight, BusHeavy or BusOff: kept until the controller reports another.
    unsigned busState() const { return m_busState.load(); }
    void setBusState(unsigned state) { m_busState = state; }
    // Overrun bits seen since the last call.
    unsigned takeLatched();

private:
    void takeErrorFrame(quint32 canId, const quint8 *data);
    qint64 stampOf(qint64 softwareNs, qint64 hardwareNs);

    qint64 m_openRealNs = 0;
    bool m_errorFrames = false;
    qint64 m_hardwareOffsetNs = 0;  // hardware clock minus system clock
    bool m_hardwareOffsetSet = false;
    quint32 m_lastDrops = 0;        // the kernel's SO_RXQ_OVFL counter
    unsigned m_latched = 0;
    std::atomic<unsigned> m_busState {0};
};
