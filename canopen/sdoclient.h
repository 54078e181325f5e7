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
// expedited and segmented SDO transfers (no block transfer). One transfer at
// a time; everything runs in the GUI thread.
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
    };

    // A segmented upload larger than this is aborted: no object of a small
    // device is that large, and the buffer must not grow without bound.
    static constexpr int MaxUploadBytes = 0x1000000;

    explicit SdoClient(QObject *parent = nullptr);

    void setBackend(CanBackend *backend);
    void setTimeoutMs(int ms);
    int timeoutMs() const { return m_timeoutMs; }
    bool isBusy() const { return m_state != Idle; }

    bool upload(int node, quint16 index, quint8 subIndex, QString *error);
    bool download(int node, quint16 index, quint8 subIndex, const QByteArray &data, QString *error);
    void cancel();

    void handleFrames(const QList<CanFrame> &frames);

signals:
    void finished(const SdoClient::Result &result);
    void progress(int done, int total);

private:
    enum State { Idle = 0, UploadInitiated, UploadSegments, DownloadInitiated, DownloadSegments };

    bool start(Operation operation, int node, quint16 index, quint8 subIndex,
               const QByteArray *data, QString *error);
    bool send(const std::array<quint8, 8> &bytes);
    std::array<quint8, 8> initiateFrame(quint8 command, quint32 payload) const;
    void sendAbort(quint32 code);
    void sendNextDownloadSegment();
    void failWithAbort(quint32 code, const QString &message);
    void finish(bool ok, const QString &message, quint32 abortCode);
    void handleResponse(const CanFrame &frame);
    bool matchesMux(const CanFrame &frame) const;

private slots:
    void onTimeout();

private:

    QPointer<CanBackend> m_backend;
    int m_state = Idle;
    Result m_result;
    QByteArray m_buffer;
    int m_offset = 0;
    int m_lastSegmentSize = 0;
    int m_expectedSize = -1;
    int m_toggle = 0;
    int m_timeoutMs = 1000;
    quint64 m_transferSerial = 0; // counts started transfers
    QTimer m_timer;
    QElapsedTimer m_clock;
};

Q_DECLARE_METATYPE(SdoClient::Result)
