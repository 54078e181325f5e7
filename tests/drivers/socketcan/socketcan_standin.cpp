// A user-space stand-in for the kernel's CAN sockets (see socketcanstandin.h).
//
// A CAN socket is an eventfd here: it is readable exactly while records wait
// in its queue or a socket error is pending, so the program's poll() runs on
// the real kernel. The records are what the kernel would hand out: a classic
// or FD frame with its flags (MSG_CONFIRM for the echo of an own frame), its
// time stamps and the drop counter. A pending error (ENETDOWN, ENODEV) is, as
// in the kernel, reported by the next receive call ahead of the records still
// queued, which stay readable after it.
//
// Sending goes through the interface's transmit queue (10 frames, as the
// kernel's default txqueuelen), which drains one frame per frame time of the
// bit rate; a write into a full queue fails with ENOBUFS. poll() is answered
// here for CAN sockets asked for POLLOUT: ready while the queue has room.
#include "socketcanstandin.h"

#include <linux/can/error.h>
#include <linux/can/netlink.h>
#include <linux/can/raw.h>
#include <linux/net_tstamp.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <limits>
#include <vector>
#include <dlfcn.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Interface
{
    int index = 0;
    bool up = true;
    uint32_t bitrate = 0;
    int state = -1;
    uint32_t drops = 0;
    int writeError = 0;
    uint64_t written = 0;
    can_frame lastWritten {};
    // Transmit queue: when each queued frame leaves (monotonic ns; Never: not
    // at all, nobody acknowledges). txPeriodNs 0 sends at once, -1 never.
    std::deque<int64_t> txLeaves;
    int txLength = 10;
    int64_t txPeriodNs = 0;
    int txFullError = ENOBUFS;
    bool txPollHonest = true;
    uint64_t txRefused = 0;
    // netlink restart: errno of a refused can_do_restart (0: allowed) and the
    // state the controller is in afterwards.
    int restartError = EPERM;
    int stateAfterRestart = 0;
    uint64_t restarts = 0;
};

constexpr int64_t Never = std::numeric_limits<int64_t>::max();

struct Record
{
    canfd_frame frame {};
    int length = CAN_MTU;     // CAN_MTU or CANFD_MTU
    bool confirm = false;
    int64_t softwareNs = 0;
    int64_t hardwareNs = 0;
    uint32_t drops = 0;
};

struct Socket
{
    int ifindex = 0;          // 0: not bound
    bool recvOwn = false;
    bool fdFrames = false;
    can_err_mask_t errorMask = 0;
    bool stampNs = false;
    bool stamping = false;
    bool overflow = false;
    bool signalled = false;
    int pendingError = 0;     // the kernel's sk_err
    std::deque<Record> queue;
};

struct State
{
    std::mutex lock;
    bool available = true;
    std::string sysfsDir;
    std::map<std::string, Interface> interfaces;
    std::map<int, std::shared_ptr<Socket>> sockets;
    int nextIndex = 10;
    std::map<std::string, int64_t> lastOptions;
    uint64_t receiveCalls = 0;
    uint64_t handedOut = 0;
    bool held = false;        // sockets are not woken until released
};

State &state()
{
    static State *instance = new State; // never destroyed: calls come until the very end
    return *instance;
}

// Descriptors that are CAN sockets, for the pass-through check without lock.
constexpr int MaxTracked = 65536;
std::atomic<bool> tracked[MaxTracked];

bool isTracked(int fd)
{
    return fd >= 0 && fd < MaxTracked && tracked[fd].load(std::memory_order_acquire);
}

template<typename F>
F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using SocketFn = int (*)(int, int, int);
using BindFn = int (*)(int, const sockaddr *, socklen_t);
using IoctlFn = int (*)(int, unsigned long, void *);
using SetsockoptFn = int (*)(int, int, int, const void *, socklen_t);
using RecvmmsgFn = int (*)(int, mmsghdr *, unsigned int, int, timespec *);
using RecvmsgFn = ssize_t (*)(int, msghdr *, int);
using WriteFn = ssize_t (*)(int, const void *, size_t);
using CloseFn = int (*)(int);
using PollFn = int (*)(pollfd *, nfds_t, int);

