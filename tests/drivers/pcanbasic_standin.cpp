// Stand-in for the PCAN-Basic library, built for the tests: the same C
// exports with the same record layouts over a virtual loopback bus, plus a
// control interface (PcanStandIn_*) through which a test injects frames,
// forces status codes, refuses features and counts calls.
//
// The records are written byte by byte at their documented offsets, not
// through the program's own structures, so a layout mistake there shows.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

enum : uint32_t {
    Ok = 0,
    QueueEmpty = 0x20,
    QueueOverrun = 0x40,
    IllegalHardware = 0x1400,
    IllegalParameterType = 0x4000,
    IllegalParameterValue = 0x8000,
    AlreadyInitialized = 0x4000000 | 0x0400,
    NotInitialized = 0x4000000,
};

struct Received
{
    uint8_t record[16];
    uint32_t millis;
    uint16_t overflow;
    uint16_t micros;
};

struct Channel
{
    bool initialized = false;
    uint16_t btr = 0;
    bool listenOnly = false;
    bool errorFrames = false;
    bool echoes = false;
    int eventFd = -1;
    bool overrun = false;
    uint64_t generation = 0;              // which opening of the channel
    std::deque<Received> queue;
};

struct Attached
{
    uint16_t handle;
    uint8_t deviceType;
    uint8_t controller;
    uint32_t features;
    std::string name;
    uint32_t deviceId;
    uint32_t condition;
};

std::vector<Attached> defaultAttached()
{
    return {
        {0x51, 0x05, 0, 0, "PCAN-USB", 0, 0x01},
        {0x52, 0x05, 1, 1, "PCAN-USB FD", 5, 0x03},
    };
}

struct State
{
    std::mutex mutex;
    std::map<uint16_t, Channel> channels;
    std::vector<Attached> attached = defaultAttached();
    std::vector<Received> written;        // frames put on the bus, oldest first
    std::map<std::string, uint32_t> forced;
    std::map<std::string, uint64_t> calls;
    bool refuseEvent = false;
    bool refuseListenOnly = false;
    bool refuseEcho = false;
    bool legacy = false;                  // no attached-channel parameters
    bool unplugged = false;
    size_t queueLimit = 1u << 24;
    uint32_t trafficAtInitialize = 0;
    uint32_t transmitDelayMs = 0;
    std::string sentLog;
    uint64_t openings = 0;
    std::chrono::steady_clock::time_point zero = std::chrono::steady_clock::now();

    // A process that cannot call the control interface (busvista-cli in a
    // test) sets it up through the environment:
    // PCANBASIC_STANDIN_TRAFFIC=N       N numbered frames 100h wait in every channel opened
    // PCANBASIC_STANDIN_FORCE=FUNC=HEX  status forced on a function
    // PCANBASIC_STANDIN_REFUSE=FEATURE  event, listenOnly or echo refused
    // PCANBASIC_STANDIN_TXDELAY=MS      a written frame leaves MS later, as a
    //                                   busy controller sends it; a channel
    //                                   closed before then drops it
    // PCANBASIC_STANDIN_SENTLOG=PATH    each frame that left: "ID B0 B1 …" (hex)
    State()
    {
        if (const char *delay = std::getenv("PCANBASIC_STANDIN_TXDELAY"))
            transmitDelayMs = uint32_t(std::strtoul(delay, nullptr, 10));
        if (const char *log = std::getenv("PCANBASIC_STANDIN_SENTLOG"))
            sentLog = log;
        if (const char *traffic = std::getenv("PCANBASIC_STANDIN_TRAFFIC"))
            trafficAtInitialize = uint32_t(std::strtoul(traffic, nullptr, 10));
        if (const char *force = std::getenv("PCANBASIC_STANDIN_FORCE")) {
            const std::string text = force;
            const size_t at = text.find('=');
            if (at != std::string::npos)
                forced[text.substr(0, at)] = uint32_t(std::strtoul(text.c_str() + at + 1, nullptr, 16));
        }
        if (const char *refuse = std::getenv("PCANBASIC_STANDIN_REFUSE")) {
            const std::string feature = refuse;
            refuseEvent = feature == "event";
            refuseListenOnly = feature == "listenOnly";
            refuseEcho = feature == "echo";
        }
    }
};

// Never destroyed: a frame still waiting to leave (a detached sender) may
// look at it while the process exits.
State &state()
{
    static State *s = new State;
    return *s;
}

