#pragma once

#include "hardwarebackend.h"
#include "platform/receiveevent.h"
#include "socketcanmessages.h"

#include <QByteArray>

#include <atomic>
#include <memory>

struct can_frame;
struct mmsghdr;

// Backend for Linux's own CAN interfaces (SocketCAN): one raw CAN socket bound
// to the interface named in ConnectParams::socketCanInterface.
//
// The kernel echoes every frame this program sent (marked MSG_CONFIRM), so
// write() enqueues no echo of its own. A write into the interface's full
// transmit queue waits for room (bounded) instead of dropping the frame. Error frames are always requested:
// they drive the status bits, and appear in the trace when errorFrames is
// set. CAN FD frames are counted and skipped (notice).
//
// Threads: every virtual operation runs in the GUI thread. The reader thread
// "SocketCanReader" blocks in poll() on the socket and a wake event, reads
// batches with recvmmsg() and touches only the atomics of this class, the
// receive buffers and enqueue(). close() and resetHardware() join it before
// they close the socket.
class SocketCanBackend : public HardwareBackend
{
    Q_OBJECT

public:
    explicit SocketCanBackend(QObject *parent = nullptr);
    ~SocketCanBackend() override;

    bool open(const ConnectParams &params, QString *error) override;
    void close() override;
    bool isOpen() const override;
    bool write(const CanFrame &frame, QString *error) override;
    unsigned busStatus() override;
    // Reopens the socket (after the interface went down and came back) and
    // reads the controller state anew. A controller in bus-off is restarted
    // first (needs CAP_NET_ADMIN); a refusal gives false with the reason and
    // the command, and the bus-off state stays.
    bool resetHardware(QString *error) override;

    // CAN FD frames received and skipped since open.
    qint64 fdFramesSkipped() const { return m_fdSkipped.load(); }

    static constexpr int BatchSize = 64;

private:
    struct Batch;

    bool openSocket(QString *error);
    void closeSocket();
    // can_do_restart of a controller that netlink reports in bus-off (or
    // does not report at all); false with the German reason and the commands.
    bool restartController(QString *error);
    void startReceiving();
    void stopReceiving();
    void readLoop();
    // Writes one frame, waiting for room in a full transmit queue; false
    // with the errno in *code when it could not be sent.
    bool sendWaitingForRoom(const can_frame &raw, int *code);
    // Converts what one recvmmsg() returned.
    void takeMessages(const Batch &batch, int count, QList<CanFrame> *frames);

    QString m_name;
    QByteArray m_localName;
    bool m_open = false;
    bool m_listenOnly = false;
    bool m_kernelEchoes = false;
    quint32 m_wantedBitrate = 500000;     // for the hint when the interface is down
    int m_fd = -1;
    std::unique_ptr<ReceiveEvent> m_wake;
    std::unique_ptr<Batch> m_batch;
    SocketCanMessages m_messages;        // reader's, but for its bus state
    std::atomic<qint64> m_fdSkipped {0};
    std::atomic<bool> m_txStalled {false}; // the last wait for room ran out
    qint64 m_fdReported = 0;
};
