#pragma once

#include "hardwarebackend.h"
#include "iscan.h"

#include <QList>
#include <QString>

#include <atomic>
#include <mutex>

// One row of the device list of the connection dialog.
struct IsCanDeviceInfo
{
    int number = 0; // device number 0..15 of the driver configuration
    QString typeName;
    quint32 serial = 0;
    bool attached = false;
    bool busy = false;
};

// Backend for isCAN adapters through the isCAN driver library.
//
// Threads: the GUI thread makes every virtual call. Frames are fetched either
// by the driver's own callback thread (onMessage) or, when the driver refuses
// the callback, by the polling thread "IsCanReader". Both only fetch under
// m_driverLock, touch the atomics and call enqueue. Every driver call for the
// device is made under m_driverLock, held for that one call only.
class IsCanBackend : public HardwareBackend
{
    Q_OBJECT

public:
    explicit IsCanBackend(QObject *parent = nullptr);
    ~IsCanBackend() override;

    bool open(const ConnectParams &params, QString *error) override;
    void close() override;
    bool isOpen() const override;
    bool write(const CanFrame &frame, QString *error) override;
    unsigned busStatus() override;
    bool resetHardware(QString *error) override;

    // True while the driver's callback delivers; false while polling.
    bool usesCallback() const;

    // The devices entered in the driver configuration, in number order.
    // *unconfigured receives how many attached devices are not entered there.
    static QList<IsCanDeviceInfo> enumerateDevices(const QString &dllPath, int *unconfigured,
                                                   QString *error);

    // A device as the connection dialog and "busvista-cli devices" list it:
    // "Nr. 0: isCAN USB   —   Seriennr. 1A2B, angeschlossen".
    static QString deviceText(const IsCanDeviceInfo &device);
    // The information text under the list: counts (or the enumeration's
    // `message` when there is no device), attached devices missing in the
    // driver configuration, and what isCAN cannot do. *isError is set when it
    // is to be shown as an error: no device, or none attached.
    static QString deviceListInfo(const QList<IsCanDeviceInfo> &devices, int unconfigured,
                                  const QString &message, bool *isError = nullptr);

private:
    bool initDevice(QString *error);
    void startReceiving();
    void stopReceiving();
    void drainReceiveQueue();
    void pollLoop();
    void markClosed();
    void unregisterCallback();
    static void BV_DRIVER_CALL onMessage(quint8 code, void *user);

    std::mutex m_driverLock;
    // Keeps whole drains apart, so that a batch of the callback thread and
    // the first drain of the GUI thread reach the queue in reading order.
    std::mutex m_drainLock;
    bool m_handlerActive = false;
    bool m_opened = false;
    quint8 m_device = 0;
    quint16 m_btr = 0x001C;
    std::atomic<unsigned> m_busState {0};
    std::atomic<int> m_callbacksRunning {0};
    // The driver's user pointer while the message handler runs; 0 otherwise.
    quintptr m_callbackToken = 0;
};
