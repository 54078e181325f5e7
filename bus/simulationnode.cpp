// The CANopen node 5 of the simulated bus: its object dictionary, the SDO
// server (expedited, segmented and block transfers) and the NMT commands.
#include "simulationbackend.h"

#include <array>

namespace {

constexpr quint32 SdoResponseId = 0x585;
constexpr quint32 HeartbeatId = 0x705;
constexpr quint8 NodeId = 5;
constexpr qint64 SdoAnswerDelayUs = 150;

constexpr unsigned HeartbeatKey = 0x101700;

constexpr quint32 AbortToggle = 0x05030000;
constexpr quint32 AbortCommand = 0x05040001;
constexpr quint32 AbortBlockSize = 0x05040002;
constexpr quint32 AbortSequence = 0x05040003;
constexpr quint32 AbortCrc = 0x05040004;
constexpr quint32 AbortOutOfMemory = 0x05040005;
constexpr quint32 AbortReadOnly = 0x06010002;
constexpr quint32 AbortNoObject = 0x06020000;
constexpr quint32 AbortLength = 0x06070010;
constexpr quint32 AbortTooLong = 0x06070012;
constexpr quint32 AbortTooShort = 0x06070013;
constexpr quint32 AbortNoSubIndex = 0x06090011;
constexpr quint32 AbortValueTooLow = 0x06090032;

// A string object takes any length, but a client streaming segments without
// end must not make the buffer grow without bound.
constexpr int MaxDownloadBytes = 0x100000;
// Segments per block that the node takes in a block download.
constexpr int DownloadBlockSize = 127;

// CRC of block transfers: CCITT polynomial 0x1021, start value 0.
quint16 blockCrc(const QByteArray &data)
{
    quint16 crc = 0;
    for (const char c : data) {
        crc ^= quint16(quint8(c)) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

unsigned keyOf(const CanFrame &frame)
{
    return unsigned(frame.data[1]) << 8 | unsigned(frame.data[2]) << 16 | frame.data[3];
}

quint32 littleEndian32(const CanFrame &frame, int at)
{
    return quint32(frame.data[at]) | quint32(frame.data[at + 1]) << 8 | quint32(frame.data[at + 2]) << 16
           | quint32(frame.data[at + 3]) << 24;
}

QByteArray le(std::initializer_list<quint8> bytes)
{
    QByteArray result;
    for (quint8 byte : bytes)
        result.append(char(byte));
    return result;
}

} // namespace

void SimulationBackend::buildDictionary()
{
    m_dictionary.clear();
    auto add = [this](unsigned index, unsigned sub, const QByteArray &value, bool writable, int size) {
        m_dictionary.insert(index << 8 | sub, OdEntry{value, writable, size});
    };
    add(0x1000, 0, le({0x91, 0x01, 0x00, 0x00}), false, 4);
    add(0x1001, 0, le({0x00}), false, 1);
    add(0x1008, 0, QByteArrayLiteral("Busvista Simulation"), false, 0);
    add(0x1009, 0, QByteArrayLiteral("1.0"), false, 0);
    add(0x100A, 0, QByteArrayLiteral("1.0.0"), false, 0);
    add(0x1017, 0, le({0xE8, 0x03}), true, 2);
    add(0x1018, 0, le({0x04}), false, 1);
    add(0x1018, 1, le({0x23, 0x01, 0x00, 0x00}), false, 4);
    add(0x1018, 2, le({0x11, 0x47, 0x00, 0x00}), false, 4);
    add(0x1018, 3, le({0x00, 0x00, 0x01, 0x00}), false, 4);
    add(0x1018, 4, le({0x78, 0x56, 0x34, 0x12}), false, 4);
    add(0x2000, 0, le({0x00}), true, 1);
    add(0x2001, 0, le({0x00, 0x00, 0x00, 0x00}), true, 4);
    add(0x2002, 0, QByteArrayLiteral("Hallo CANopen"), true, 0);
    add(0x2003, 0, le({0x9C, 0xFF}), true, 2);

    m_transferState = SdoIdle;
    m_transferKey = 0;
    m_transferBuffer.clear();
    m_uploadOffset = 0;
    m_expectedSize = -1;
    m_toggle = 0;
}

quint32 SimulationBackend::lookupError(unsigned key) const
{
    if (m_dictionary.contains(key))
        return 0;
    const unsigned index = key >> 8;
    auto it = m_dictionary.lowerBound(index << 8);
    if (it != m_dictionary.cend() && (it.key() >> 8) == index)
        return AbortNoSubIndex;
    return AbortNoObject;
}

quint32 SimulationBackend::checkWrite(unsigned key, const QByteArray &data) const
{
    const auto it = m_dictionary.constFind(key);
    if (it == m_dictionary.cend() || !it->writable)
        return AbortReadOnly;
    if (it->size > 0 && it->size != data.size())
        return data.size() > it->size ? AbortTooLong : AbortTooShort;
    if (key == HeartbeatKey && data.size() == 2) {
        const unsigned t = quint8(data.at(0)) | unsigned(quint8(data.at(1))) << 8;
        // Heartbeat times below 10 ms are refused; 0 switches the heartbeat off.
        if (t >= 1 && t <= 9)
            return AbortValueTooLow;
    }
    return 0;
}

void SimulationBackend::applyWrite(unsigned key, const QByteArray &data)
{
    const auto it = m_dictionary.find(key);
    if (it == m_dictionary.end())
        return;
    it->value = data;
    if (key == HeartbeatKey && data.size() >= 2)
        applyHeartbeatTime(quint8(data.at(0)) | unsigned(quint8(data.at(1))) << 8);
}

void SimulationBackend::applyHeartbeatTime(unsigned timeMs)
{
    const qint64 nowMs = elapsedNs() / 1000000;
    for (SimMessage &message : m_messages) {
        if (message.frame.id != HeartbeatId || message.frame.extended)
            continue;
        message.enabled = timeMs != 0;
        message.periodMs = timeMs != 0 ? int(timeMs) : 1;
        message.nextDueMs = nowMs + message.periodMs;
    }
}

void SimulationBackend::sendSdoAnswer(const quint8 (&bytes)[8])
{
    CanFrame answer;
    answer.id = SdoResponseId;
    answer.dlc = 8;
    for (int i = 0; i < 8; ++i)
        answer.data[i] = bytes[i];
    answer.timestampUs = elapsedNs() / 1000 + SdoAnswerDelayUs;
    put(answer);
}

void SimulationBackend::sendSdoAbort(unsigned key, quint32 code)
{
    const quint8 bytes[8] = {0x80,
                             quint8(key >> 8),
                             quint8(key >> 16),
                             quint8(key),
                             quint8(code),
                             quint8(code >> 8),
                             quint8(code >> 16),
                             quint8(code >> 24)};
    sendSdoAnswer(bytes);
    m_transferState = SdoIdle;
}

void SimulationBackend::handleSdoRequest(const CanFrame &frame)
{
    // A stopped node takes part in NMT and heartbeat only.
    if (m_nmtState == NmtStopped)
        return;
    const quint8 cs = frame.data[0];
    const unsigned key = keyOf(frame);
    const auto mux = [key](quint8 command) {
        return std::array<quint8, 4>{command, quint8(key >> 8), quint8(key >> 16), quint8(key)};
    };
    auto answer = [this](std::array<quint8, 4> head, const QByteArray &tail = QByteArray()) {
        quint8 bytes[8] = {head[0], head[1], head[2], head[3], 0, 0, 0, 0};
        for (int i = 0; i < tail.size() && i < 4; ++i)
            bytes[4 + i] = quint8(tail.at(i));
        sendSdoAnswer(bytes);
    };

    if (cs == 0x80) {
        m_transferState = SdoIdle;
        return;
    }
    // Block segments carry only a sequence number: every frame belongs to
    // the running block download.
    if (m_transferState == SdoBlockDownloading || (cs >> 5) == 5 || (cs >> 5) == 6)
        return handleBlockRequest(frame);
    if (cs > 0x80)
        return sendSdoAbort(key, AbortCommand);

    switch (cs >> 5) {
    case 2: { // initiate upload
        if (const quint32 code = lookupError(key))
            return sendSdoAbort(key, code);
        const QByteArray &value = m_dictionary.value(key).value;
        const int n = int(value.size());
        // An empty value goes out as a segmented upload of size 0: an expedited
        // answer cannot carry zero bytes.
        if (n > 4 || n == 0) {
            const quint32 size = quint32(n);
            answer(mux(0x41), le({quint8(size), quint8(size >> 8), quint8(size >> 16), quint8(size >> 24)}));
            m_transferState = SdoUploading;
            m_transferKey = key;
            m_transferBuffer = value;
            m_uploadOffset = 0;
            m_toggle = 0;
        } else {
            answer(mux(quint8(0x43 | ((4 - n) << 2))), value);
            m_transferState = SdoIdle;
        }
        return;
    }
    case 3: { // upload segment
        if (m_transferState != SdoUploading)
            return sendSdoAbort(m_transferKey, AbortCommand);
        if (((cs >> 4) & 1) != m_toggle)
            return sendSdoAbort(m_transferKey, AbortToggle);
        const int r = int(m_transferBuffer.size()) - m_uploadOffset;
        const int k = qMin(r, 7);
        quint8 bytes[8] = {quint8((m_toggle << 4) | ((7 - k) << 1) | (r <= 7 ? 1 : 0)), 0, 0, 0, 0, 0, 0, 0};
        for (int i = 0; i < k; ++i)
            bytes[1 + i] = quint8(m_transferBuffer.at(m_uploadOffset + i));
        sendSdoAnswer(bytes);
        m_uploadOffset += k;
        m_toggle ^= 1;
        if (r <= 7)
            m_transferState = SdoIdle;
        return;
    }
    case 0: { // download segment
        if (m_transferState != SdoDownloading)
            return sendSdoAbort(m_transferKey, AbortCommand);
        if (((cs >> 4) & 1) != m_toggle)
            return sendSdoAbort(m_transferKey, AbortToggle);
        const int count = 7 - ((cs >> 1) & 7);
        if (m_transferBuffer.size() + count > MaxDownloadBytes)
            return sendSdoAbort(m_transferKey, AbortOutOfMemory);
        m_transferBuffer.append(reinterpret_cast<const char *>(frame.data + 1), count);
        if (cs & 0x01) {
            if (m_expectedSize >= 0 && m_expectedSize != m_transferBuffer.size())
                return sendSdoAbort(m_transferKey, AbortLength);
            if (const quint32 code = checkWrite(m_transferKey, m_transferBuffer))
                return sendSdoAbort(m_transferKey, code);
            applyWrite(m_transferKey, m_transferBuffer);
            m_transferState = SdoIdle;
        }
        const quint8 bytes[8] = {quint8(0x20 | (m_toggle << 4)), 0, 0, 0, 0, 0, 0, 0};
        sendSdoAnswer(bytes);
        m_toggle ^= 1;
        return;
    }
    case 1: { // initiate download
        if (const quint32 code = lookupError(key))
            return sendSdoAbort(key, code);
        const OdEntry &entry = m_dictionary[key];
        if (!entry.writable)
            return sendSdoAbort(key, AbortReadOnly);
        if (cs & 0x02) {
            // Without size indication the entry says how many bytes count; a
            // text entry takes the four bytes up to the first zero.
            int m = 4;
            if (cs & 0x01)
                m = 4 - ((cs >> 2) & 3);
            else if (entry.size > 0 && entry.size < 4)
                m = entry.size;
            QByteArray data(reinterpret_cast<const char *>(frame.data + 4), m);
            if (!(cs & 0x01) && entry.size <= 0 && data.indexOf('\0') >= 0)
                data.truncate(data.indexOf('\0'));
            if (const quint32 code = checkWrite(key, data))
                return sendSdoAbort(key, code);
            applyWrite(key, data);
            answer(mux(0x60));
            m_transferState = SdoIdle;
            return;
        }
        const qint64 expected = (cs & 0x01) ? qint64(littleEndian32(frame, 4)) : -1;
        if (entry.size <= 0 || expected == -1 || expected == entry.size) {
            answer(mux(0x60));
            m_transferState = SdoDownloading;
            m_transferKey = key;
            m_transferBuffer.clear();
            // An announced size beyond what is ever accepted fails at the end.
            m_expectedSize = expected > MaxDownloadBytes ? MaxDownloadBytes + 1 : int(expected);
            m_toggle = 0;
            return;
        }
        return sendSdoAbort(key, entry.size < expected ? AbortTooLong : AbortTooShort);
    }
    default: // 0x80..0x9F cannot arrive here; the rest of 0x00..0x7F is covered
        return sendSdoAbort(key, AbortCommand);
    }
}

void SimulationBackend::handleBlockRequest(const CanFrame &frame)
{
    const quint8 cs = frame.data[0];
    const unsigned key = keyOf(frame);
    auto answer = [this](std::initializer_list<quint8> head) {
        quint8 bytes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        int i = 0;
        for (quint8 byte : head)
            bytes[i++] = byte;
        sendSdoAnswer(bytes);
    };

    if (m_transferState == SdoBlockDownloading) {
        const int sequence = cs & 0x7F;
        const bool last = cs & 0x80;
        if (sequence == m_blockSequence + 1) {
            if (m_transferBuffer.size() + 7 > MaxDownloadBytes + 7)
                return sendSdoAbort(m_transferKey, AbortOutOfMemory);
            m_transferBuffer.append(reinterpret_cast<const char *>(frame.data + 1), 7);
            m_blockSequence = sequence;
        } else if (sequence == 0) {
            return sendSdoAbort(m_transferKey, AbortSequence);
        }
        // A segment after a gap is dropped; the acknowledgement names the
        // last good one and the client repeats from there.
        if (!last && sequence < DownloadBlockSize)
            return;
        const bool complete = last && m_blockSequence == sequence;
        answer({0xA2, quint8(m_blockSequence), quint8(DownloadBlockSize)});
        m_blockSequence = 0;
        if (complete)
            m_transferState = SdoBlockDownloadEnd;
        return;
    }

    if ((cs >> 5) == 6) {
        if ((cs & 0x01) == 0) { // initiate block download
            if (const quint32 code = lookupError(key))
                return sendSdoAbort(key, code);
            const OdEntry &entry = m_dictionary[key];
            if (!entry.writable)
                return sendSdoAbort(key, AbortReadOnly);
            const qint64 expected = (cs & 0x02) ? qint64(littleEndian32(frame, 4)) : -1;
            if (entry.size > 0 && expected >= 0 && expected != entry.size)
                return sendSdoAbort(key, entry.size < expected ? AbortTooLong : AbortTooShort);
            m_transferState = SdoBlockDownloading;
            m_transferKey = key;
            m_transferBuffer.clear();
            m_expectedSize = expected > MaxDownloadBytes ? MaxDownloadBytes + 1 : int(expected);
            m_blockCrc = cs & 0x04;
            m_blockSequence = 0;
            answer({0xA4, quint8(key >> 8), quint8(key >> 16), quint8(key), quint8(DownloadBlockSize)});
            return;
        }
        // end of block download
        if (m_transferState != SdoBlockDownloadEnd || (cs & 0xE3) != 0xC1)
            return sendSdoAbort(m_transferKey, AbortCommand);
        const int unused = (cs >> 2) & 7;
        m_transferBuffer.chop(qMin<qsizetype>(unused, m_transferBuffer.size()));
        if (m_expectedSize >= 0 && m_expectedSize != m_transferBuffer.size())
            return sendSdoAbort(m_transferKey, AbortLength);
        if (m_blockCrc && blockCrc(m_transferBuffer) != quint16(frame.data[1] | frame.data[2] << 8))
            return sendSdoAbort(m_transferKey, AbortCrc);
        if (const quint32 code = checkWrite(m_transferKey, m_transferBuffer))
            return sendSdoAbort(m_transferKey, code);
        applyWrite(m_transferKey, m_transferBuffer);
        m_transferState = SdoIdle;
        answer({0xA1});
        return;
    }

    switch (cs & 0x03) { // block upload family, 0xA0..0xBF
    case 0: { // initiate
        if (const quint32 code = lookupError(key))
            return sendSdoAbort(key, code);
        const int blockSize = frame.data[4];
        if (blockSize < 1 || blockSize > 127)
            return sendSdoAbort(key, AbortBlockSize);
        const QByteArray &value = m_dictionary.value(key).value;
        const int protocolSwitch = frame.data[5];
        if (protocolSwitch > 0 && value.size() <= protocolSwitch && !value.isEmpty() && value.size() <= 4) {
            // Small enough for the client's threshold: a normal expedited answer.
            quint8 bytes[8] = {quint8(0x43 | ((4 - value.size()) << 2)), quint8(key >> 8), quint8(key >> 16),
                               quint8(key), 0, 0, 0, 0};
            for (int i = 0; i < value.size(); ++i)
                bytes[4 + i] = quint8(value.at(i));
            sendSdoAnswer(bytes);
            m_transferState = SdoIdle;
            return;
        }
        const quint32 size = quint32(value.size());
        m_transferState = SdoBlockUploadStarting;
        m_transferKey = key;
        m_transferBuffer = value;
        m_blockSize = blockSize;
        m_blockCrc = cs & 0x04;
        m_blockStart = 0;
        answer({0xC6, quint8(key >> 8), quint8(key >> 16), quint8(key), quint8(size), quint8(size >> 8),
                quint8(size >> 16), quint8(size >> 24)});
        return;
    }
    case 3: // start
        if (m_transferState != SdoBlockUploadStarting || cs != 0xA3)
            return sendSdoAbort(m_transferKey, AbortCommand);
        return sendUploadBlock();
    case 2: { // acknowledgement of a block
        if (m_transferState != SdoBlockUploading || cs != 0xA2)
            return sendSdoAbort(m_transferKey, AbortCommand);
        const int acknowledged = frame.data[1];
        const int nextSize = frame.data[2];
        if (acknowledged > m_blockSequence)
            return sendSdoAbort(m_transferKey, AbortSequence);
        if (nextSize < 1 || nextSize > 127)
            return sendSdoAbort(m_transferKey, AbortBlockSize);
        const int size = int(m_transferBuffer.size());
        const bool allSent = m_blockStart + m_blockSequence * 7 >= size;
        m_blockStart = qMin(m_blockStart + acknowledged * 7, size);
        m_blockSize = nextSize;
        if (allSent && acknowledged == m_blockSequence) {
            const int lastBytes = size == 0 ? 0 : size - ((size - 1) / 7) * 7;
            const quint16 crc = m_blockCrc ? blockCrc(m_transferBuffer) : 0;
            answer({quint8(0xC1 | ((7 - lastBytes) << 2)), quint8(crc), quint8(crc >> 8)});
            m_transferState = SdoBlockUploadEnd;
            return;
        }
        return sendUploadBlock();
    }
    default: // 1: end
        if (m_transferState != SdoBlockUploadEnd || cs != 0xA1)
            return sendSdoAbort(m_transferKey, AbortCommand);
        m_transferState = SdoIdle;
        return;
    }
}

void SimulationBackend::sendUploadBlock()
{
    const int size = int(m_transferBuffer.size());
    m_blockSequence = 0;
    for (int sequence = 1; sequence <= m_blockSize; ++sequence) {
        const int at = m_blockStart + (sequence - 1) * 7;
        const int count = qBound(0, size - at, 7);
        const bool last = at + 7 >= size;
        quint8 bytes[8] = {quint8(sequence | (last ? 0x80 : 0)), 0, 0, 0, 0, 0, 0, 0};
        for (int i = 0; i < count; ++i)
            bytes[1 + i] = quint8(m_transferBuffer.at(at + i));
        sendSdoAnswer(bytes);
        m_blockSequence = sequence;
        if (last)
            break;
    }
    m_transferState = SdoBlockUploading;
}

quint8 SimulationBackend::nmtState(int node) const
{
    if (node == NodeId)
        return m_nmtState;
    return m_otherNmtStates.value(node, 0xFF);
}

void SimulationBackend::sendBootUp(int node)
{
    CanFrame bootUp;
    bootUp.id = 0x700 + quint32(node);
    bootUp.dlc = 1;
    bootUp.data[0] = NmtBootUp;
    bootUp.timestampUs = elapsedNs() / 1000 + SdoAnswerDelayUs;
    put(bootUp);
}

void SimulationBackend::handleNmtCommand(const CanFrame &frame)
{
    if (frame.dlc < 2)
        return;
    const quint8 command = frame.data[0];
    const int target = frame.data[1];
    // The heartbeat-only nodes follow every command addressed to them or to
    // all; a reset makes them boot again into pre-operational.
    for (auto it = m_otherNmtStates.begin(); it != m_otherNmtStates.end(); ++it) {
        if (target != 0 && target != it.key())
            continue;
        switch (command) {
        case 0x01:
            it.value() = NmtOperational;
            break;
        case 0x02:
            it.value() = NmtStopped;
            break;
        case 0x80:
            it.value() = NmtPreOperational;
            break;
        case 0x81:
        case 0x82:
            sendBootUp(it.key());
            it.value() = NmtPreOperational;
            break;
        default:
            break;
        }
    }
    if (target != 0 && target != NodeId)
        return;
    switch (command) {
    case 0x01:
        m_nmtState = NmtOperational;
        return;
    case 0x02:
        m_nmtState = NmtStopped;
        return;
    case 0x80:
        m_nmtState = NmtPreOperational;
        return;
    case 0x81:   // reset node: every value back to its power-on default
    case 0x82: { // reset communication: the communication objects only
        if (command == 0x81) {
            buildDictionary();
        } else {
            const QMap<unsigned, OdEntry> saved = m_dictionary;
            buildDictionary();
            for (auto it = saved.cbegin(); it != saved.cend(); ++it) {
                if (it.key() >= 0x200000)
                    m_dictionary[it.key()] = it.value();
            }
        }
        applyHeartbeatTime(quint8(m_dictionary.value(HeartbeatKey).value.at(0))
                           | unsigned(quint8(m_dictionary.value(HeartbeatKey).value.at(1))) << 8);
        sendBootUp(NodeId);
        m_nmtState = NmtPreOperational;
        return;
    }
    default:
        return;
    }
}
