#pragma once

#include "canframe.h"
#include "connectparams.h"

#include <QObject>
#include <QTimer>

#include <QHash>

#include <mutex>

// Abstract base of the bus backends. Owns the receive queue through which
// frames from any thread reach the GUI thread in batches.
//
// Threads: the GUI thread makes every call, with one exception: write() and
// connectionLost() may also be called from the trace player's thread
// (replay/) at the same time as the GUI thread sends, so every backend keeps
// write() safe for two callers. open(), close() and resetHardware() run only
// while no player sends: whoever closes a backend stops the player first.
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
    // Sends `count` frames back to back, in order, with the same rules as
    // write(). Returns how many went out before the first one that failed
    // (*error says why); the caller decides about the rest. Backends that can
    // hand a whole burst to the system at once override it; the base writes
    // one by one.
    virtual int writeFrames(const CanFrame *frames, int count, QString *error);
    virtual unsigned busStatus() = 0;
    virtual bool resetHardware(QString *error);
    virtual QString description() const = 0;
    virtual int bitrate() const;
    // True once the connection has gone for good (adapter unplugged, end of a
    // text pipe); callable from any thread. A write that fails then ends a replay.
    virtual bool connectionLost() const;

    // Callable from any thread.
    void enqueue(const CanFrame &frame);
    void enqueue(const QList<CanFrame> &frames);
    void clearQueue();

    // Runs in the owning (GUI) thread, every 20 ms.
    void flushQueue();

    // Frames with an urgent identifier do not wait for the next 20 ms flush:
    // queuing one schedules a flush at once (in the owning thread), which
    // hands over the whole pending batch. A protocol that waits for an answer
    // (the SDO client) registers its response identifier while it waits.
    // Registrations are counted; callable from any thread.
    void addUrgentId(quint32 id, bool extended = false);
    void removeUrgentId(quint32 id, bool extended = false);
    // Every frame counts as urgent: a relay between two buses (the CLI
    // bridge) hands each frame on at once instead of in 20 ms batches.
    // Callable from any thread.
    void setDeliverAtOnce(bool on);

    static QString statusText(unsigned flags);

signals:
    void framesReceived(const CanFrameList &frames);
    // Something the user should know about that is not a bus state (for the
    // status bar), emitted in the owning thread.
    void notice(const QString &text);

protected:
    static QString notConnectedText();

private:
    static quint32 urgentKey(quint32 id, bool extended) { return extended ? (id | 0x80000000u) : id; }
    // Called with m_mutex held.
    bool isUrgentLocked(const CanFrame &frame) const;
    // True when this call set the flag (and so must post the flush).
    bool markFlushLocked();
    void postFlush();

    std::mutex m_mutex;           // guards the members below; never held while emitting
    QList<CanFrame> m_pending;
    QHash<quint32, int> m_urgentIds; // key -> number of registrations
    bool m_flushScheduled = false;
    bool m_deliverAtOnce = false;
    QTimer m_flushTimer;
};
