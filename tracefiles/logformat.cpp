// candump -L logs (.log): "(1733600000.123456) can0 123#11223344", one frame
// a line, absolute time stamps in seconds.
#include "candumpline.h"
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
        // A log line always carries its time stamp.
        if (!CanDumpLine::parse(b, e, &m_parsed) || !m_parsed.hasTimestamp) {
            ++result->unrecognised;
            return true;
        }
        if (m_parsed.length > 8) {
            ++result->skippedFd;
            return true;
        }
        const qint64 us = m_parsed.timestampUs;
        if (!m_started) {
            // The trace starts at the first frame's millisecond; the
            // microseconds below it stay in the time stamps.
            m_startMs = floorDiv(us, 1000);
            result->startTime = QDateTime::fromMSecsSinceEpoch(m_startMs);
            m_started = true;
        }
        m_entry.frame = m_parsed.frame;
        if (m_entry.frame.error)
            m_entry.frame.id = 0; // the trace keeps no identifier for error frames
        m_entry.frame.tx = m_parsed.direction == 'T';
        m_entry.number = ++m_number;
        m_entry.frame.timestampUs = saturatedSub(us, m_startMs * 1000);
        sink.add(m_entry);
        return true;
    }

private:
    CanDumpLine::Parsed m_parsed;
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
