#pragma once

#include "dllloader.h"

#include <QString>

#include <cstddef>
#include <cstdint>

// The isCAN driver library (isCANdrv.dll), loaded at run time, and the
// translation tables of its API. The records and function types use
// fixed-width types so that they match the driver on every system.
namespace IsCan {

#pragma pack(push, 1)
// One CAN message as the driver sends and receives it (16 bytes).
struct Message
{
    uint32_t identifier;
    uint8_t extended;
    uint8_t remote;
    uint8_t length;
    uint8_t data[8];
    uint8_t reserved; // always 0
};

// One device number of the driver configuration (7 bytes, serial unaligned).
struct Configuration
{
    uint8_t type; // 0: no device configured under this number
    uint32_t serial;
    uint8_t attached;
    uint8_t busy;
};

// One attached device as the attached-device walk reports it (8 bytes).
struct AttachedDevice
{
    uint8_t index;
    uint32_t serial;
    uint8_t reserved[3];
};
#pragma pack(pop)

static_assert(sizeof(Message) == 16 && offsetof(Message, extended) == 4 && offsetof(Message, remote) == 5
                  && offsetof(Message, length) == 6 && offsetof(Message, data) == 7,
              "isCAN message record");
static_assert(sizeof(Configuration) == 7 && offsetof(Configuration, serial) == 1
                  && offsetof(Configuration, attached) == 5 && offsetof(Configuration, busy) == 6,
              "isCAN configuration record");
static_assert(sizeof(AttachedDevice) == 8 && offsetof(AttachedDevice, serial) == 1,
              "isCAN attached-device record");

// Called by the driver from a thread of its own when messages arrived.
using MessageCallback = void(BV_DRIVER_CALL *)(uint8_t code, void *user);

// Result codes the backend acts on; texts for all of them in errorText.
enum Result : uint8_t {
    NoError = 0,
    NoMessage = 8,
    BufferOverrun = 11,
    DeviceUnplugged = 13,
    BusError = 16,
    BusOff = 17,
    ErrorPassive = 18,
    ControllerOverrun = 19,
    ErrorWarning = 20,
    BusReset = 22,
    TransmitBusError = 30,
    NoAcknowledge = 31,
};

// First and next device of the attached-device walk.
constexpr uint8_t AttachedFirst = 0x60;
constexpr uint8_t AttachedNext = 0x80;

class Library : public DllLoader
{
public:
    static Library *instance();

    // The file the default search looks for: "isCANdrv.dll" on Windows,
    // "libisCANdrv.so" elsewhere; the name in messages.
    static QString fileName();

    // True when the library is loaded and complete, now or already before
    // with the same path.
    bool load(const QString &path, QString *error);
    void resetFunctions() override;

    uint8_t(BV_DRIVER_CALL *deviceInitEx)(uint8_t device, uint8_t baud) = nullptr;
    uint8_t(BV_DRIVER_CALL *setBaudRegister)(uint8_t device, uint8_t btr0, uint8_t btr1) = nullptr;
    uint8_t(BV_DRIVER_CALL *setMessageExId)(uint8_t device, uint32_t mask) = nullptr;
    uint8_t(BV_DRIVER_CALL *transmitMessageEx)(uint8_t device, Message *message) = nullptr;
    uint8_t(BV_DRIVER_CALL *receiveMessageEx)(uint8_t device, Message *message) = nullptr;
    uint8_t(BV_DRIVER_CALL *closeDevice)(uint8_t device) = nullptr;
    uint8_t(BV_DRIVER_CALL *setupDevice)(uint8_t device, uint8_t a, uint8_t b, uint8_t c) = nullptr;
    uint8_t(BV_DRIVER_CALL *getDriverConfiguration)(uint8_t device, Configuration *configuration) = nullptr;
    uint8_t(BV_DRIVER_CALL *attachedDevices)(uint8_t mode, AttachedDevice *record) = nullptr;
    uint8_t(BV_DRIVER_CALL *startMessageHandler)(uint8_t device, MessageCallback callback, void *user) = nullptr;
    uint8_t(BV_DRIVER_CALL *stopMessageHandler)(uint8_t device) = nullptr;

private:
    Library() = default;
};

// The driver's baud-rate constant of a BTR0/BTR1 word; 0 when it has none.
int baudConstant(quint16 btr);
QString errorText(quint8 code);
QString deviceTypeName(quint8 type);

} // namespace IsCan
