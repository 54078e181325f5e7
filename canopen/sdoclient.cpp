#include "sdoclient.h"

#include "canbackend.h"
#include "sdotypes.h"

namespace {

constexpr quint32 AbortToggle = 0x05030000;
constexpr quint32 AbortTimeout = 0x05040000;
constexpr quint32 AbortCommand = 0x05040001;
constexpr quint32 AbortBlockSize = 0x05040002;
constexpr quint32 AbortSequence = 0x05040003;
constexpr quint32 AbortCrc = 0x05040004;
constexpr quint32 AbortOutOfMemory = 0x05040005;
constexpr quint32 AbortLength = 0x06070010;
constexpr quint32 AbortGeneral = 0x08000000;

quint32 littleEndian32(const CanFrame &frame, int at)
{
    return quint32(frame.data[at]) | quint32(frame.data[at + 1]) << 8 | quint32(frame.data[at + 2]) << 16
           | quint32(frame.data[at + 3]) << 24;
}

} // namespace

SdoClient::SdoClient(QObject *parent)
    : QObject(parent)
    , m_timer(this)
{
    qRegisterMetaType<SdoClient::Result>();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &SdoClient::onTimeout);
}

void SdoClient::setBackend(CanBackend *backend)
{
    if (backend == m_backend.data())
        return;
    // No abort frame: the old backend may already be gone.
    if (isBusy())
        finish(false, tr("Verbindung getrennt"), 0);
    watchResponses(false);
    m_backend = backend;
}

void SdoClient::setTimeoutMs(int ms)
{
    m_timeoutMs = qMax(ms, 10);
}

bool SdoClient::start(Operation operation, int node, quint16 index, quint8 subIndex,
                      const QByteArray *data, QString *error)
{
    QString message;
    if (data && data->isEmpty())
        message = tr("Keine Daten zum Schreiben.");
    else if (isBusy())
        message = tr("Es läuft bereits ein SDO-Transfer.");
    else if (!m_backend || !m_backend->isOpen())
        message = tr("Nicht verbunden.");
    else if (node < 1 || node > 127)
        message = tr("Knoten-ID muss zwischen 1 und 127 liegen.");
    if (!message.isEmpty()) {
        if (error)
            *error = message;
        return false;
    }
    m_result = Result();
    m_result.operation = operation;
    m_result.node = node;
    m_result.index = index;
    m_result.subIndex = subIndex;
    m_buffer.clear();
    m_offset = 0;
    m_lastSegmentSize = 0;
    m_toggle = 0;
    m_expectedSize = -1;
    m_abortSent = false;
    m_abortReceived = false;
    ++m_transferSerial;
    m_clock.start();
    watchResponses(true);
    return true;
}

void SdoClient::watchResponses(bool on)
{
    // While a transfer waits, its answers skip the backend's batching: each
    // round trip would otherwise cost up to one flush period.
    const quint32 id = 0x580 + quint32(m_result.node);
    if (m_watched && (!on || m_watched != m_backend || m_watchedId != id)) {
        m_watched->removeUrgentId(m_watchedId);
        m_watched = nullptr;
    }
    if (on && !m_watched && m_backend) {
        m_backend->addUrgentId(id);
        m_watched = m_backend;
        m_watchedId = id;
    }
}

bool SdoClient::upload(int node, quint16 index, quint8 subIndex, QString *error)
{
    if (!start(Upload, node, index, subIndex, nullptr, error))
        return false;
    m_result.block = m_blockWanted;
    // Block upload: client CRC support, our block size, no protocol switch.
    m_state = m_blockWanted ? BlockUploadInitiated : UploadInitiated;
    if (!send(m_blockWanted ? initiateFrame(0xA4, quint32(m_blockSize)) : initiateFrame(0x40, 0))) {
        m_state = Idle;
        watchResponses(false);
        if (error)
            *error = m_result.message;
        return false;
    }
    return true;
}