ssize_t realWrite(int fd, const void *data, size_t size)
{
    static const WriteFn fn = real<WriteFn>("write");
    return fn(fd, data, size);
}

int64_t monotonicNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t nowNs()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void writeFile(const std::string &path, const std::string &text)
{
    if (FILE *file = std::fopen(path.c_str(), "w")) {
        std::fputs(text.c_str(), file);
        std::fclose(file);
    }
}

// Caller holds the lock.
void publishSysfs(State &s, const std::string &name)
{
    if (s.sysfsDir.empty())
        return;
    const std::string dir = s.sysfsDir + "/" + name;
    mkdir(s.sysfsDir.c_str(), 0755);
    mkdir(dir.c_str(), 0755);
    const auto found = s.interfaces.find(name);
    writeFile(dir + "/type", "280\n");
    writeFile(dir + "/flags", found != s.interfaces.end() && found->second.up ? "0x1\n" : "0x0\n");
    if (name.rfind("vcan", 0) != 0)
        mkdir((dir + "/device").c_str(), 0755);
}

void unpublishSysfs(State &s, const std::string &name)
{
    if (s.sysfsDir.empty())
        return;
    const std::string dir = s.sysfsDir + "/" + name;
    for (const char *file : {"/type", "/flags"})
        unlink((dir + file).c_str());
    rmdir((dir + "/device").c_str());
    rmdir(dir.c_str());
}

// Caller holds the lock. Keeps the eventfd readable exactly while the queue
// is not empty or an error is pending.
void signal(int fd, Socket &socket)
{
    if (!socket.signalled && !state().held) {
        const uint64_t one = 1;
        realWrite(fd, &one, sizeof one);
        socket.signalled = true;
    }
}

void push(int fd, Socket &socket, const Record &record)
{
    socket.queue.push_back(record);
    signal(fd, socket);
}

void drained(int fd, Socket &socket)
{
    if (socket.queue.empty() && !socket.pendingError && socket.signalled) {
        uint64_t counter = 0;
        if (::read(fd, &counter, sizeof counter) < 0) {
            // EAGAIN cannot happen while signalled; nothing else to do
        }
        socket.signalled = false;
    }
}

// Caller holds the lock: hands a record to every socket bound to `name`
// that would receive it.
void deliver(State &s, const std::string &name, Record record)
{
    const auto found = s.interfaces.find(name);
    if (found == s.interfaces.end() || !found->second.up)
        return;
    record.drops = found->second.drops;
    for (auto &[fd, socket] : s.sockets) {
        if (socket->ifindex != found->second.index)
            continue;
        if (record.length == CANFD_MTU && !socket->fdFrames)
            continue;
        if ((record.frame.can_id & CAN_ERR_FLAG) && !(record.frame.can_id & socket->errorMask & CAN_ERR_MASK))
            continue;
        push(fd, *socket, record);
    }
}

// Caller holds the lock.
void failBound(State &s, int index, int error)
{
    for (auto &[fd, socket] : s.sockets) {
        if (socket->ifindex == index) {
            socket->pendingError = error;
            signal(fd, *socket);
        }
    }
}

// Caller holds the lock: the frames that have left the transmit queue by `now`.
void advanceTx(Interface &iface, int64_t now)
{
    while (!iface.txLeaves.empty() && iface.txLeaves.front() <= now)
        iface.txLeaves.pop_front();
}

// Caller holds the lock: when the frames queued now leave, from `now` on.
void rescheduleTx(Interface &iface, int64_t now)
{
    if (iface.txPeriodNs == 0) {
        iface.txLeaves.clear();
        return;
    }
    int64_t at = now;
    for (int64_t &leaves : iface.txLeaves) {
        at = iface.txPeriodNs < 0 ? Never : at + iface.txPeriodNs;
        leaves = at;
    }
}

