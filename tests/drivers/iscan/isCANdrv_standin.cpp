// Stand-in for the isCAN driver library, built as libisCANdrv.so for the tests
// and benchmarks. It exports the driver functions the backend resolves, with
// the same record layouts and result codes, over a virtual bus inside the
// library: a frame sent on one open device is received by every other open
// device. Functions prefixed isCANStub_ let a test steer it.
//
// Plain C++ without Qt, so that it is loaded exactly like a vendor library.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>

#if defined(_WIN32)
#define STUB_EXPORT extern "C" __declspec(dllexport)
#define STUB_CALL __stdcall
#else
#define STUB_EXPORT extern "C" __attribute__((visibility("default")))
#define STUB_CALL
#endif

namespace {

#pragma pack(push, 1)
struct Message
{
    uint32_t identifier;
    uint8_t extended;
    uint8_t remote;
    uint8_t length;
    uint8_t data[8];
    uint8_t reserved;
};
struct Configuration
{
    uint8_t type;
    uint32_t serial;
    uint8_t attached;
    uint8_t busy;
};
struct AttachedDevice
{
    uint8_t index;
    uint32_t serial;
    uint8_t reserved[3];
};
#pragma pack(pop)
static_assert(sizeof(Message) == 16 && offsetof(Message, length) == 6 && offsetof(Message, data) == 7,
              "message record layout");
static_assert(sizeof(Configuration) == 7 && offsetof(Configuration, serial) == 1
                  && offsetof(Configuration, busy) == 6,
              "configuration record layout");
static_assert(sizeof(AttachedDevice) == 8 && offsetof(AttachedDevice, serial) == 1,
              "attached-device record layout");

using Callback = void(STUB_CALL *)(uint8_t code, void *user);

constexpr int DeviceCount = 16;
constexpr uint8_t Ok = 0;
constexpr uint8_t NotFound = 2;
constexpr uint8_t BadParameter = 4;
constexpr uint8_t NotOnline = 5;
constexpr uint8_t NoMessage = 8;
constexpr uint8_t ThreadRunning = 10;
constexpr uint8_t NotInitialised = 12;
constexpr uint8_t Unplugged = 13;
constexpr uint8_t InUse = 15;

// One entry of a device's receive queue: a frame (code 0) or an event code.
struct Received
{
    uint8_t code;
    Message message;
};

struct Device
{
    // Configuration as the driver's configuration tool would have entered it.
    uint8_t type = 0;
    uint32_t serial = 0;
    bool attached = false;
    bool busyElsewhere = false;

    bool open = false;
    bool unplugged = false;
    std::deque<Received> queue;
    bool readEmpty = true; // the last read found the queue empty
    uint64_t reads = 0;    // entries taken from the queue

    // Message handler: a driver thread that calls the callback when new
    // entries arrived since its last call.
    Callback callback = nullptr;
    void *user = nullptr;
    std::thread handler;
    bool handlerStop = false;
    uint64_t handlerGeneration = 0; // raised by every start: a detached old handler ends
    uint64_t arrivals = 0;
    std::condition_variable wake;
};

// The driver functions, for call counts and forced results.
enum Function { FDeviceInitEx, FSetBaudRegister, FSetMessageExID, FTransmitMessageEx, FReceiveMessageEx, FCloseDevice, FSetupDevice, FGetDriverConfiguration, FAttachedDevices, FStartMessageHandler, FStopMessageHandler, FunctionCount };
const char *const FunctionNames[FunctionCount] = {
    "isCAN_DeviceInitEx",
    "isCAN_SetBaudRegister",
    "isCAN_SetMessageExID",
    "isCAN_TransmitMessageEx",
    "isCAN_ReceiveMessageEx",
    "isCAN_CloseDevice",
    "isCAN_SetupDevice",
    "isCAN_GetDriverConfiguration",
    "isCAN_AttachedDevices",
    "isCAN_StartMessageHandler",
    "isCAN_StopMessageHandler"};

int functionIndex(const char *name)
{
    for (int f = 0; f < FunctionCount; ++f) {
        if (std::strcmp(FunctionNames[f], name) == 0)
            return f;
    }
    return -1;
}

struct State;
void defaultConfiguration(State &s);
void configureFromEnvironment(State &s);

struct State
{
    State()
    {
        std::fill(std::begin(forced), std::end(forced), -1);
        std::fill(std::begin(calls), std::end(calls), 0);
        defaultConfiguration(*this);
        configureFromEnvironment(*this);
    }

