#pragma once

#include <QString>

// Connection settings: filled by the connection dialog, kept in the settings
// store, read by a backend's open.
struct ConnectParams
{
    int interface = 2;            // 1 simulation, 2 PCAN-Basic, 3 isCAN, 4 SocketCAN (Linux)
    QString basicDllPath;         // empty: default library search
    int channel = 0x51;           // PCAN-Basic channel handle (first PCAN-USB)
    QString isCanDllPath;
    int isCanDevice = 0;
    QString socketCanInterface;   // "can0", "vcan0"
    int btr = 0x001C;             // BTR0 high byte, BTR1 low byte; 0x001C = 500 kbit/s
    bool listenOnly = false;
    bool errorFrames = false;
};