// Counts the call and returns the status forced on it ("*" forces every call).
bool forcedStatus(State &s, const char *function, uint32_t *status, bool needsHardware = true)
{
    ++s.calls[function];
    if (s.unplugged && needsHardware) {
        *status = IllegalHardware;
        return true;
    }
    auto found = s.forced.find(function);
    if (found == s.forced.end())
        found = s.forced.find("*");
    if (found == s.forced.end() || found->second == Ok)
        return false;
    *status = found->second;
    return true;
}

constexpr bool NoHardware = false;

// Runs the body of an export under the state lock after counting the call;
// a forced status (or the unplugged adapter) replaces the body.
template <typename Body>
uint32_t apiCall(const char *function, bool needsHardware, Body body)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    uint32_t status = Ok;
    if (forcedStatus(s, function, &status, needsHardware))
        return status;
    return body(s);
}

template <typename Body>
uint32_t apiCall(const char *function, Body body)
{
    return apiCall(function, true, body);
}

void signal(const Channel &channel)
{
    if (channel.eventFd < 0)
        return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(channel.eventFd, &one, sizeof one);
}

void stampNow(const State &s, Received *entry)
{
    const uint64_t us = uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now() - s.zero).count());
    const uint64_t ms = us / 1000;
    entry->millis = uint32_t(ms);
    entry->overflow = uint16_t(ms >> 32);
    entry->micros = uint16_t(us % 1000);
}

void push(State &s, Channel &channel, const Received &entry)
{
    if (channel.queue.size() >= s.queueLimit) {
        channel.overrun = true;
        return;
    }
    channel.queue.push_back(entry);
}

uint32_t read32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void write16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void write32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

Received messageRecord(uint32_t id, uint8_t type, uint8_t length, const uint8_t *data)
{
    Received entry {};
    write32(entry.record, id);
    entry.record[4] = type;
    entry.record[5] = length;
    if (data)
        std::memcpy(entry.record + 6, data, 8);
    return entry;
}

Channel *initializedChannel(State &s, uint16_t handle)
{
    auto found = s.channels.find(handle);
    return found != s.channels.end() && found->second.initialized ? &found->second : nullptr;
}

} // namespace

// ---- The library's exports ----------------------------------------------

// The frame leaves the controller of `channel`: it reaches every other
// open channel, and this one as the echo when asked for. Caller holds the lock.
void transmit(State &s, uint16_t channel, Received entry)
{
    stampNow(s, &entry);
    s.written.push_back(entry);
    if (!s.sentLog.empty()) {
        if (FILE *log = std::fopen(s.sentLog.c_str(), "a")) {
            std::fprintf(log, "%X", unsigned(read32(entry.record) & 0x1FFFFFFF));
            for (int i = 0; i < std::min<int>(entry.record[5], 8); ++i)
                std::fprintf(log, " %02X", entry.record[6 + i]);
            std::fprintf(log, "\n");
            std::fclose(log);
        }
    }
    for (auto &[handle, other] : s.channels) {
        if (!other.initialized)
            continue;
        if (handle != channel) {
            push(s, other, entry);
            signal(other);
        } else if (other.echoes) {
            Received echo = entry;
            echo.record[4] |= 0x20;
            push(s, other, echo);
            signal(other);
        }
    }
}

#ifndef STANDIN_OMIT_CAN_Initialize
EXPORT uint32_t CAN_Initialize(uint16_t channel, uint16_t btr, uint8_t, uint32_t, uint16_t)
{
    return apiCall("CAN_Initialize", [&](State &s) -> uint32_t {
        Channel &c = s.channels[channel];
        if (c.initialized)
            return AlreadyInitialized;
        const bool listenOnly = c.listenOnly;
        c = Channel {};
        c.initialized = true;
        c.generation = ++s.openings;
        c.btr = btr;
        c.listenOnly = listenOnly;
        for (uint32_t i = 0; i < s.trafficAtInitialize; ++i) {
            uint8_t data[8] = {};
            write32(data, i);
            Received entry = messageRecord(0x100, 0, 8, data);
            entry.millis = i;
            c.queue.push_back(entry);
        }
        return Ok;
    });
}
#endif

#ifndef STANDIN_OMIT_CAN_Uninitialize
EXPORT uint32_t CAN_Uninitialize(uint16_t channel)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    uint32_t status = Ok;
    const bool forced = forcedStatus(s, "CAN_Uninitialize", &status);
    // Even a failing uninitialise forgets the event: the caller closes it next.
    auto found = s.channels.find(channel);
    if (found != s.channels.end())
        found->second = Channel {};
    return forced ? status : (found != s.channels.end() ? Ok : NotInitialized);
}
#endif

