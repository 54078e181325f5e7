// candump -L logs (.log): "(1733600000.123456) can0 123#11223344", one frame
// a line, absolute time stamps in seconds.
#include "traceformat.h"
#include "tracescan.h"

#include <algorithm>

namespace TraceFile {

namespace {

// Flag bits of an identifier in the socket interface's frame.
constexpr quint32 ErrorFlag = 0x20000000;
constexpr quint32 BusError = 0x00000080;

class LogReader : public LineReader
{
protected:
    bool line(const char *b, const char *e, Sink &sink, LoadResult *result, QString *) override
    {
        using namespace TraceScan;
        trimBlanks(b, e);
        if (b == e)
            return true;
        switch (readFrame(b, e)) {
        case Line::Entry:
            if (!m_started) {
                // The trace starts at the first frame's millisecond; the
                // microseconds below it stay in the time stamps.
                m_startMs = floorDiv(m_us, 1000);
                result->startTime = QDateTime::fromMSecsSinceEpoch(m_startMs);
                m_started = true;
            }
            m_entry.number = ++m_number;
            m_entry.frame.timestampUs = saturatedSub(m_us, m_startMs * 1000);
            sink.add(m_entry);
            break;
        case Line::Fd: ++result->skippedFd; break;
        case Line::Bad: ++result->unrecognised; break;
        }
        return true;
    }

private:
    enum class Line { Entry, Fd, Bad };

    Line readFrame(const char *p, const char *e)
    {
        using namespace TraceScan;
        // (seconds.fraction)
        if (*p++ != '(')
            return Line::Bad;
        const char *close = static_cast<const char *>(std::memchr(p, ')', size_t(e - p)));
        if (!close || !parseSeconds(p, close, &m_us))
            return Line::Bad;
        p = close + 1;
        // interface
        if (!skipBlanks(p, e))
            return Line::Bad;
        const char *name = p;
        while (p < e && !isBlank(*p))
            ++p;
        if (p == name || !skipBlanks(p, e))
            return Line::Bad;
        // identifier#data, then an optional direction marker
        const char *frame = p;
        while (p < e && !isBlank(*p))
            ++p;
        const char *frameEnd = p;
        CanFrame &f = m_entry.frame;
        f = CanFrame();
        if (p < e) {
            skipBlanks(p, e);
            if (e - p != 1 || (*p != 'R' && *p != 'T' && *p != 'r' && *p != 't'))
                return Line::Bad;
            f.tx = *p == 'T' || *p == 't';
        }
        const char *hash = static_cast<const char *>(std::memchr(frame, '#', size_t(frameEnd - frame)));
        if (!hash)
            return Line::Bad;
        quint32 id = 0;
        if (!parseHex(frame, hash, &id) || (hash - frame != 3 && hash - frame != 8))
            return Line::Bad;
        f.extended = hash - frame == 8;
        if (f.extended && (id & ErrorFlag)) {
            f.error = true;
            f.extended = false;
        } else if (f.extended ? id > 0x1FFFFFFF : id > 0x7FF) {
            return Line::Bad;
        } else {
            f.id = id;
        }
        p = hash + 1;
        bool fd = false;
        if (p < frameEnd && *p == '#') {
            // CAN FD: a flags digit, then up to 64 bytes
            fd = true;
            p += 2;
            if (p > frameEnd)
                return Line::Bad;
        }
        if (!fd && p < frameEnd && (*p == 'R' || *p == 'r')) {
            f.rtr = true;
            ++p;
            if (p < frameEnd) {
                if (frameEnd - p != 1 || *p < '0' || *p > '8')
                    return Line::Bad;
                f.dlc = quint8(*p - '0');
            }
            return f.error ? Line::Bad : Line::Entry;
        }
        int count = 0;
        quint8 bytes[64];
        while (p < frameEnd) {
            if (*p == '.') {
                ++p;
                continue;
            }
            const int high = hexValue(*p);
            const int low = p + 1 < frameEnd ? hexValue(p[1]) : -1;
            if (high < 0 || low < 0 || count == 64)
                return Line::Bad;
            bytes[count++] = quint8(high << 4 | low);
            p += 2;
        }
        if (count > 8)
            return fd ? Line::Fd : Line::Bad;
        f.dlc = quint8(count);
        std::memcpy(f.data, bytes, size_t(count));
        return Line::Entry;
    }

    qint64 m_us = 0;
    qint64 m_startMs = 0;
    bool m_started = false;
    quint64 m_number = 0;
    TraceEntry m_entry;
};

class LogWriter : public LineWriter
{
protected:
    void header(QByteArray &, const Source &source) override
    {
        const QDateTime start = source.startTime.isValid() ? source.startTime : QDateTime::currentDateTime();
        m_startUs = start.toMSecsSinceEpoch() * 1000;
    }
    void entry(QByteArray &out, const TraceEntry &entry, qint64 offsetUs) override
    {
        using namespace TraceScan;
        const CanFrame &f = entry.frame;
        if (f.status)
            return;  // a driver notice, not a frame on the bus
        char buf[96];
        char *p = buf;
        *p++ = '(';
        p = writeSeconds(p, saturatedAdd(m_startUs, offsetUs));
        std::memcpy(p, ") can0 ", 7);
        p += 7;
        if (f.error)
            p = writeHex(p, ErrorFlag | BusError, 8);
        else
            p = writeHex(p, f.id, f.extended ? 8 : 3);
        *p++ = '#';
        if (f.rtr && !f.error) {
            *p++ = 'R';
            if (f.dlc)
                *p++ = char('0' + std::min<int>(f.dlc, 8));
        } else {
            p = writeHexBytes(p, f.data, std::min<int>(f.dlc, 8), 0);
        }
        std::memcpy(p, f.tx ? " T\n" : " R\n", 3);
        out.append(buf, p + 3 - buf);
    }

private:
    qint64 m_startUs = 0;
};

} // namespace

std::unique_ptr<Reader> makeLogReader()
{
    return std::make_unique<LogReader>();
}

std::unique_ptr<Writer> makeLogWriter()
{
    return std::make_unique<LogWriter>();
}

} // namespace TraceFile