const std::string *nameOfIndex(State &s, int index)
{
    for (auto &[name, iface] : s.interfaces) {
        if (iface.index == index)
            return &name;
    }
    return nullptr;
}

void putControl(msghdr *message, size_t *used, int type, const void *data, size_t size)
{
    if (*used + CMSG_SPACE(size) > message->msg_controllen) {
        message->msg_flags |= MSG_CTRUNC;
        return;
    }
    auto *control = reinterpret_cast<cmsghdr *>(static_cast<char *>(message->msg_control) + *used);
    control->cmsg_level = SOL_SOCKET;
    control->cmsg_type = type;
    control->cmsg_len = CMSG_LEN(size);
    std::memcpy(CMSG_DATA(control), data, size);
    *used += CMSG_SPACE(size);
}

timespec specOf(int64_t ns)
{
    timespec spec {};
    spec.tv_sec = time_t(ns / 1000000000);
    spec.tv_nsec = long(ns % 1000000000);
    return spec;
}

// Fills one message as the kernel would; caller holds the lock.
ssize_t fill(const Socket &socket, const Record &record, msghdr *message)
{
    message->msg_flags = record.confirm ? MSG_CONFIRM : 0;
    size_t copied = 0;
    for (size_t i = 0; i < message->msg_iovlen && copied < size_t(record.length); ++i) {
        const size_t part = std::min(message->msg_iov[i].iov_len, size_t(record.length) - copied);
        std::memcpy(message->msg_iov[i].iov_base, reinterpret_cast<const char *>(&record.frame) + copied, part);
        copied += part;
    }
    if (copied < size_t(record.length))
        message->msg_flags |= MSG_TRUNC;
    size_t used = 0;
    if (message->msg_control && message->msg_controllen) {
        if (socket.stampNs) {
            const timespec stamp = specOf(record.softwareNs);
            putControl(message, &used, SO_TIMESTAMPNS, &stamp, sizeof stamp);
        }
        if (socket.stamping) {
            const timespec stamps[3] = {specOf(record.softwareNs), timespec {}, specOf(record.hardwareNs)};
            putControl(message, &used, SO_TIMESTAMPING, stamps, sizeof stamps);
        }
        if (socket.overflow)
            putControl(message, &used, SO_RXQ_OVFL, &record.drops, sizeof record.drops);
    }
    message->msg_controllen = used;
    return ssize_t(copied);
}

// Configuration of a preloaded copy (busvista-cli) from the environment:
//   SOCKETCAN_STANDIN_SYSFS   directory for the sysfs view
//   SOCKETCAN_STANDIN_IFACES  "can0:1:500000:0,vcan0:0:0:-1" (name:up:bitrate:state)
//   SOCKETCAN_STANDIN_FEED    "can0:1000:down": frames queued at bind, then the interface goes down
//   SOCKETCAN_STANDIN_AVAILABLE  0: no CAN sockets
struct Feed
{
    std::string name;
    uint32_t count = 0;
    bool down = false;
};

// Read on first use: a constructor function may run before this file's
// globals are initialised, which would wipe what it parsed.
const Feed &feed()
{
    static const Feed parsed = [] {
        Feed result;
        if (const char *text = std::getenv("SOCKETCAN_STANDIN_FEED")) {
            char name[IFNAMSIZ] = {};
            char then[16] = {};
            unsigned count = 0;
            if (std::sscanf(text, "%15[^:]:%u:%15s", name, &count, then) >= 2) {
                result.name = name;
                result.count = count;
                result.down = std::strcmp(then, "down") == 0;
            }
        }
        return result;
    }();
    return parsed;
}