#ifndef STANDIN_OMIT_CAN_Reset
EXPORT uint32_t CAN_Reset(uint16_t channel)
{
    return apiCall("CAN_Reset", [&](State &s) -> uint32_t {
        Channel *c = initializedChannel(s, channel);
        if (!c)
            return NotInitialized;
        c->queue.clear();
        c->overrun = false;
        return Ok;
    });
}
#endif

#ifndef STANDIN_OMIT_CAN_GetStatus
EXPORT uint32_t CAN_GetStatus(uint16_t channel)
{
    return apiCall("CAN_GetStatus", [&](State &s) -> uint32_t {
        return initializedChannel(s, channel) ? Ok : NotInitialized;
    });
}
#endif

#ifndef STANDIN_OMIT_CAN_Read
EXPORT uint32_t CAN_Read(uint16_t channel, void *message, void *timestamp)
{
    return apiCall("CAN_Read", [&](State &s) -> uint32_t {
        Channel *c = initializedChannel(s, channel);
        if (!c)
            return NotInitialized;
        if (c->overrun) {
            c->overrun = false;
            return QueueOverrun;
        }
        if (c->queue.empty())
            return QueueEmpty;
        const Received entry = c->queue.front();
        c->queue.pop_front();
        ++s.calls["delivered"];
        std::memcpy(message, entry.record, 16);
        if (timestamp) {
            auto *t = static_cast<uint8_t *>(timestamp);
            write32(t, entry.millis);
            write16(t + 4, entry.overflow);
            write16(t + 6, entry.micros);
        }
        // A status message carries its status in the result as well.
        const uint8_t type = entry.record[4];
        return (type & 0x80) ? read32(entry.record + 6) : Ok;
    });
}
#endif

#ifndef STANDIN_OMIT_CAN_Write
EXPORT uint32_t CAN_Write(uint16_t channel, void *message)
{
    return apiCall("CAN_Write", [&](State &s) -> uint32_t {
        Channel *c = initializedChannel(s, channel);
        if (!c)
            return NotInitialized;
        if (c->listenOnly)
            return IllegalParameterValue;
        Received entry {};
        std::memcpy(entry.record, message, 16);
        entry.record[4] &= 0x03;      // only remote and extended travel on the bus
        entry.record[14] = entry.record[15] = 0;
        if (s.transmitDelayMs == 0) {
            transmit(s, channel, entry);
            return Ok;
        }
        const uint64_t generation = c->generation;
        std::thread([channel, entry, generation, delay = s.transmitDelayMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            State &later = state();
            std::lock_guard<std::mutex> lock(later.mutex);
            const auto found = later.channels.find(channel);
            if (found != later.channels.end() && found->second.initialized && found->second.generation == generation)
                transmit(later, channel, entry);
        }).detach();
        return Ok;
    });
}
#endif

#ifndef STANDIN_OMIT_CAN_FilterMessages
EXPORT uint32_t CAN_FilterMessages(uint16_t, uint32_t, uint32_t, uint8_t)
{
    return apiCall("CAN_FilterMessages", [&](State &) -> uint32_t {
        return Ok;
    });
}
#endif

#ifndef STANDIN_OMIT_CAN_GetValue
EXPORT uint32_t CAN_GetValue(uint16_t channel, uint8_t parameter, void *buffer, uint32_t length)
{
    return apiCall("CAN_GetValue", [&](State &s) -> uint32_t {
        auto *out = static_cast<uint8_t *>(buffer);
        const Attached *device = nullptr;
        for (const Attached &a : s.attached) {
            if (a.handle == channel)
                device = &a;
        }
        switch (parameter) {
        case 0x05: { // API version
            const char version[] = "4.6.0.600";
            if (channel != 0 || length < sizeof version)
                return IllegalParameterValue;
            std::memcpy(out, version, sizeof version);
            return Ok;
        }
        case 0x01: // device ID
            if (!device || length != 4)
                return IllegalParameterValue;
            write32(out, device->deviceId);
            return Ok;
        case 0x0E: // hardware name
            if (!device || length < 33)
                return IllegalParameterValue;
            std::memset(out, 0, length);
            std::memcpy(out, device->name.data(), std::min<size_t>(device->name.size(), 32));
            return Ok;
        case 0x0D: // channel condition
            if (length != 4)
                return IllegalParameterValue;
            write32(out, device ? device->condition : 0);
            return Ok;
        case 0x2A: // attached channel count
            if (s.legacy)
                return IllegalParameterType;
            if (channel != 0 || length != 4)
                return IllegalParameterValue;
            write32(out, uint32_t(s.attached.size()));
            return Ok;
        case 0x2B: // attached channels
            if (s.legacy)
                return IllegalParameterType;
            if (channel != 0 || length < s.attached.size() * 52)
                return IllegalParameterValue;
            std::memset(out, 0, length);
            for (size_t i = 0; i < s.attached.size(); ++i) {
                const Attached &a = s.attached[i];
                uint8_t *r = out + 52 * i;
                write16(r, a.handle);
                r[2] = a.deviceType;
                r[3] = a.controller;
                write32(r + 4, a.features);
                std::memcpy(r + 8, a.name.data(), std::min<size_t>(a.name.size(), 32));
                write32(r + 44, a.deviceId);
                write32(r + 48, a.condition);
            }
            return Ok;
        default:
            return IllegalParameterType;
        }
    });
}
#endif