    std::mutex mutex;
    Device devices[DeviceCount];
    std::deque<uint32_t> attachedSerials;
    int forced[FunctionCount]; // result code, -1: none
    int forcedAll = -1;        // for every function without one of its own
    uint64_t calls[FunctionCount];
    std::string log;
    uint64_t delivered = 0; // frames handed out by isCAN_ReceiveMessageEx
    uint64_t transmitted = 0;
    Message lastTransmit {};
    int callbacksInFlight = 0; // callbacks entered and not yet returned
    // STUB_STOP_DOES_NOT_WAIT: callbacks wait at their entry until released.
    uint64_t heldCallbacks = 0;
    uint64_t releasedCallbacks = 0;
    std::condition_variable release;
    int attachedCursor = 0;
    int trafficOnOpen = 0;
};

void defaultConfiguration(State &s)
{
    for (Device &d : s.devices) {
        d.type = 0;
        d.serial = 0;
        d.attached = false;
        d.busyElsewhere = false;
    }
    s.devices[0].type = 1;
    s.devices[0].serial = 0x1A2B;
    s.devices[0].attached = true;
    s.attachedSerials.assign(1, 0x1A2B);
}

// A process that cannot call the control functions (the command-line tool
// under test) sets the stand-in up through the environment:
//   ISCAN_STANDIN_DEVICES  "number:type:serial(hex):attached:busy,..." replaces
//                          the configuration ("" for none)
//   ISCAN_STANDIN_ATTACHED "serial(hex),..." for the attached-device walk
//   ISCAN_STANDIN_FORCE    "function=code"
//   ISCAN_STANDIN_TRAFFIC  number of frames queued whenever a device opens
void configureFromEnvironment(State &s)
{
    if (const char *devices = std::getenv("ISCAN_STANDIN_DEVICES")) {
        for (Device &d : s.devices)
            d.type = 0;
        std::string text = devices;
        size_t at = 0;
        while (at < text.size()) {
            const size_t end = std::min(text.find(',', at), text.size());
            unsigned number = 0, type = 0, attached = 0, busy = 0;
            unsigned long serial = 0;
            if (std::sscanf(text.substr(at, end - at).c_str(), "%u:%u:%lx:%u:%u", &number, &type, &serial,
                            &attached, &busy) == 5
                && number < DeviceCount) {
                Device &d = s.devices[number];
                d.type = uint8_t(type);
                d.serial = uint32_t(serial);
                d.attached = attached != 0;
                d.busyElsewhere = busy != 0;
            }
            at = end + 1;
        }
    }
    if (const char *attached = std::getenv("ISCAN_STANDIN_ATTACHED")) {
        s.attachedSerials.clear();
        std::string text = attached;
        size_t at = 0;
        while (at < text.size()) {
            const size_t end = std::min(text.find(',', at), text.size());
            s.attachedSerials.push_back(uint32_t(std::strtoul(text.substr(at, end - at).c_str(), nullptr, 16)));
            at = end + 1;
        }
    }
    if (const char *force = std::getenv("ISCAN_STANDIN_FORCE")) {
        const std::string text = force;
        const size_t equals = text.find('=');
        if (equals != std::string::npos) {
            const int f = functionIndex(text.substr(0, equals).c_str());
            if (f >= 0)
                s.forced[f] = std::atoi(text.c_str() + equals + 1);
        }
    }
    if (const char *traffic = std::getenv("ISCAN_STANDIN_TRAFFIC"))
        s.trafficOnOpen = std::atoi(traffic);
}

State &state()
{
    static State s;
    return s;
}

// Counts the call, appends it to the call log and returns a forced result
// (or -1). Called with the state mutex held.
int enter(State &s, Function function, const std::string *arguments)
{
    ++s.calls[function];
    if (arguments)
        s.log += std::string(FunctionNames[function]) + "(" + *arguments + ")\n";
    return s.forced[function] >= 0 ? s.forced[function] : s.forcedAll;
}

// Runs the body of a driver function under the state lock after counting
// (and logging, `arguments` when given) the call; a forced result replaces the body.
template <typename Body>
uint8_t call(Function function, const std::string *arguments, Body body)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const int forced = enter(s, function, arguments);
    return forced >= 0 ? uint8_t(forced) : body(s);
}