__attribute__((constructor)) void configureFromEnvironment()
{
    if (const char *dir = std::getenv("SOCKETCAN_STANDIN_SYSFS"))
        CanStandIn_SetSysfsDir(dir);
    if (const char *available = std::getenv("SOCKETCAN_STANDIN_AVAILABLE"))
        CanStandIn_SetAvailable(std::atoi(available));
    if (const char *list = std::getenv("SOCKETCAN_STANDIN_IFACES")) {
        std::string rest = list;
        while (!rest.empty()) {
            const size_t comma = rest.find(',');
            const std::string item = rest.substr(0, comma);
            rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
            char name[IFNAMSIZ] = {};
            int up = 1;
            unsigned bitrate = 0;
            int kernelState = -1;
            if (std::sscanf(item.c_str(), "%15[^:]:%d:%u:%d", name, &up, &bitrate, &kernelState) >= 1)
                CanStandIn_AddInterface(name, up, bitrate, kernelState);
        }
    }
}

} // namespace

// --- the calls of the program ---------------------------------------------

STANDIN_EXPORT int socket(int domain, int type, int protocol)
{
    static const SocketFn next = real<SocketFn>("socket");
    if (domain != PF_CAN)
        return next(domain, type, protocol);
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.available || (type & 0xF) != SOCK_RAW || protocol != CAN_RAW) {
        errno = !s.available ? EAFNOSUPPORT : EPROTONOSUPPORT;
        return -1;
    }
    const int fd = eventfd(0, EFD_NONBLOCK | ((type & SOCK_CLOEXEC) ? EFD_CLOEXEC : 0));
    if (fd < 0)
        return -1;
    if (fd >= MaxTracked) {
        ::close(fd);
        errno = EMFILE;
        return -1;
    }
    s.sockets[fd] = std::make_shared<Socket>();
    tracked[fd].store(true, std::memory_order_release);
    return fd;
}

STANDIN_EXPORT int bind(int fd, const sockaddr *address, socklen_t length)
{
    static const BindFn next = real<BindFn>("bind");
    if (!isTracked(fd))
        return next(fd, address, length);
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto *can = reinterpret_cast<const sockaddr_can *>(address);
    if (length < socklen_t(sizeof(sockaddr_can)) || can->can_family != AF_CAN) {
        errno = EINVAL;
        return -1;
    }
    const std::string *name = nameOfIndex(s, can->can_ifindex);
    if (can->can_ifindex != 0 && !name) {
        errno = ENODEV;
        return -1;
    }
    Socket &socket = *s.sockets[fd];
    socket.ifindex = can->can_ifindex;
    for (const char *option : {"recv_own_msgs", "fd_frames", "timestampns", "timestamping", "rxq_ovfl"})
        s.lastOptions[option] = -1;
    s.lastOptions["recv_own_msgs"] = socket.recvOwn;
    s.lastOptions["err_filter"] = socket.errorMask;
    s.lastOptions["fd_frames"] = socket.fdFrames;
    s.lastOptions["timestampns"] = socket.stampNs;
    s.lastOptions["timestamping"] = socket.stamping;
    s.lastOptions["rxq_ovfl"] = socket.overflow;

    const Feed &queued = feed();
    if (name && *name == queued.name && queued.count > 0) {
        Interface &iface = s.interfaces[*name];
        for (uint32_t i = 0; i < queued.count; ++i) {
            Record record;
            record.frame.can_id = 0x123;
            record.frame.len = 4;
            std::memcpy(record.frame.data, &i, 4);
            record.softwareNs = nowNs();
            record.drops = iface.drops;
            push(fd, socket, record);
        }
        if (queued.down) {
            socket.pendingError = ENETDOWN;
            signal(fd, socket);
        }
    }
    return 0;
}

STANDIN_EXPORT int ioctl(int fd, unsigned long request, ...)
{
    static const IoctlFn next = real<IoctlFn>("ioctl");
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    if (!isTracked(fd))
        return next(fd, request, argument);
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    auto *request_ = static_cast<ifreq *>(argument);
    if (request == SIOCGIFINDEX || request == SIOCGIFFLAGS) {
        const auto found = s.interfaces.find(std::string(request_->ifr_name, strnlen(request_->ifr_name, IFNAMSIZ)));
        if (found == s.interfaces.end()) {
            errno = ENODEV;
            return -1;
        }
        if (request == SIOCGIFINDEX)
            request_->ifr_ifindex = found->second.index;
        else
            request_->ifr_flags = short(found->second.up ? (IFF_UP | IFF_RUNNING | IFF_NOARP) : IFF_NOARP);
        return 0;
    }
    errno = ENOTTY;
    return -1;
}

