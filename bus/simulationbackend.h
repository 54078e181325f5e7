#pragma once

#include "canbackend.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMap>
#include <QRandomGenerator>
#include <QTimer>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

// A bus without hardware: deterministic cyclic traffic of a small network with
// CANopen nodes, transmit echoes and answers to remote requests.
//
// The bus carries no more than its bit rate allows: every frame on it, sent
// or generated, occupies it for its bits (BusStatistics::frameBits), and
// what write() sends waits in a transmit queue of a controller's size. A
// writer that finds the queue full waits until the bus has taken a frame
// from it, as on an adapter; after MaxTxWaitMs it is refused.
//
// Threads: all in the owning thread, except write, which the trace player
// may call at the same time; m_stateLock keeps the generator, the node and
// write apart, m_busLock guards the bus time and the transmit queue.
class SimulationBackend : public CanBackend
{
    Q_OBJECT

public:
    // One cyclic message of the generator.
    struct SimMessage
    {
        CanFrame frame;       // as last generated
        int periodMs = 0;
        qint64 nextDueMs = 0; // on the backend's elapsed-time clock
        std::function<void(CanFrame &frame, quint64 count)> generator;
        quint64 count = 0;    // sends so far
        bool enabled = true;
    };

    // One entry of the object dictionary of the simulated CANopen node 5,
    // keyed by (index << 8) | sub-index.
    struct OdEntry
    {
        QByteArray value; // little-endian for numbers
        bool writable = false;
        int size = 0;     // required download length; 0: any length
    };

    // NMT states as the node's heartbeat reports them.
    enum NmtState : quint8 { NmtBootUp = 0x00, NmtStopped = 0x04, NmtOperational = 0x05, NmtPreOperational = 0x7F };

    // Frames of the transmit queue (an M_CAN's transmit buffers).
    static constexpr int TxQueueFrames = 32;
    // Longest wait for room in the transmit queue before a write is refused.
    static constexpr int MaxTxWaitMs = 100;

    explicit SimulationBackend(QObject *parent = nullptr);
    ~SimulationBackend() override;

    bool open(const ConnectParams &params, QString *error) override;
    void close() override;
    bool isOpen() const override;
    bool write(const CanFrame &frame, QString *error) override;
    unsigned busStatus() override;
    QString description() const override;
    int bitrate() const override;

    // The SDO server of node 5: abort code of a lookup or a download, or 0.
    quint32 lookupError(unsigned key) const;
    quint32 checkWrite(unsigned key, const QByteArray &data) const;
    void applyWrite(unsigned key, const QByteArray &data);
    const QMap<unsigned, OdEntry> &objectDictionary() const { return m_dictionary; }
    quint8 nmtState() const { return m_nmtState; }
    // NMT state of a simulated node: 5 or one of the heartbeat-only nodes
    // 0x10, 0x14, 0x15; 0xFF for a node the bus does not have.
    quint8 nmtState(int node) const;

public slots:
    void tick();

protected:
    // Nanoseconds since open. Virtual so that tests can drive the tick with
    // their own clock instead of waiting for real time.
    virtual qint64 elapsedNs() const;
    // Waits until elapsedNs() has reached untilNs (a writer waiting for room
    // in the transmit queue). Virtual so that tests with their own clock
    // move it instead of sleeping.
    virtual void waitUntil(qint64 untilNs);

private:
    // Takes a place in the transmit queue for a frame written now, waiting
    // for one while the queue is full; false (*error) after MaxTxWaitMs.
    bool takeTxSlot(const CanFrame &frame, QString *error);
    // The frame occupies the bus from the later of earliestNs and the end of
    // the frame before; returns the end of its last bit. m_busLock held.
    qint64 occupyLocked(const CanFrame &frame, qint64 earliestNs);
    // A frame of a simulated node: on the bus, then into the receive queue.
    void put(const CanFrame &frame);
    void buildMessages();
    void buildDictionary();
    void handleSdoRequest(const CanFrame &frame);
    void handleNmtCommand(const CanFrame &frame);
    void sendBootUp(int node);
    void sendSdoAnswer(const quint8 (&bytes)[8]);
    void sendSdoAbort(unsigned key, quint32 code);
    void applyHeartbeatTime(unsigned timeMs);

    enum SdoTransfer {
        SdoIdle = 0,
        SdoUploading = 1,
        SdoDownloading = 2,
        SdoBlockUploadStarting, // initiate answered, waiting for the start
        SdoBlockUploading,      // a block sent, waiting for its acknowledgement
        SdoBlockUploadEnd,      // end sent, waiting for the client's end
        SdoBlockDownloading,    // receiving segments
        SdoBlockDownloadEnd,    // last segment acknowledged, waiting for the end
    };
    void handleBlockRequest(const CanFrame &frame);
    void sendUploadBlock();

    std::vector<SimMessage> m_messages;
    QMap<unsigned, OdEntry> m_dictionary;
    int m_transferState = SdoIdle;
    unsigned m_transferKey = 0;
    QByteArray m_transferBuffer;
    int m_uploadOffset = 0;
    int m_expectedSize = -1;
    quint8 m_toggle = 0;
    int m_blockSize = 0;       // segments per block in flight
    bool m_blockCrc = false;   // the client checks or sends a CRC
    int m_blockSequence = 0;   // download: last segment taken; upload: segments sent
    int m_blockStart = 0;      // upload: offset of the block in flight
    quint8 m_nmtState = NmtOperational;
    QMap<int, quint8> m_otherNmtStates; // heartbeat-only nodes
    std::mutex m_stateLock;  // guards messages, dictionary and SDO state during tick and write
    std::mutex m_busLock;    // guards the members below; taken after m_stateLock, never before
    qint64 m_busFreeNs = 0;  // end of the last frame on the bus
    // Ends of the written frames still in the transmit queue, oldest first (a ring).
    std::array<qint64, TxQueueFrames> m_txEnds{};
    int m_txHead = 0;
    int m_txCount = 0;
    QElapsedTimer m_clock;
    QTimer m_tickTimer;
    QRandomGenerator m_random;
    std::atomic<bool> m_open{false};
};