template <typename Body>
uint8_t driverCall(Function function, const std::string &arguments, Body body)
{
    return call(function, &arguments, body);
}

// Receive and transmit: counted, not logged.
template <typename Body>
uint8_t quietCall(Function function, Body body)
{
    return call(function, nullptr, body);
}

// Closing and stopping take effect whatever result is forced; the body gets
// the lock, which it may release while a handler thread ends.
template <typename Body>
uint8_t releasingCall(Function function, const std::string &arguments, Body body)
{
    State &s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    const int forced = enter(s, function, &arguments);
    const uint8_t code = body(s, lock);
    return forced >= 0 ? uint8_t(forced) : code;
}

std::string args(std::initializer_list<long long> values)
{
    std::string text;
    for (long long v : values) {
        if (!text.empty())
            text += ",";
        text += std::to_string(v);
    }
    return text;
}

// Result for a call that needs an open, present device; 0 when usable.
uint8_t usable(const Device &d, bool needOpen)
{
    if (d.unplugged)
        return Unplugged;
    if (!d.attached)
        return NotOnline;
    if (needOpen && !d.open)
        return NotInitialised;
    return Ok;
}

void pushReceived(Device &d, const Received &r)
{
    d.queue.push_back(r);
    d.readEmpty = false;
    ++d.arrivals;
    d.wake.notify_one();
}

// Calls the callback for new arrivals, and again at once as long as messages
// are left unread after a callback that did read some (a reader may take them
// in portions).
//
// The variant built with STUB_STOP_DOES_NOT_WAIT behaves like a driver whose
// stop call returns at once: the handler thread is left to end by itself, and
// a callback it has just entered still runs after the stop returned. Each
// such callback is held at its entry until isCANStub_releaseCallbacks (or
// two seconds), so a test can stop and delete the backend in between.
void handlerLoop(Device *d, uint64_t generation)
{
    State &s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    const auto stopped = [&] { return d->handlerStop || d->handlerGeneration != generation; };
    uint64_t seen = 0;
    bool again = false;
    for (;;) {
        if (!again)
            d->wake.wait(lock, [&] { return stopped() || d->arrivals != seen; });
        if (stopped())
            return;
        seen = d->arrivals;
        const uint64_t readsBefore = d->reads;
        const Callback callback = d->callback;
        void *user = d->user;
        const uint8_t code = d->unplugged ? Unplugged : Ok;
        ++s.callbacksInFlight;
#ifdef STUB_STOP_DOES_NOT_WAIT
        const uint64_t ticket = s.heldCallbacks++;
        s.release.wait_for(lock, std::chrono::seconds(2), [&] { return s.releasedCallbacks > ticket; });
#endif
        lock.unlock();
        callback(code, user);
        lock.lock();
        --s.callbacksInFlight;
        again = d->reads != readsBefore && !d->queue.empty();
    }
}

// Ends the handler thread of a device; the caller holds `lock`.
void stopHandler(Device &d, std::unique_lock<std::mutex> &lock)
{
    if (!d.handler.joinable())
        return;
    d.handlerStop = true;
    d.wake.notify_all();
    std::thread thread = std::move(d.handler);
#ifdef STUB_STOP_DOES_NOT_WAIT
    const bool wait = false;
#else
    const bool wait = true;
#endif
    if (!wait || thread.get_id() == std::this_thread::get_id()) {
        thread.detach(); // called from its own callback: it ends after returning
    } else {
        lock.unlock();
        thread.join();
        lock.lock();
    }
    d.callback = nullptr;
    d.user = nullptr;
}

} // namespace