STANDIN_EXPORT int setsockopt(int fd, int level, int name, const void *value, socklen_t length)
{
    static const SetsockoptFn next = real<SetsockoptFn>("setsockopt");
    if (!isTracked(fd))
        return next(fd, level, name, value, length);
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Socket &socket = *s.sockets[fd];
    int flag = 0;
    if (length >= socklen_t(sizeof flag))
        std::memcpy(&flag, value, sizeof flag);
    if (level == SOL_CAN_RAW && name == CAN_RAW_RECV_OWN_MSGS)
        socket.recvOwn = flag != 0;
    else if (level == SOL_CAN_RAW && name == CAN_RAW_ERR_FILTER)
        socket.errorMask = can_err_mask_t(flag);
    else if (level == SOL_CAN_RAW && name == CAN_RAW_FD_FRAMES)
        socket.fdFrames = flag != 0;
    else if (level == SOL_SOCKET && name == SO_TIMESTAMPNS)
        socket.stampNs = flag != 0;
    else if (level == SOL_SOCKET && name == SO_TIMESTAMPING)
        socket.stamping = (flag & SOF_TIMESTAMPING_RAW_HARDWARE) != 0;
    else if (level == SOL_SOCKET && name == SO_RXQ_OVFL)
        socket.overflow = flag != 0;
    else {
        errno = ENOPROTOOPT;
        return -1;
    }
    return 0;
}

STANDIN_EXPORT int recvmmsg(int fd, mmsghdr *messages, unsigned int count, int flags, timespec *timeout)
{
    static const RecvmmsgFn next = real<RecvmmsgFn>("recvmmsg");
    if (!isTracked(fd))
        return next(fd, messages, count, flags, timeout);
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Socket &socket = *s.sockets[fd];
    // As sock_error() in the kernel's datagram receive: a pending error comes
    // first and is cleared by reporting it; the queue stays as it is.
    if (socket.pendingError) {
        errno = socket.pendingError;
        socket.pendingError = 0;
        drained(fd, socket);
        return -1;
    }
    unsigned int taken = 0;
    while (taken < count && !socket.queue.empty()) {
        const Record &record = socket.queue.front();
        messages[taken].msg_len = unsigned(fill(socket, record, &messages[taken].msg_hdr));
        socket.queue.pop_front();
        ++taken;
    }
    drained(fd, socket);
    if (taken == 0) {
        errno = EAGAIN;
        return -1;
    }
    ++s.receiveCalls;
    s.handedOut += taken;
    return int(taken);
}

STANDIN_EXPORT ssize_t recvmsg(int fd, msghdr *message, int flags)
{
    static const RecvmsgFn next = real<RecvmsgFn>("recvmsg");
    if (!isTracked(fd))
        return next(fd, message, flags);
    mmsghdr one {};
    one.msg_hdr = *message;
    if (recvmmsg(fd, &one, 1, flags, nullptr) < 0)
        return -1;
    *message = one.msg_hdr;
    return ssize_t(one.msg_len);
}

