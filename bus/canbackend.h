#pragma once

#include "canframe.h"
#include "connectparams.h"

#include <QObject>
#include <QTimer>

#include <mutex>

// Abstract base of the bus backends. Owns the receive queue through which
// frames from any thread reach the GUI thread in batches.
class CanBackend : public QObject
{
    Q_OBJECT

public:
    enum StatusBit : unsigned {
        TxBufferFull = 0x01,
        ControllerOverrun = 0x02,
        BusLight = 0x04,
        BusHeavy = 0x08,
        BusOff = 0x10,
        RxQueueOverrun = 0x40,
        TxQueueFull = 0x80,
        DriverNotLoaded = 0x200,
        // The adapter stopped answering (unplugged); stays set until close.
        DeviceLost = 0x400,
    };

    explicit CanBackend(QObject *parent = nullptr);
    ~CanBackend() override;

    virtual bool open(const ConnectParams &params, QString *error) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual bool write(const CanFrame &frame, QString *error) = 0;
    virtual unsigned busStatus() = 0;
    virtual bool resetHardware(QString *error);
    virtual QString description() const = 0;
    virtual int bitrate() const;

    // Callable from any thread.
    void enqueue(const CanFrame &frame);
    void enqueue(const QList<CanFrame> &frames);
    void clearQueue();

    // Runs in the owning (GUI) thread, every 20 ms.
    void flushQueue();

    static QString statusText(unsigned flags);

signals:
    void framesReceived(const CanFrameList &frames);

protected:
    static QString notConnectedText();

private:
    std::mutex m_mutex;           // guards m_pending only; never held while emitting
    QList<CanFrame> m_pending;
    QTimer m_flushTimer;
};