bool SdoClient::download(int node, quint16 index, quint8 subIndex, const QByteArray &data, QString *error)
{
    if (!start(Download, node, index, subIndex, &data, error))
        return false;
    m_buffer = data;
    m_result.data = data;
    m_result.block = m_blockWanted;
    bool sent = false;
    if (m_blockWanted) {
        // Client CRC support and size indicated.
        m_state = BlockDownloadInitiated;
        sent = send(initiateFrame(0xC6, quint32(data.size())));
    } else {
        m_state = DownloadInitiated;
        sent = sendDownloadInitiate();
    }
    if (!sent) {
        m_state = Idle;
        watchResponses(false);
        if (error)
            *error = m_result.message;
        return false;
    }
    emit progress(0, int(data.size()));
    return true;
}

bool SdoClient::sendDownloadInitiate()
{
    if (m_buffer.size() > 4)
        return send(initiateFrame(0x21, quint32(m_buffer.size())));
    quint32 value = 0;
    for (int i = 0; i < m_buffer.size(); ++i)
        value |= quint32(quint8(m_buffer.at(i))) << (8 * i);
    return send(initiateFrame(quint8(0x23 + (4 - m_buffer.size()) * 4), value));
}

void SdoClient::cancel()
{
    if (isBusy())
        failWithAbort(AbortGeneral, tr("Vom Benutzer abgebrochen"));
}

void SdoClient::handleFrames(const QList<CanFrame> &frames)
{
    if (!isBusy())
        return;
    const quint32 responseId = 0x580 + quint32(m_result.node);
    // A transfer started from a finished slot must not take the rest of this
    // batch: those frames came before its first request went out.
    const quint64 serial = m_transferSerial;
    for (const CanFrame &frame : frames) {
        if (frame.extended || frame.rtr || frame.error || frame.status || frame.tx || frame.id != responseId
            || frame.dlc == 0)
            continue;
        handleResponse(frame);
        if (!isBusy() || serial != m_transferSerial)
            return;
    }
}

std::array<quint8, 8> SdoClient::initiateFrame(quint8 command, quint32 payload) const
{
    return {command,
            quint8(m_result.index),
            quint8(m_result.index >> 8),
            m_result.subIndex,
            quint8(payload),
            quint8(payload >> 8),
            quint8(payload >> 16),
            quint8(payload >> 24)};
}

bool SdoClient::send(const std::array<quint8, 8> &bytes)
{
    CanFrame frame;
    frame.id = 0x600 + quint32(m_result.node);
    frame.dlc = 8;
    for (int i = 0; i < 8; ++i)
        frame.data[i] = bytes[size_t(i)];
    QString error;
    if (m_backend && m_backend->write(frame, &error)) {
        m_timer.start(m_timeoutMs);
        return true;
    }
    m_result.message = error.isEmpty() ? tr("Senden fehlgeschlagen") : tr("Senden fehlgeschlagen: %1").arg(error);
    return false;
}

void SdoClient::sendAbort(quint32 code)
{
    m_abortSent = send(initiateFrame(0x80, code));
    m_timer.stop();
}

void SdoClient::sendNextDownloadSegment()
{
    const int remaining = int(m_buffer.size()) - m_offset;
    const int count = qMin(remaining, 7);
    std::array<quint8, 8> bytes = {};
    bytes[0] = quint8(m_toggle * 16 + (7 - count) * 2 + (remaining < 8 ? 1 : 0));
    for (int i = 0; i < count; ++i)
        bytes[size_t(1 + i)] = quint8(m_buffer.at(m_offset + i));
    m_lastSegmentSize = count;
    if (!send(bytes))
        failSend();
}

void SdoClient::failWithAbort(quint32 code, const QString &message)
{
    sendAbort(code);
    if (m_abortSent)
        finish(false, message, code);
    else
        finish(false, tr("%1; Abbruch konnte nicht gesendet werden").arg(message), 0);
}

void SdoClient::failSend()
{
    // The node is in the middle of the transfer and would wait for the
    // frame that did not go out.
    const QString message = m_result.message;
    failWithAbort(AbortGeneral, message);
}

