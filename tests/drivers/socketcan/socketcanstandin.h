#pragma once

// Control interface of the SocketCAN stand-in: a small user-space "kernel"
// that answers the CAN socket calls of the program (socket, bind, ioctl,
// setsockopt, recvmmsg/recvmsg, write, poll, close) for the interfaces a test
// declares, and passes every other descriptor through to the real calls.
// Linked into a test executable its definitions take the place of the C
// library's; as libsocketcan_standin.so it is preloaded into busvista-cli.

#include <linux/can.h>

#include <cstdint>

extern "C" {

// Forgets every interface and counter; CAN sockets are available again.
void CanStandIn_Reset();
// Directory in which interfaces appear as in /sys/class/net (created).
void CanStandIn_SetSysfsDir(const char *path);
// 0: socket(PF_CAN, ...) fails with EAFNOSUPPORT, as on a kernel without CAN.
void CanStandIn_SetAvailable(int on);

// A CAN interface; bitrate 0 and state -1 when netlink should report nothing.
void CanStandIn_AddInterface(const char *name, int up, uint32_t bitrate, int state);
// Down: bound sockets get ENETDOWN, reported by the next receive call ahead
// of the frames still queued (as the kernel does). Up again: they stay as they are.
void CanStandIn_SetUp(const char *name, int up);
// The interface disappears (adapter unplugged): bound sockets get ENODEV.
void CanStandIn_Remove(const char *name);

// Frames arriving on an interface, for every socket bound to it. A stamp of
// 0 is "now" on the system clock; hardwareNs 0 means no hardware stamp.
void CanStandIn_Inject(const char *name, const struct can_frame *frame, int64_t softwareNs, int64_t hardwareNs);
// count frames with `id`, the 32-bit number first, first + 1, ... in data
// bytes 0..3 (little-endian), stamps softwareNs + i * stepNs. Returns count.
uint32_t CanStandIn_InjectNumbered(const char *name, uint32_t id, uint32_t first, uint32_t count,
                                   int64_t softwareNs, int64_t stepNs);
void CanStandIn_InjectFd(const char *name, uint32_t id, uint8_t length);
// 1: what arrives from now on does not wake the sockets' readers (they find
// it only on their next wake-up); 0: wakes them for all that waits. Lets a
// test queue frames and an error as one event.
void CanStandIn_Hold(int on);
// The kernel's SO_RXQ_OVFL counter carried by frames from now on.
void CanStandIn_SetDrops(const char *name, uint32_t drops);
// Writes on the interface fail with this errno (0: they succeed).
void CanStandIn_SetWriteError(const char *name, int error);

// Transmit queue of an interface: `length` frames (10 at first), one leaving
// every periodUs (at first about 128 bit times of the bit rate; 0: at once,
// as vcan; -1: never, as on a bus where nobody acknowledges). A write into a
// full queue fails with `error` (ENOBUFS at first, or EAGAIN); pollHonest 0
// makes poll() report POLLOUT while the queue is full, as some drivers do.
void CanStandIn_SetTxQueue(const char *name, int length, int64_t periodUs);
void CanStandIn_SetTxFull(const char *name, int error, int pollHonest);
// Writes refused because the transmit queue was full.
uint64_t CanStandIn_TxRefused(const char *name);

// The controller state that netlink reports (can_get_state), and what
// can_do_restart does: fail with `error` (EPERM at first, as without
// CAP_NET_ADMIN; 0: allowed), else restart a controller in bus-off into
// `stateAfter` (EBUSY when it is not in bus-off). Restarts done so far.
void CanStandIn_SetState(const char *name, int kernelState);
void CanStandIn_SetRestart(const char *name, int error, int stateAfter);
uint64_t CanStandIn_Restarts(const char *name);

// Frames written by the program on the interface so far, and the last one.
uint64_t CanStandIn_Written(const char *name);
int CanStandIn_LastWritten(const char *name, struct can_frame *frame);
// CAN sockets open now; records waiting in them.
int CanStandIn_OpenSockets();
uint64_t CanStandIn_Queued();
// An option that the last bound socket set: "recv_own_msgs", "err_filter"
// (the mask), "fd_frames", "timestampns", "timestamping", "rxq_ovfl";
// -1 when never set.
int64_t CanStandIn_Option(const char *what);
// Calls of recvmmsg on CAN sockets that returned at least one message.
uint64_t CanStandIn_ReceiveCalls();
// Messages (frames and echoes) that recvmmsg/recvmsg handed out.
uint64_t CanStandIn_HandedOut();
}