STANDIN_EXPORT ssize_t write(int fd, const void *data, size_t size)
{
    if (!isTracked(fd))
        return realWrite(fd, data, size);
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Socket &socket = *s.sockets[fd];
    const std::string *name = nameOfIndex(s, socket.ifindex);
    if (!name) {
        errno = socket.ifindex ? ENODEV : EDESTADDRREQ;
        return -1;
    }
    Interface &iface = s.interfaces[*name];
    if (size != CAN_MTU) {
        errno = EINVAL;
        return -1;
    }
    if (!iface.up) {
        errno = ENETDOWN;
        return -1;
    }
    if (iface.writeError) {
        errno = iface.writeError;
        return -1;
    }
    if (iface.txPeriodNs != 0) {
        const int64_t now = monotonicNs();
        advanceTx(iface, now);
        if (int(iface.txLeaves.size()) >= iface.txLength) {
            ++iface.txRefused;
            errno = iface.txFullError;
            return -1;
        }
        const int64_t start = iface.txLeaves.empty() ? now : std::max(now, iface.txLeaves.back());
        iface.txLeaves.push_back(iface.txPeriodNs < 0 || start == Never ? Never : start + iface.txPeriodNs);
    }
    ++iface.written;
    std::memcpy(&iface.lastWritten, data, sizeof iface.lastWritten);
    if (socket.recvOwn) {
        Record echo;
        std::memcpy(&echo.frame, data, CAN_MTU);
        echo.confirm = true;
        echo.softwareNs = nowNs();
        echo.drops = iface.drops;
        push(fd, socket, echo);
    }
    return ssize_t(size);
}

// Caller holds the lock: whether a write on `fd` would find room now; else
// lowers *nextRoomNs to when it will.
bool hasRoom(State &s, int fd, int64_t now, int64_t *nextRoomNs)
{
    const auto socket = s.sockets.find(fd);
    const std::string *name = socket == s.sockets.end() ? nullptr : nameOfIndex(s, socket->second->ifindex);
    if (!name)
        return true; // the write reports what is wrong
    Interface &iface = s.interfaces[*name];
    advanceTx(iface, now);
    if (!iface.txPollHonest || iface.txPeriodNs == 0 || int(iface.txLeaves.size()) < iface.txLength)
        return true;
    *nextRoomNs = std::min(*nextRoomNs, iface.txLeaves.front());
    return false;
}

// POLLOUT of a CAN socket follows its interface's transmit queue; every other
// event and descriptor is the real kernel's.
STANDIN_EXPORT int poll(pollfd *fds, nfds_t count, int timeout)
{
    static const PollFn next = real<PollFn>("poll");
    bool asksRoom = false;
    for (nfds_t i = 0; i < count; ++i)
        asksRoom = asksRoom || (isTracked(fds[i].fd) && (fds[i].events & POLLOUT));
    if (!asksRoom)
        return next(fds, count, timeout);
    const int64_t deadline = timeout < 0 ? Never : monotonicNs() + int64_t(timeout) * 1000000;
    std::vector<pollfd> passed(fds, fds + count);
    std::vector<bool> room(count);
    for (pollfd &entry : passed) {
        if (isTracked(entry.fd))
            entry.events = short(entry.events & ~POLLOUT);
    }
    for (;;) {
        int64_t nextRoomNs = Never;
        bool anyRoom = false;
        const int64_t now = monotonicNs();
        {
            State &s = state();
            std::lock_guard<std::mutex> guard(s.lock);
            for (nfds_t i = 0; i < count; ++i) {
                room[i] = isTracked(fds[i].fd) && (fds[i].events & POLLOUT) && hasRoom(s, fds[i].fd, now, &nextRoomNs);
                anyRoom = anyRoom || room[i];
            }
        }
        const int64_t until = anyRoom ? now : std::min(deadline, nextRoomNs);
        const int wait = until == Never ? -1 : int(std::max<int64_t>(0, (until - now + 999999) / 1000000));
        for (pollfd &entry : passed)
            entry.revents = 0;
        const int result = next(passed.data(), count, wait);
        if (result < 0)
            return result;
        int ready = 0;
        for (nfds_t i = 0; i < count; ++i) {
            fds[i].revents = short(passed[i].revents | (room[i] ? POLLOUT : 0));
            ready += fds[i].revents != 0;
        }
        if (ready > 0 || monotonicNs() >= deadline)
            return ready;
    }
}

STANDIN_EXPORT int close(int fd)
{
    static const CloseFn next = real<CloseFn>("close");
    if (isTracked(fd)) {
        State &s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        s.sockets.erase(fd);
        tracked[fd].store(false, std::memory_order_release);
    }
    return next(fd);
}