void SdoClient::finish(bool ok, const QString &message, quint32 abortCode)
{
    m_timer.stop();
    watchResponses(false);
    m_result.ok = ok;
    m_state = Idle;
    m_result.message = message;
    m_result.abortCode = abortCode;
    m_result.elapsedMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    // Block segments are padded to 7 bytes: never report more than announced.
    if (m_result.operation == Upload && m_expectedSize >= 0 && m_buffer.size() > m_expectedSize)
        m_buffer.truncate(m_expectedSize);
    if (m_result.operation == Upload)
        m_result.data = m_buffer;
    emit finished(m_result);
}

bool SdoClient::matchesMux(const CanFrame &frame) const
{
    return frame.data[1] == quint8(m_result.index) && frame.data[2] == quint8(m_result.index >> 8)
           && frame.data[3] == m_result.subIndex;
}

void SdoClient::handleResponse(const CanFrame &frame)
{
    const quint8 cmd = frame.data[0];
    const bool waitingForInitiate = m_state == UploadInitiated || m_state == DownloadInitiated
                                    || m_state == BlockUploadInitiated || m_state == BlockDownloadInitiated;
    // Some servers do not repeat the multiplexer in their abort, in any state.
    // A late abort of an earlier, timed-out transfer names its own object and
    // is not ours.
    const bool ourAbort = cmd == 0x80
                          && (matchesMux(frame) || (frame.data[1] == 0 && frame.data[2] == 0 && frame.data[3] == 0));
    if (ourAbort && littleEndian32(frame, 4) == AbortCommand
        && (m_state == BlockUploadInitiated || m_state == BlockDownloadInitiated)) {
        // The server has no block transfer: the same transfer, segmented.
        m_result.block = false;
        const bool upload = m_state == BlockUploadInitiated;
        m_state = upload ? UploadInitiated : DownloadInitiated;
        if (!(upload ? send(initiateFrame(0x40, 0)) : sendDownloadInitiate()))
            finish(false, m_result.message, 0);
        return;
    }
    if (cmd == 0x80) {
        if (!ourAbort)
            return;
        const quint32 code = littleEndian32(frame, 4);
        m_abortReceived = true;
        finish(false, Sdo::abortText(code), code);
        return;
    }
    const int commandClass = cmd >> 5;
    // A late initiate response for another object belongs to an earlier
    // transfer: it is neither ours nor worth an abort.
    if (waitingForInitiate && commandClass >= 2 && commandClass <= 6 && !matchesMux(frame))
        return;
    if (m_state == BlockUploadInitiated && commandClass == 2) {
        // The server chose a normal upload instead (protocol switch).
        m_result.block = false;
        m_state = UploadInitiated;
    }
    if (m_state >= BlockUploadInitiated)
        return handleBlockResponse(frame);
    const auto unexpected = [this, cmd] {
        failWithAbort(AbortCommand, tr("Unerwartete Antwort (Befehl 0x%1)").arg(cmd, 2, 16, QLatin1Char('0')));
    };

    switch (m_state) {
    case UploadInitiated:
        if (commandClass != 2 || !matchesMux(frame))
            return unexpected();
        if (cmd & 0x02) {
            const int k = (cmd & 0x01) ? 4 - ((cmd >> 2) & 3) : 4;
            m_buffer.append(reinterpret_cast<const char *>(frame.data + 4), k);
            finish(true, QString(), 0);
            return;
        }
        m_expectedSize = (cmd & 0x01) ? qint32(littleEndian32(frame, 4)) : -1;
        m_state = UploadSegments;
        m_toggle = 0;
        emit progress(0, m_expectedSize);
        if (!send(std::array<quint8, 8>{0x60}))
            failSend();
        return;

    case UploadSegments: {
        if (commandClass != 0)
            return unexpected();
        if (((cmd >> 4) & 1) != m_toggle)
            return failWithAbort(AbortToggle, Sdo::abortText(AbortToggle));
        const int count = 7 - ((cmd >> 1) & 7);
        const bool last = cmd & 0x01;
        const qint64 received = m_buffer.size() + count;
        // Never keep more than the node announced or than the size limit.
        if (m_expectedSize >= 0 && received > m_expectedSize) {
            const QString message = tr("Datenlänge %1 Byte, angekündigt waren %2 Byte").arg(received).arg(m_expectedSize);
            if (last)
                finish(false, message, 0);
            else
                failWithAbort(AbortLength, message);
            return;
        }
        if (received > MaxUploadBytes)
            return failWithAbort(AbortOutOfMemory, tr("Upload zu groß"));
        m_buffer.append(reinterpret_cast<const char *>(frame.data + 1), count);
        emit progress(int(m_buffer.size()), m_expectedSize);
        if (last) {
            if (m_expectedSize >= 0 && m_buffer.size() != m_expectedSize)
                finish(false, tr("Datenlänge %1 Byte, angekündigt waren %2 Byte").arg(m_buffer.size()).arg(m_expectedSize), 0);
            else
                finish(true, QString(), 0);
            return;
        }
        m_toggle ^= 1;
        if (!send(std::array<quint8, 8>{quint8(0x60 | (m_toggle << 4))}))
            failSend();
        return;
    }

    case DownloadInitiated:
        if (commandClass != 3 || !matchesMux(frame))
            return unexpected();
        if (m_buffer.size() > 4) {
            m_state = DownloadSegments;
            m_toggle = 0;
            sendNextDownloadSegment();
        } else {
            finish(true, QString(), 0);
        }
        return;

    case DownloadSegments:
        if (commandClass != 1)
            return unexpected();
        if (((cmd >> 4) & 1) != m_toggle)
            return failWithAbort(AbortToggle, Sdo::abortText(AbortToggle));
        m_offset += m_lastSegmentSize;
        emit progress(m_offset, int(m_buffer.size()));
        if (m_offset < m_buffer.size()) {
            m_toggle ^= 1;
            sendNextDownloadSegment();
        } else {
            finish(true, QString(), 0);
        }
        return;

    default:
        return;
    }
}