// ---- driver functions ------------------------------------------------------

STUB_EXPORT uint8_t STUB_CALL isCAN_DeviceInitEx(uint8_t device, uint8_t baud)
{
    return driverCall(FDeviceInitEx, args({device, baud}), [&](State &s) -> uint8_t {
        if (device >= DeviceCount || s.devices[device].type == 0)
            return NotFound;
        Device &d = s.devices[device];
        if (baud < 1 || baud > 9)
            return BadParameter;
        if (const uint8_t code = usable(d, false))
            return code;
        if (d.busyElsewhere)
            return InUse;
        d.open = true;
        d.queue.clear();
        for (int i = 0; i < s.trafficOnOpen; ++i) {
            // Frames 0x100, 0x101, ... carrying their number in the first byte.
            Received r {Ok, {}};
            r.message.identifier = 0x100 + uint32_t(i);
            r.message.length = 1;
            r.message.data[0] = uint8_t(i);
            pushReceived(d, r);
        }
        return Ok;
    });
}

#ifndef OMIT_isCAN_SetBaudRegister
STUB_EXPORT uint8_t STUB_CALL isCAN_SetBaudRegister(uint8_t device, uint8_t btr0, uint8_t btr1)
{
    return driverCall(FSetBaudRegister, args({device, btr0, btr1}), [&](State &s) -> uint8_t {
        if (device >= DeviceCount)
            return NotFound;
        return usable(s.devices[device], true);
    });
}
#endif

STUB_EXPORT uint8_t STUB_CALL isCAN_SetMessageExID(uint8_t device, uint32_t mask)
{
    return driverCall(FSetMessageExID, args({device, (long long)mask}), [&](State &s) -> uint8_t {
        return device < DeviceCount ? usable(s.devices[device], true) : NotFound;
    });
}

#ifndef OMIT_isCAN_SetupDevice
STUB_EXPORT uint8_t STUB_CALL isCAN_SetupDevice(uint8_t device, uint8_t a, uint8_t b, uint8_t c)
{
    return driverCall(FSetupDevice, args({device, a, b, c}), [&](State &s) -> uint8_t {
        return device < DeviceCount ? usable(s.devices[device], true) : NotFound;
    });
}
#endif

STUB_EXPORT uint8_t STUB_CALL isCAN_TransmitMessageEx(uint8_t device, Message *message)
{
    return quietCall(FTransmitMessageEx, [&](State &s) -> uint8_t {
        if (device >= DeviceCount || !message)
            return BadParameter;
        if (const uint8_t code = usable(s.devices[device], true))
            return code;
        s.lastTransmit = *message;
        ++s.transmitted;
        Received r {Ok, *message};
        for (int other = 0; other < DeviceCount; ++other) {
            Device &d = s.devices[other];
            if (other != device && d.open && !d.unplugged)
                pushReceived(d, r);
        }
        return Ok;
    });
}

STUB_EXPORT uint8_t STUB_CALL isCAN_ReceiveMessageEx(uint8_t device, Message *message)
{
    return quietCall(FReceiveMessageEx, [&](State &s) -> uint8_t {
        if (device >= DeviceCount || !message)
            return BadParameter;
        Device &d = s.devices[device];
        if (const uint8_t code = usable(d, true))
            return code;
        if (d.queue.empty()) {
            d.readEmpty = true;
            return NoMessage;
        }
        const Received r = d.queue.front();
        d.queue.pop_front();
        ++d.reads;
        if (r.code == Ok) {
            *message = r.message;
            ++s.delivered;
        }
        return r.code;
    });
}

STUB_EXPORT uint8_t STUB_CALL isCAN_CloseDevice(uint8_t device)
{
    return releasingCall(FCloseDevice, args({device}), [&](State &s, std::unique_lock<std::mutex> &lock) -> uint8_t {
        if (device >= DeviceCount)
            return NotFound;
        Device &d = s.devices[device];
        // Closing always releases the device, whatever the result says.
        stopHandler(d, lock);
        d.open = false;
        d.queue.clear();
        return d.unplugged ? Unplugged : Ok;
    });
}

