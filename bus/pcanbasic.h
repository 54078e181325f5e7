#pragma once

#include "dllloader.h"

#include <QtGlobal>

#include <cstddef>

// The PEAK-System PCAN-Basic library, loaded at run time: its records, the
// codes this program uses, the resolved exports and the small translation
// tables of the API. Fixed-width types throughout, so the same declarations
// fit the Windows library and the Linux one (DWORD 32, WORD 16, BYTE 8 bits).
namespace PcanBasic {

// One CAN message as the library reads and writes it (16 bytes).
struct Message
{
    quint32 id;
    quint8 type;       // MessageType bits
    quint8 length;
    quint8 data[8];
};

struct Timestamp
{
    quint32 millis;
    quint16 millisOverflow;   // wraps of millis
    quint16 micros;           // within the millisecond
};

// One attached channel (52 bytes).
struct ChannelInformation
{
    quint16 handle;
    quint8 deviceType;
    quint8 controllerNumber;
    quint32 deviceFeatures;   // bit 0: CAN FD capable
    char deviceName[33];
    quint32 deviceId;
    quint32 condition;        // bit 0 available, bit 1 occupied
};

static_assert(sizeof(Message) == 16 && offsetof(Message, data) == 6, "message record layout");
static_assert(sizeof(Timestamp) == 8 && offsetof(Timestamp, micros) == 6, "time-stamp record layout");
static_assert(sizeof(ChannelInformation) == 52 && offsetof(ChannelInformation, deviceName) == 8
                  && offsetof(ChannelInformation, deviceId) == 44 && offsetof(ChannelInformation, condition) == 48,
              "channel-information record layout");

enum MessageType : quint8 {
    TypeRemote = 0x01,
    TypeExtended = 0x02,
    TypeEcho = 0x20,
    TypeErrorFrame = 0x40,
    TypeStatus = 0x80,
};

enum Status : quint32 {
    StatusOk = 0,
    StatusReceiveQueueEmpty = 0x20,
    // The handle no longer names working hardware: the adapter was unplugged.
    StatusIllegalHardware = 0x1400,
    StatusHandleMask = 0x1C00,
    StatusNotInitialized = 0x4000000,
};

enum Parameter : quint8 {
    ParamDeviceId = 0x01,
    ParamReceiveEvent = 0x03,
    ParamApiVersion = 0x05,
    ParamListenOnly = 0x08,
    ParamChannelCondition = 0x0D,
    ParamHardwareName = 0x0E,
    ParamErrorFrames = 0x20,
    ParamAttachedChannelCount = 0x2A,
    ParamAttachedChannels = 0x2B,
    ParamEchoFrames = 0x2C,
};

using InitializeFunction = quint32(BV_DRIVER_CALL *)(quint16 channel, quint16 btr, quint8 hardwareType,
                                                      quint32 ioPort, quint16 interrupt);
using ChannelFunction = quint32(BV_DRIVER_CALL *)(quint16 channel);
using ReadFunction = quint32(BV_DRIVER_CALL *)(quint16 channel, Message *message, Timestamp *timestamp);
using WriteFunction = quint32(BV_DRIVER_CALL *)(quint16 channel, Message *message);
using FilterMessagesFunction = quint32(BV_DRIVER_CALL *)(quint16 channel, quint32 fromId, quint32 toId, quint8 mode);
using ValueFunction = quint32(BV_DRIVER_CALL *)(quint16 channel, quint8 parameter, void *buffer, quint32 length);
using ErrorTextFunction = quint32(BV_DRIVER_CALL *)(quint32 status, quint16 language, char *buffer);

class Library : public DllLoader
{
public:
    static Library *instance();

    // True when the library is loaded and complete, now or from before with
    // the same path. An empty path searches the platform's library path.
    bool load(const QString &path, QString *error);
    void resetFunctions() override;

    // The file the default search looks for first: "PCANBasic.dll" on
    // Windows, "libpcanbasic.so" elsewhere; the name in messages.
    static QString fileName();

    // The library's API version text; empty when it reports none.
    QString apiVersion() const;
    // German driver text of a status with its code, else "Fehlercode 0x...".
    QString errorText(unsigned long status) const;

    InitializeFunction initialize = nullptr;     // CAN_Initialize
    ChannelFunction uninitialize = nullptr;      // CAN_Uninitialize
    ChannelFunction reset = nullptr;             // CAN_Reset
    ChannelFunction getStatus = nullptr;         // CAN_GetStatus
    ReadFunction read = nullptr;                 // CAN_Read
    WriteFunction write = nullptr;               // CAN_Write
    FilterMessagesFunction filterMessages = nullptr; // CAN_FilterMessages
    ValueFunction getValue = nullptr;            // CAN_GetValue
    ValueFunction setValue = nullptr;            // CAN_SetValue
    ErrorTextFunction getErrorText = nullptr;    // CAN_GetErrorText

private:
    Library() = default;
};

// "PCAN-USB 1", "PCAN-PCI 9", "PCAN-LAN 16", or "Kanal 0x1" for other handles.
QString channelName(quint16 handle);

// A status of the library as bits of CanBackend's bus-status set.
quint32 busStatusBits(quint32 status);

// Whether a status says the channel's hardware is gone (unplugged adapter).
bool isHardwareGone(quint32 status);

} // namespace PcanBasic