// --- netlink answers (libsocketcan) -----------------------------------------

STANDIN_EXPORT int can_get_bittiming(const char *name, can_bittiming *timing)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.interfaces.find(name);
    if (found == s.interfaces.end() || found->second.bitrate == 0)
        return -1;
    *timing = can_bittiming {};
    timing->bitrate = found->second.bitrate;
    return 0;
}

STANDIN_EXPORT int can_get_state(const char *name, int *kernelState)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.interfaces.find(name);
    if (found == s.interfaces.end() || found->second.state < 0)
        return -1;
    *kernelState = found->second.state;
    return 0;
}

// As the kernel: the rights first (EPERM without CAP_NET_ADMIN), then EBUSY
// for a controller not in bus-off; a restart tells the bound sockets.
STANDIN_EXPORT int can_do_restart(const char *name)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.interfaces.find(name);
    if (found == s.interfaces.end()) {
        errno = ENODEV;
        return -1;
    }
    Interface &iface = found->second;
    if (iface.restartError) {
        errno = iface.restartError;
        return -1;
    }
    if (iface.state != CAN_STATE_BUS_OFF) {
        errno = EBUSY;
        return -1;
    }
    iface.state = iface.stateAfterRestart;
    ++iface.restarts;
    Record restarted;
    restarted.frame.can_id = CAN_ERR_FLAG | CAN_ERR_RESTARTED;
    restarted.frame.len = CAN_ERR_DLC;
    restarted.softwareNs = nowNs();
    deliver(s, name, restarted);
    return 0;
}

// --- control -----------------------------------------------------------------

STANDIN_EXPORT void CanStandIn_Reset()
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    for (const auto &[name, iface] : s.interfaces)
        unpublishSysfs(s, name);
    s.interfaces.clear();
    s.available = true;
    s.lastOptions.clear();
    s.receiveCalls = 0;
    s.handedOut = 0;
    s.held = false;
}

STANDIN_EXPORT void CanStandIn_SetSysfsDir(const char *path)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.sysfsDir = path ? path : "";
    if (!s.sysfsDir.empty())
        mkdir(s.sysfsDir.c_str(), 0755);
}

STANDIN_EXPORT void CanStandIn_SetAvailable(int on)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.available = on != 0;
}

STANDIN_EXPORT void CanStandIn_AddInterface(const char *name, int up, uint32_t bitrate, int kernelState)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Interface iface;
    iface.index = s.nextIndex++;
    iface.up = up != 0;
    iface.bitrate = bitrate;
    iface.state = kernelState;
    // About 128 bit times for a frame of 8 bytes; vcan sends at once.
    iface.txPeriodNs = bitrate > 0 ? int64_t(128) * 1000000000 / bitrate : 0;
    s.interfaces[name] = iface;
    publishSysfs(s, name);
}

STANDIN_EXPORT void CanStandIn_SetUp(const char *name, int up)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.interfaces.find(name);
    if (found == s.interfaces.end())
        return;
    const bool wasUp = found->second.up;
    found->second.up = up != 0;
    if (wasUp && !up)
        failBound(s, found->second.index, ENETDOWN);
    publishSysfs(s, name);
}

STANDIN_EXPORT void CanStandIn_Remove(const char *name)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.interfaces.find(name);
    if (found == s.interfaces.end())
        return;
    failBound(s, found->second.index, ENODEV);
    s.interfaces.erase(found);
    unpublishSysfs(s, name);
}

STANDIN_EXPORT void CanStandIn_Inject(const char *name, const can_frame *frame, int64_t softwareNs, int64_t hardwareNs)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Record record;
    std::memcpy(&record.frame, frame, sizeof *frame);
    record.softwareNs = softwareNs ? softwareNs : nowNs();
    record.hardwareNs = hardwareNs;
    deliver(s, name, record);
}