void SdoClient::handleBlockResponse(const CanFrame &frame)
{
    const quint8 cmd = frame.data[0];
    const auto unexpected = [this, cmd] {
        failWithAbort(AbortCommand, tr("Unerwartete Antwort (Befehl 0x%1)").arg(cmd, 2, 16, QLatin1Char('0')));
    };
    const auto lengthMessage = [this] {
        return tr("Datenlänge %1 Byte, angekündigt waren %2 Byte").arg(m_buffer.size()).arg(m_expectedSize);
    };

    switch (m_state) {
    case BlockUploadInitiated: {
        if ((cmd & 0xE1) != 0xC0 || !matchesMux(frame))
            return unexpected();
        m_blockCrc = cmd & 0x04;
        m_expectedSize = (cmd & 0x02) ? qint32(littleEndian32(frame, 4)) : -1;
        if (m_expectedSize > MaxUploadBytes)
            return failWithAbort(AbortOutOfMemory, tr("Upload zu groß"));
        m_state = BlockUploadSegments;
        m_sequence = 1;
        m_lastReceived = false;
        emit progress(0, m_expectedSize);
        if (!send(std::array<quint8, 8>{0xA3}))
            failSend();
        return;
    }

    case BlockUploadSegments: {
        const int sequence = cmd & 0x7F;
        if (sequence == 0 || sequence > m_blockSize)
            return failWithAbort(AbortSequence, Sdo::abortText(AbortSequence));
        // A whole block takes longer than one time-out on a slow bus: every
        // segment shows that the server is still sending.
        m_timer.start(m_timeoutMs);
        // A segment out of order (one was lost) is dropped; the
        // acknowledgement makes the server repeat from the gap.
        if (sequence == m_sequence) {
            if (m_buffer.size() + 7 > MaxUploadBytes + 7
                || (m_expectedSize >= 0 && m_buffer.size() >= m_expectedSize + 7))
                return failWithAbort(AbortOutOfMemory, tr("Upload zu groß"));
            m_buffer.append(reinterpret_cast<const char *>(frame.data + 1), 7);
            ++m_sequence;
            m_lastReceived = cmd & 0x80;
        }
        if (!(cmd & 0x80) && sequence < m_blockSize)
            return; // the block goes on
        const std::array<quint8, 8> ack = {0xA2, quint8(m_sequence - 1), quint8(m_blockSize)};
        if (m_lastReceived)
            m_state = BlockUploadEnd;
        m_sequence = 1;
        emit progress(int(qMin<qsizetype>(m_buffer.size(), m_expectedSize >= 0 ? m_expectedSize : m_buffer.size())),
                      m_expectedSize);
        if (!send(ack))
            failSend();
        return;
    }

    case BlockUploadEnd: {
        if ((cmd & 0xE3) != 0xC1)
            return unexpected();
        const int unused = (cmd >> 2) & 7;
        m_buffer.chop(qMin<qsizetype>(unused, m_buffer.size()));
        if (m_expectedSize >= 0 && m_buffer.size() != m_expectedSize)
            return failWithAbort(AbortLength, lengthMessage());
        const quint16 crc = quint16(frame.data[1] | frame.data[2] << 8);
        if (m_blockCrc && crc != Sdo::crc16(m_buffer))
            return failWithAbort(AbortCrc, Sdo::abortText(AbortCrc));
        // Without the confirmation the server would still wait for it.
        if (!send(std::array<quint8, 8>{0xA1}))
            return failSend();
        finish(true, QString(), 0);
        return;
    }

    case BlockDownloadInitiated:
        if ((cmd & 0xE3) != 0xA0 || !matchesMux(frame))
            return unexpected();
        m_blockCrc = cmd & 0x04;
        m_serverBlockSize = frame.data[4];
        if (m_serverBlockSize < 1 || m_serverBlockSize > 127)
            return failWithAbort(AbortBlockSize, Sdo::abortText(AbortBlockSize));
        m_state = BlockDownloadSegments;
        m_blockStart = 0;
        sendDownloadBlock();
        return;

    case BlockDownloadSegments: {
        if ((cmd & 0xE3) != 0xA2)
            return unexpected();
        const int acknowledged = frame.data[1];
        if (acknowledged > m_blockSegments)
            return failWithAbort(AbortSequence, Sdo::abortText(AbortSequence));
        m_offset = int(qMin<qsizetype>(m_blockStart + qsizetype(acknowledged) * 7, m_buffer.size()));
        emit progress(m_offset, int(m_buffer.size()));
        if (acknowledged == m_blockSegments && m_lastInBlock) {
            const int unused = int(7 - (m_buffer.size() - (m_blockStart + qsizetype(m_blockSegments - 1) * 7)));
            const quint16 crc = m_blockCrc ? Sdo::crc16(m_buffer) : 0;
            m_state = BlockDownloadEnd;
            if (!send(std::array<quint8, 8>{quint8(0xC1 | unused << 2), quint8(crc), quint8(crc >> 8)}))
                failSend();
            return;
        }
        m_serverBlockSize = frame.data[2];
        if (m_serverBlockSize < 1 || m_serverBlockSize > 127)
            return failWithAbort(AbortBlockSize, Sdo::abortText(AbortBlockSize));
        m_blockStart = m_offset;
        sendDownloadBlock();
        return;
    }

    case BlockDownloadEnd:
        if ((cmd & 0xE3) != 0xA1)
            return unexpected();
        finish(true, QString(), 0);
        return;

    default:
        return;
    }
}

void SdoClient::sendDownloadBlock()
{
    // The whole block goes out at once; the server acknowledges it as one.
    const qsizetype size = m_buffer.size();
    m_blockSegments = 0;
    m_lastInBlock = false;
    for (int sequence = 1; sequence <= m_serverBlockSize; ++sequence) {
        const qsizetype at = m_blockStart + qsizetype(sequence - 1) * 7;
        const qsizetype count = qMin<qsizetype>(7, size - at);
        const bool last = at + count >= size;
        std::array<quint8, 8> bytes = {quint8(sequence | (last ? 0x80 : 0))};
        for (qsizetype i = 0; i < count; ++i)
            bytes[size_t(1 + i)] = quint8(m_buffer.at(at + i));
        if (!send(bytes))
            return failSend();
        m_blockSegments = sequence;
        if (last) {
            m_lastInBlock = true;
            return;
        }
    }
}

void SdoClient::onTimeout()
{
    if (isBusy())
        failWithAbort(AbortTimeout, tr("Keine Antwort von Knoten %1 innerhalb von %2 ms").arg(m_result.node).arg(m_timeoutMs));
}
