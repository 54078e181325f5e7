#pragma once

#include "hardwarebackend.h"

#include <QList>

#include <atomic>
#include <memory>

class ReceiveEvent;

// One row of the PCAN channel list.
struct PcanBasicChannelInfo
{
    quint16 handle = 0;
    QString name;             // PcanBasic::channelName(handle)
    QString hardwareName;     // may be empty
    int deviceId = -1;        // -1: unknown
    quint8 controllerNumber = 0;
    bool fdCapable = false;
    quint32 condition = 0;    // bit 0 available, bit 1 occupied by another application
};

// Backend for PEAK-System adapters through the PCAN-Basic library.
//
// Threads: every virtual operation runs in the GUI thread. The reader thread
// "PcanBasicReader" calls only CAN_Read, touches the time-base atomics and
// the latched status, and hands each burst to enqueue(). close() joins it
// before the channel is released, so it never reads from a closed channel.
// Only the reader's read result marks the adapter lost (and ends the
// reader); resetHardware() then initialises the channel anew and starts a
// new reader.
class PcanBasicBackend : public HardwareBackend
{
    Q_OBJECT

public:
    explicit PcanBasicBackend(QObject *parent = nullptr);
    ~PcanBasicBackend() override;

    bool open(const ConnectParams &params, QString *error) override;
    void close() override;
    bool isOpen() const override;
    bool write(const CanFrame &frame, QString *error) override;
    unsigned busStatus() override;
    bool resetHardware(QString *error) override;

    // The channels present, in driver order; empty with a message when none is
    // found or the library does not load.
    static QList<PcanBasicChannelInfo> enumerateChannels(const QString &dllPath, QString *error);
    // A row of the list as the connection dialog shows it:
    // "PCAN-USB 1   —   PCAN-USB FD, Geräte-ID 5, FD".
    static QString channelText(const PcanBasicChannelInfo &info);

private:
    void readLoop();
    void stopReader();
    // Listen-only, initialise, error frames, echoes and receive event for
    // `candidate` with the stored settings; false with the message.
    bool initializeChannel(quint16 candidate, QString *error);
    // Detaches the event and uninitialises `channel`.
    void releaseChannel();
    bool reinitialize(QString *error);

    quint16 channel = 0;                       // 0: closed
    std::unique_ptr<ReceiveEvent> receiveEvent; // null: the reader polls
    std::atomic<bool> timeBaseSet {false};
    std::atomic<qint64> driverOffset {0};
    bool driverEchoes = false;
    // Settings of the open, for initialising the channel again after a loss.
    quint16 btr = 0x001C;
    bool listenOnly = false;
    bool errorFrames = false;
};