#ifndef STANDIN_OMIT_CAN_SetValue
EXPORT uint32_t CAN_SetValue(uint16_t channel, uint8_t parameter, void *buffer, uint32_t length)
{
    return apiCall("CAN_SetValue", [&](State &s) -> uint32_t {
        const auto *in = static_cast<const uint8_t *>(buffer);
        switch (parameter) {
        case 0x08: { // listen-only, set before initialising
            if (length != 4)
                return IllegalParameterValue;
            const bool on = read32(in) != 0;
            if (on && s.refuseListenOnly)
                return IllegalParameterType;
            s.channels[channel].listenOnly = on;
            return Ok;
        }
        case 0x20:
        case 0x2C: {
            Channel *c = initializedChannel(s, channel);
            if (!c || length != 4)
                return c ? IllegalParameterValue : NotInitialized;
            if (parameter == 0x2C && s.refuseEcho)
                return IllegalParameterType;
            (parameter == 0x20 ? c->errorFrames : c->echoes) = read32(in) != 0;
            return Ok;
        }
        case 0x03: { // receive event: an eventfd as an 8-byte handle, 0 detaches
            Channel *c = initializedChannel(s, channel);
            if (!c)
                return NotInitialized;
            if (length != 8)
                return IllegalParameterValue;
            uint64_t handle = 0;
            std::memcpy(&handle, in, 8);
            if (handle != 0 && s.refuseEvent)
                return IllegalParameterType;
            c->eventFd = handle == 0 ? -1 : int(handle);
            if (c->eventFd >= 0 && !c->queue.empty())
                signal(*c);
            return Ok;
        }
        default:
            return IllegalParameterType;
        }
    });
}
#endif

#ifndef STANDIN_OMIT_CAN_GetErrorText
EXPORT uint32_t CAN_GetErrorText(uint32_t error, uint16_t language, char *buffer)
{
    return apiCall("CAN_GetErrorText", NoHardware, [&](State &) -> uint32_t {
        static const std::map<uint32_t, const char *> texts = {
            {0x00000, "Kein Fehler"},
            {0x00001, "Sendepuffer im Controller ist voll"},
            {0x00010, "Bus-Off"},
            {0x00020, "Empfangsqueue ist leer"},
            {0x00040, "Empfangsqueue wurde überlesen"},
            {0x01400, "Ungültiges Hardware-Handle"},
            {0x04000, "Ungültiger Parametertyp"},
            {0x04400, "Kanal ist bereits initialisiert"},
        };
        const auto found = texts.find(error);
        if (found == texts.end() || language != 0x07)
            return IllegalParameterValue;
        // The texts are written in the local 8-bit code page, like the vendor's.
        std::strncpy(buffer, found->second, 255);
        return Ok;
    });
}
#endif

// ---- Control interface for the tests --------------------------------------

EXPORT void PcanStandIn_Reset()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.channels.clear();
    s.attached = defaultAttached();
    s.written.clear();
    s.forced.clear();
    s.calls.clear();
    s.refuseEvent = s.refuseListenOnly = s.refuseEcho = s.legacy = s.unplugged = false;
    s.queueLimit = 1u << 24;
    s.trafficAtInitialize = 0;
}

EXPORT void PcanStandIn_ClearAttached()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.attached.clear();
}

EXPORT void PcanStandIn_AddAttached(uint16_t handle, const char *name, uint32_t deviceId, uint8_t controller,
                                    uint32_t features, uint32_t condition)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.attached.push_back({handle, 0x05, controller, features, name ? name : "", deviceId, condition});
}