STANDIN_EXPORT uint32_t CanStandIn_InjectNumbered(const char *name, uint32_t id, uint32_t first, uint32_t count,
                                                  int64_t softwareNs, int64_t stepNs)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const int64_t start = softwareNs ? softwareNs : nowNs();
    Record record;
    record.frame.can_id = id;
    record.frame.len = 8;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t number = first + i;
        std::memcpy(record.frame.data, &number, sizeof number);
        record.softwareNs = start + int64_t(i) * stepNs;
        deliver(s, name, record);
    }
    return count;
}

STANDIN_EXPORT void CanStandIn_InjectFd(const char *name, uint32_t id, uint8_t length)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Record record;
    record.length = CANFD_MTU;
    record.frame.can_id = id;
    record.frame.len = length;
    record.softwareNs = nowNs();
    deliver(s, name, record);
}

STANDIN_EXPORT void CanStandIn_SetDrops(const char *name, uint32_t drops)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.interfaces.find(name);
    if (found != s.interfaces.end())
        found->second.drops = drops;
}

STANDIN_EXPORT void CanStandIn_SetWriteError(const char *name, int error)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.interfaces.find(name);
    if (found != s.interfaces.end())
        found->second.writeError = error;
}

STANDIN_EXPORT uint64_t CanStandIn_Written(const char *name)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.interfaces.find(name);
    return found == s.interfaces.end() ? 0 : found->second.written;
}

STANDIN_EXPORT int CanStandIn_LastWritten(const char *name, can_frame *frame)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.interfaces.find(name);
    if (found == s.interfaces.end() || found->second.written == 0)
        return 0;
    *frame = found->second.lastWritten;
    return 1;
}

STANDIN_EXPORT int CanStandIn_OpenSockets()
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return int(s.sockets.size());
}

STANDIN_EXPORT uint64_t CanStandIn_Queued()
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    uint64_t total = 0;
    for (const auto &[fd, socket] : s.sockets)
        total += socket->queue.size();
    return total;
}

STANDIN_EXPORT int64_t CanStandIn_Option(const char *what)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.lastOptions.find(what);
    return found == s.lastOptions.end() ? -1 : found->second;
}

STANDIN_EXPORT uint64_t CanStandIn_ReceiveCalls()
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.receiveCalls;
}

STANDIN_EXPORT uint64_t CanStandIn_HandedOut()
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.handedOut;
}

STANDIN_EXPORT void CanStandIn_SetState(const char *name, int kernelState)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.interfaces.find(name);
    if (found != s.interfaces.end())
        found->second.state = kernelState;
}

STANDIN_EXPORT void CanStandIn_SetRestart(const char *name, int error, int stateAfter)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.interfaces.find(name);
    if (found != s.interfaces.end()) {
        found->second.restartError = error;
        found->second.stateAfterRestart = stateAfter;
    }
}

STANDIN_EXPORT uint64_t CanStandIn_Restarts(const char *name)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.interfaces.find(name);
    return found == s.interfaces.end() ? 0 : found->second.restarts;
}

STANDIN_EXPORT void CanStandIn_SetTxQueue(const char *name, int length, int64_t periodUs)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.interfaces.find(name);
    if (found == s.interfaces.end())
        return;
    Interface &iface = found->second;
    iface.txLength = length > 0 ? length : 1;
    iface.txPeriodNs = periodUs < 0 ? -1 : periodUs * 1000;
    rescheduleTx(iface, monotonicNs());
}

STANDIN_EXPORT void CanStandIn_SetTxFull(const char *name, int error, int pollHonest)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.interfaces.find(name);
    if (found != s.interfaces.end()) {
        found->second.txFullError = error;
        found->second.txPollHonest = pollHonest != 0;
    }
}

STANDIN_EXPORT uint64_t CanStandIn_TxRefused(const char *name)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.interfaces.find(name);
    return found == s.interfaces.end() ? 0 : found->second.txRefused;
}

STANDIN_EXPORT void CanStandIn_Hold(int on)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.held = on != 0;
    if (s.held)
        return;
    for (auto &[fd, socket] : s.sockets) {
        if (!socket->queue.empty() || socket->pendingError)
            signal(fd, *socket);
    }
}