STUB_EXPORT uint8_t STUB_CALL isCAN_GetDriverConfiguration(uint8_t device, Configuration *configuration)
{
    return driverCall(FGetDriverConfiguration, args({device}), [&](State &s) -> uint8_t {
        if (device >= DeviceCount || !configuration)
            return BadParameter;
        const Device &d = s.devices[device];
        if (d.type == 0)
            return NotFound;
        configuration->type = d.type;
        configuration->serial = d.serial;
        configuration->attached = d.attached && !d.unplugged;
        configuration->busy = d.busyElsewhere || d.open;
        return Ok;
    });
}

#ifndef OMIT_isCAN_AttachedDevices
STUB_EXPORT uint8_t STUB_CALL isCAN_AttachedDevices(uint8_t mode, AttachedDevice *record)
{
    return driverCall(FAttachedDevices, args({mode}), [&](State &s) -> uint8_t {
        if (!record || (mode != 0x60 && mode != 0x80))
            return BadParameter;
        if (mode == 0x60)
            s.attachedCursor = 0;
        if (s.attachedCursor >= int(s.attachedSerials.size()))
            return NotFound;
        record->index = uint8_t(s.attachedCursor);
        record->serial = s.attachedSerials[size_t(s.attachedCursor)];
        ++s.attachedCursor;
        return Ok;
    });
}
#endif

STUB_EXPORT uint8_t STUB_CALL isCAN_StartMessageHandler(uint8_t device, Callback callback, void *user)
{
    return driverCall(FStartMessageHandler, args({device}), [&](State &s) -> uint8_t {
        if (device >= DeviceCount || !callback)
            return BadParameter;
        Device &d = s.devices[device];
        if (const uint8_t code = usable(d, true))
            return code;
        if (d.handler.joinable())
            return ThreadRunning;
        d.callback = callback;
        d.user = user;
        d.handlerStop = false;
        d.handler = std::thread(handlerLoop, &d, ++d.handlerGeneration);
        return Ok;
    });
}

STUB_EXPORT uint8_t STUB_CALL isCAN_StopMessageHandler(uint8_t device)
{
    return releasingCall(FStopMessageHandler, args({device}), [&](State &s, std::unique_lock<std::mutex> &lock) -> uint8_t {
        if (device >= DeviceCount)
            return BadParameter;
        stopHandler(s.devices[device], lock);
        return Ok;
    });
}

// ---- control functions for the tests ---------------------------------------

// Back to the default: device 0 configured as an attached isCAN USB with serial
// 0x1A2B, nothing forced, counters and log empty. No device may be open.
STUB_EXPORT void isCANStub_reset()
{
    State &s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    for (Device &d : s.devices) {
        stopHandler(d, lock);
        d.open = false;
        d.unplugged = false;
        d.queue.clear();
    }
    defaultConfiguration(s);
    std::fill(std::begin(s.forced), std::end(s.forced), -1);
    s.forcedAll = -1;
    std::fill(std::begin(s.calls), std::end(s.calls), 0);
    s.log.clear();
    s.delivered = 0;
    s.transmitted = 0;
    s.lastTransmit = Message {};
}

// Enters device `number` into the driver configuration; type 0 removes it.
STUB_EXPORT void isCANStub_configure(int number, int type, uint32_t serial, int attached, int busy)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (number < 0 || number >= DeviceCount)
        return;
    Device &d = s.devices[number];
    d.type = uint8_t(type);
    d.serial = serial;
    d.attached = attached != 0;
    d.busyElsewhere = busy != 0;
}

// The serial numbers that isCAN_AttachedDevices reports, in order.
STUB_EXPORT void isCANStub_setAttached(const uint32_t *serials, int count)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.attachedSerials.assign(serials, serials + (count > 0 ? count : 0));
}

// Every later call of `function` ("*": of every driver function without a
// result of its own) returns `code` without doing anything; a negative code
// lifts the rule.
STUB_EXPORT void isCANStub_force(const char *function, int code)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const int value = code < 0 ? -1 : code;
    if (std::strcmp(function, "*") == 0) {
        s.forcedAll = value;
    } else if (const int f = functionIndex(function); f >= 0) {
        s.forced[f] = value;
    }
}

