#pragma once

#include <QList>
#include <QString>

// Linux's own CAN network interfaces (can0, vcan0): which exist, whether
// they are up, their bit rate and controller state, and the texts the
// connection dialog and the CLI show about them.
namespace SocketCan {

// Controller states as the kernel reports them through netlink.
enum ControllerState {
    StateUnknown = -1,
    StateErrorActive = 0,
    StateErrorWarning,
    StateErrorPassive,
    StateBusOff,
    StateStopped,
    StateSleeping,
};

struct InterfaceInfo
{
    QString name;
    bool up = false;
    bool isVirtual = false;                 // vcan: no device behind it, no bit rate
    quint32 bitrate = 0;                    // bit/s; 0: not reported
    int state = StateUnknown;               // ControllerState
};

// False when the kernel has no CAN sockets (address family missing).
bool available();

// Every network interface of type CAN (ARPHRD_CAN = 280), sorted by name.
// Empty with a German message when there is none or SocketCAN is missing.
QList<InterfaceInfo> interfaces(QString *error);

// The state of one interface; false when it does not exist.
bool interfaceInfo(const QString &name, InterfaceInfo *info);

// Bit rate and controller state through netlink (libsocketcan); what the
// kernel does not report stays 0 / StateUnknown.
void queryController(const QString &name, quint32 *bitrate, int *state);

// "500 kBit/s", "1 MBit/s", "83,333 kBit/s", "47 Bit/s".
QString bitrateText(quint32 bitrate);
// German name of a controller state; empty for StateUnknown.
QString stateText(int state);
// "aktiv, 500 kBit/s, Error active"
QString interfaceDetails(const InterfaceInfo &info);
// "can0   —   aktiv, 500 kBit/s, Error active"
QString interfaceText(const InterfaceInfo &info);

// The German hint for an interface that is down, with the command that
// brings it up (root needed): "ip link set can0 up type can bitrate 500000",
// for vcan without the bit rate.
QString bringUpHint(const QString &name, quint32 bitrate);

QString notAvailableText();

// Directory of the network interfaces in sysfs ("/sys/class/net"); the
// environment variable BUSVISTA_SYSFS_NET replaces it, for tests.
QString sysfsNetDir();

} // namespace SocketCan