// An older library without the attached-channel parameters.
EXPORT void PcanStandIn_SetLegacy(int on)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.legacy = on != 0;
}

// Forces `status` on every call of `function` ("*": every function); 0 lifts it.
EXPORT void PcanStandIn_ForceStatus(const char *function, uint32_t status)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.forced[function] = status;
}

EXPORT void PcanStandIn_Refuse(const char *feature, int on)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const std::string name = feature;
    if (name == "event")
        s.refuseEvent = on != 0;
    else if (name == "listenOnly")
        s.refuseListenOnly = on != 0;
    else if (name == "echo")
        s.refuseEcho = on != 0;
}

// The adapter is pulled: every call fails from now on and waiting readers wake.
EXPORT void PcanStandIn_Unplug()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.unplugged = true;
    for (auto &entry : s.channels)
        signal(entry.second);
}

// The adapter is plugged in again. The driver has forgotten the channels that
// were open: they answer "not initialised" until they are initialised anew.
EXPORT void PcanStandIn_Plug()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.unplugged = false;
    for (auto &entry : s.channels) {
        signal(entry.second);
        entry.second = Channel {};
    }
}

EXPORT void PcanStandIn_SetQueueLimit(uint32_t limit)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.queueLimit = limit;
}

// One received message with the driver's own time stamp; false when the
// channel is not initialised.
EXPORT int PcanStandIn_Inject(uint16_t channel, uint32_t id, uint8_t type, uint8_t length, const uint8_t *data,
                              uint32_t millis, uint16_t overflow, uint16_t micros)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    Channel *c = initializedChannel(s, channel);
    if (!c)
        return 0;
    Received entry = messageRecord(id, type, length, data);
    entry.millis = millis;
    entry.overflow = overflow;
    entry.micros = micros;
    push(s, *c, entry);
    signal(*c);
    return 1;
}

// `count` standard 8-byte frames in one go, numbered from `first` in the
// first four data bytes (little-endian) and 10 us apart in driver time.
EXPORT uint32_t PcanStandIn_InjectNumbered(uint16_t channel, uint32_t id, uint32_t first, uint32_t count)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    Channel *c = initializedChannel(s, channel);
    if (!c)
        return 0;
    uint32_t accepted = 0;
    for (uint32_t i = 0; i < count && c->queue.size() < s.queueLimit; ++i, ++accepted) {
        uint8_t data[8] = {};
        write32(data, first + i);
        Received entry = messageRecord(id, 0, 8, data);
        const uint64_t us = uint64_t(first + i) * 10;
        entry.millis = uint32_t(us / 1000);
        entry.micros = uint16_t(us % 1000);
        c->queue.push_back(entry);
    }
    signal(*c);
    return accepted;
}

EXPORT uint32_t PcanStandIn_Queued(uint16_t channel)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const Channel *c = initializedChannel(s, channel);
    return c ? uint32_t(c->queue.size()) : 0;
}

EXPORT uint64_t PcanStandIn_Calls(const char *function)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto found = s.calls.find(function);
    return found == s.calls.end() ? 0 : found->second;
}

EXPORT int PcanStandIn_InitializedChannels()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return int(std::count_if(s.channels.begin(), s.channels.end(),
                             [](const auto &entry) { return entry.second.initialized; }));
}

// The settings a channel was opened with: BTR word, listen-only, error
// frames, echoes, attached event; -1 when it is not initialised.
EXPORT int PcanStandIn_ChannelSetting(uint16_t channel, const char *what)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const Channel *c = initializedChannel(s, channel);
    if (!c)
        return -1;
    const std::string name = what;
    if (name == "btr")
        return c->btr;
    if (name == "listenOnly")
        return c->listenOnly;
    if (name == "errorFrames")
        return c->errorFrames;
    if (name == "echoes")
        return c->echoes;
    if (name == "event")
        return c->eventFd >= 0;
    return -1;
}

// Copies the raw 16-byte records of the frames put on the bus, oldest first,
// and forgets them; returns how many there were.
EXPORT uint32_t PcanStandIn_TakeWritten(uint8_t *records, uint32_t max)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const uint32_t n = uint32_t(std::min<size_t>(max, s.written.size()));
    for (uint32_t i = 0; i < n; ++i)
        std::memcpy(records + 16 * i, s.written[i].record, 16);
    s.written.erase(s.written.begin(), s.written.begin() + n);
    return n;
}