// Appends raw 16-byte message records to the receive queue of an open device
// and wakes its message handler. Returns the number queued (0 when closed).
STUB_EXPORT int isCANStub_inject(int device, const void *records, int count)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (device < 0 || device >= DeviceCount || count <= 0)
        return 0;
    Device &d = s.devices[device];
    if (!d.open || d.unplugged)
        return 0;
    const auto *bytes = static_cast<const unsigned char *>(records);
    for (int i = 0; i < count; ++i) {
        Received r {Ok, {}};
        std::memcpy(&r.message, bytes + size_t(i) * sizeof(Message), sizeof(Message));
        d.queue.push_back(r);
    }
    d.readEmpty = false;
    ++d.arrivals;
    d.wake.notify_one();
    return count;
}

// Queues a result code (bus off, overrun, ...) that the next read returns in
// place of a frame, in order with the frames.
STUB_EXPORT int isCANStub_injectCode(int device, int code)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (device < 0 || device >= DeviceCount || !s.devices[device].open)
        return 0;
    pushReceived(s.devices[device], Received {uint8_t(code), {}});
    return 1;
}

// The adapter is pulled out: every call for the device fails with code 13,
// and the message handler is told once.
STUB_EXPORT void isCANStub_unplug(int device)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (device < 0 || device >= DeviceCount)
        return;
    Device &d = s.devices[device];
    d.unplugged = true;
    d.queue.clear();
    ++d.arrivals;
    d.wake.notify_one();
}

// The adapter is plugged in again. The driver has forgotten that the device
// was open: it must be initialised anew.
STUB_EXPORT void isCANStub_plug(int device)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (device < 0 || device >= DeviceCount)
        return;
    Device &d = s.devices[device];
    d.unplugged = false;
    d.open = false;
    d.queue.clear();
}

STUB_EXPORT uint64_t isCANStub_calls(const char *function)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const int f = functionIndex(function);
    return f < 0 ? 0 : s.calls[f];
}

// The calls made so far except receive and transmit, one "name(arguments)" a
// line; copies at most size - 1 bytes and returns the full length.
STUB_EXPORT int isCANStub_log(char *buffer, int size)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (buffer && size > 0) {
        const size_t n = std::min(s.log.size(), size_t(size - 1));
        std::memcpy(buffer, s.log.data(), n);
        buffer[n] = 0;
    }
    return int(s.log.size());
}

// True once a read found the device's queue empty after everything queued:
// the reader has acted on every code it fetched.
STUB_EXPORT int isCANStub_drained(int device)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (device < 0 || device >= DeviceCount)
        return 0;
    return s.devices[device].queue.empty() && s.devices[device].readEmpty ? 1 : 0;
}

// Frames handed out by isCAN_ReceiveMessageEx since the last reset.
STUB_EXPORT uint64_t isCANStub_delivered()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.delivered;
}

// Frames sent since the last reset; copies the last one into `record` (16 bytes).
STUB_EXPORT uint64_t isCANStub_transmitted(void *record)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (record)
        std::memcpy(record, &s.lastTransmit, sizeof(Message));
    return s.transmitted;
}

// Devices open and message-handler threads running, for leak checks.
STUB_EXPORT int isCANStub_openDevices()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    int n = 0;
    for (const Device &d : s.devices)
        n += d.open ? 1 : 0;
    return n;
}

// Callbacks that the handler threads have entered and not yet left (a
// detached handler's too).
STUB_EXPORT int isCANStub_callbacksInFlight()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.callbacksInFlight;
}

// Lets every callback held at its entry go on (STUB_STOP_DOES_NOT_WAIT).
STUB_EXPORT void isCANStub_releaseCallbacks()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.releasedCallbacks = s.heldCallbacks;
    s.release.notify_all();
}

STUB_EXPORT int isCANStub_handlerThreads()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    int n = 0;
    for (const Device &d : s.devices)
        n += d.handler.joinable() ? 1 : 0;
    return n;
}
