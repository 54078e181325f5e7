#pragma once

#include <QString>

#include <cstdint>

#include <dlfcn.h>

// The control interface of the PCAN-Basic stand-in library, resolved from the
// same file the program loads, so both see one library instance. Opened with
// dlopen, not QLibrary: Qt shares one state between QLibrary objects of the
// same file, and the program's unload would then unmap it under the test.
class PcanStandIn
{
public:
    static QString path() { return QStringLiteral(PCAN_STANDIN); }
    // A build of the stand-in that lacks one export.
    static QString pathWithout(const char *exportName)
    {
        return QStringLiteral(PCAN_STANDIN_DIR "/libPCANBasic_no%1.so").arg(QString::fromLatin1(exportName));
    }

    PcanStandIn()
        : m_handle(dlopen(PCAN_STANDIN, RTLD_NOW | RTLD_LOCAL))
    {
        resolve(reset, "PcanStandIn_Reset");
        resolve(clearAttached, "PcanStandIn_ClearAttached");
        resolve(addAttached, "PcanStandIn_AddAttached");
        resolve(setLegacy, "PcanStandIn_SetLegacy");
        resolve(forceStatus, "PcanStandIn_ForceStatus");
        resolve(refuse, "PcanStandIn_Refuse");
        resolve(unplug, "PcanStandIn_Unplug");
        resolve(plug, "PcanStandIn_Plug");
        resolve(setQueueLimit, "PcanStandIn_SetQueueLimit");
        resolve(inject, "PcanStandIn_Inject");
        resolve(injectNumbered, "PcanStandIn_InjectNumbered");
        resolve(queued, "PcanStandIn_Queued");
        resolve(calls, "PcanStandIn_Calls");
        resolve(initializedChannels, "PcanStandIn_InitializedChannels");
        resolve(channelSetting, "PcanStandIn_ChannelSetting");
        resolve(takeWritten, "PcanStandIn_TakeWritten");
        if (isValid())
            reset();
    }

    ~PcanStandIn()
    {
        if (m_handle)
            dlclose(m_handle);
    }
    PcanStandIn(const PcanStandIn &) = delete;
    PcanStandIn &operator=(const PcanStandIn &) = delete;

    bool isValid() const { return m_complete && m_handle; }

    void (*reset)() = nullptr;
    void (*clearAttached)() = nullptr;
    void (*addAttached)(uint16_t handle, const char *name, uint32_t deviceId, uint8_t controller,
                        uint32_t features, uint32_t condition) = nullptr;
    void (*setLegacy)(int on) = nullptr;
    void (*forceStatus)(const char *function, uint32_t status) = nullptr;
    void (*refuse)(const char *feature, int on) = nullptr;
    void (*unplug)() = nullptr;
    void (*plug)() = nullptr;
    void (*setQueueLimit)(uint32_t limit) = nullptr;
    int (*inject)(uint16_t channel, uint32_t id, uint8_t type, uint8_t length, const uint8_t *data,
                  uint32_t millis, uint16_t overflow, uint16_t micros) = nullptr;
    uint32_t (*injectNumbered)(uint16_t channel, uint32_t id, uint32_t first, uint32_t count) = nullptr;
    uint32_t (*queued)(uint16_t channel) = nullptr;
    uint64_t (*calls)(const char *function) = nullptr;
    int (*initializedChannels)() = nullptr;
    int (*channelSetting)(uint16_t channel, const char *what) = nullptr;
    uint32_t (*takeWritten)(uint8_t *records, uint32_t max) = nullptr;

private:
    template<typename F>
    void resolve(F &target, const char *name)
    {
        target = m_handle ? reinterpret_cast<F>(dlsym(m_handle, name)) : nullptr;
        m_complete = m_complete && target;
    }

    void *m_handle = nullptr;
    bool m_complete = true;
};
