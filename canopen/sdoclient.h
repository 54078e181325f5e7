#pragma once

#include "canframe.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <array>

class CanBackend;

// Reads and writes single object-dictionary entries of a CANopen node with
// expedited, segmented or block SDO transfers. One transfer at a time per
// client; everything runs in the GUI thread.
class SdoClient : public QObject
{
    Q_OBJECT

public:
    enum Operation { Upload = 0, Download = 1 };

    struct Result
    {
        bool ok = false;
        Operation operation = Upload;
        int node = 0;
        quint16 index = 0;
        quint8 subIndex = 0;
        QByteArray data;      // upload: bytes received; download: bytes to write
        quint32 abortCode = 0;
        QString message;      // empty on success
        qint64 elapsedMs = 0;
        bool block = false;   // went as block transfer (false after a fallback)
    };

    // A segmented upload larger than this is aborted: no object of a small
    // device is that large, and the buffer must not grow without bound.
    static constexpr int MaxUploadBytes = 0x1000000;
    // The shortest response time-out the tools offer.
    static constexpr int MinTimeoutMs = 50;

    explicit SdoClient(QObject *parent = nullptr);

    void setBackend(CanBackend *backend);
    void setTimeoutMs(int ms);
    // Block transfer for the following transfers; a server that refuses it
    // (abort 05040001h on the initiate request) gets a segmented transfer.
    void setBlockTransfer(bool on) { m_blockWanted = on; }
    bool blockTransfer() const { return m_blockWanted; }
    // Segments per block that an upload asks for (1..127).
    void setBlockSize(int segments) { m_blockSize = qBound(1, segments, 127); }
    int timeoutMs() const { return m_timeoutMs; }
    bool isBusy() const { return m_state != Idle; }
    // The last transfer ended with an abort frame that this client sent.
    bool abortSent() const { return m_abortSent; }
    // The last transfer ended with an abort frame from the node: it answered.
    bool abortReceived() const { return m_abortReceived; }

    bool upload(int node, quint16 index, quint8 subIndex, QString *error);
    bool download(int node, quint16 index, quint8 subIndex, const QByteArray &data, QString *error);
    void cancel();

    void handleFrames(const QList<CanFrame> &frames);

signals:
    void finished(const SdoClient::Result &result);
    void progress(int done, int total);

private:
    enum State {
        Idle = 0,
        UploadInitiated,
        UploadSegments,
        DownloadInitiated,
        DownloadSegments,
        BlockUploadInitiated,
        BlockUploadSegments,
        BlockUploadEnd,
        BlockDownloadInitiated,
        BlockDownloadSegments,
        BlockDownloadEnd,
    };

    bool start(Operation operation, int node, quint16 index, quint8 subIndex,
               const QByteArray *data, QString *error);
    bool send(const std::array<quint8, 8> &bytes);
    std::array<quint8, 8> initiateFrame(quint8 command, quint32 payload) const;
    void sendAbort(quint32 code);
    void sendNextDownloadSegment();
    bool sendDownloadInitiate();
    void sendDownloadBlock();
    void handleBlockResponse(const CanFrame &frame);
    void failWithAbort(quint32 code, const QString &message);
    void failSend();
    void finish(bool ok, const QString &message, quint32 abortCode);
    void handleResponse(const CanFrame &frame);
    bool matchesMux(const CanFrame &frame) const;
    void watchResponses(bool on);

private slots:
    void onTimeout();

private:

    QPointer<CanBackend> m_backend;
    QPointer<CanBackend> m_watched; // holds our response identifier as urgent
    quint32 m_watchedId = 0;
    int m_state = Idle;
    Result m_result;
    QByteArray m_buffer;
    int m_offset = 0;
    int m_lastSegmentSize = 0;
    int m_expectedSize = -1;
    int m_toggle = 0;
    int m_timeoutMs = 1000;
    quint64 m_transferSerial = 0; // counts started transfers
    bool m_abortSent = false;
    bool m_abortReceived = false;
    bool m_blockWanted = false;
    int m_blockSize = 127;      // upload: segments per block we ask for
    int m_serverBlockSize = 0;  // download: segments per block the server takes
    bool m_blockCrc = false;    // both sides check the CRC
    int m_sequence = 0;         // upload: next expected sequence number
    bool m_lastReceived = false;
    int m_blockStart = 0;       // download: offset of the block in flight
    int m_blockSegments = 0;    // download: segments sent in that block
    bool m_lastInBlock = false; // download: the block holds the last segment
    QTimer m_timer;
    QElapsedTimer m_clock;
};

Q_DECLARE_METATYPE(SdoClient::Result)
