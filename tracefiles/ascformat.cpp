// Vector ASC logs (.asc): a text header (date, number base, time stamp
// kind) and one event a line inside "Begin Triggerblock" ... "End TriggerBlock".
#include "traceformat.h"
#include "tracescan.h"

#include <algorithm>

namespace TraceFile {

namespace {

using namespace TraceScan;

const char *const monthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char *const dayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

bool equalsNoCase(const char *b, const char *e, const char *literal)
{
    const size_t n = std::strlen(literal);
    if (size_t(e - b) != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        if ((b[i] | 0x20) != (literal[i] | 0x20))
            return false;
    }
    return true;
}

bool startsWithNoCase(const char *b, const char *e, const char *literal)
{
    const size_t n = std::strlen(literal);
    return size_t(e - b) >= n && equalsNoCase(b, b + n, literal);
}

// "15:06:13.191" or "15:06:13"; digits of the fraction past the third are cut off.
QTime parseClock(const char *b, const char *e)
{
    quint32 parts[3] = {};
    for (int i = 0; i < 3; ++i) {
        const char *end = b;
        while (end < e && isDigit(*end))
            ++end;
        if (!parseDecimal(b, end, &parts[i]) || (i < 2 && (end == e || *end != ':')))
            return QTime();
        b = i < 2 ? end + 1 : end;
    }
    int ms = 0;
    if (b < e) {
        if (*b != '.' || ++b == e)
            return QTime();
        for (int scale = 100; b < e; ++b, scale /= 10) {
            if (!isDigit(*b))
                return QTime();
            ms += (*b - '0') * scale;
        }
    }
    return QTime(int(parts[0]), int(parts[1]), int(parts[2]), ms);
}

// "Sam Sep 30 15:06:13.191 2017", "Thu Apr 28 10:44:52.480 am 2022": the
// weekday in any language, the month in English or German, 12 or 24 hours.
QDateTime parseAscDate(const char *p, const char *e)
{
    static const char *const german[] = {"Jan", "Feb", "Mär", "Apr", "Mai", "Jun", "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
    const char *b = nullptr;
    const char *t = nullptr;
    int month = 0;
    while (!month && nextToken(p, e, &b, &t)) {
        for (int m = 0; m < 12 && !month; ++m) {
            if (equalsNoCase(b, t, monthNames[m]) || equals(b, t, german[m]) || (m == 2 && equals(b, t, "Mrz")))
                month = m + 1;
        }
    }
    quint32 day = 0;
    if (!month || !nextToken(p, e, &b, &t) || !parseDecimal(b, t, &day))
        return QDateTime();
    if (!nextToken(p, e, &b, &t))
        return QDateTime();
    QTime time = parseClock(b, t);
    if (!time.isValid() || !nextToken(p, e, &b, &t))
        return QDateTime();
    const bool am = equalsNoCase(b, t, "am");
    const bool pm = equalsNoCase(b, t, "pm");
    if (am || pm) {
        if (time.hour() > 12 || time.hour() == 0 || !nextToken(p, e, &b, &t))
            return QDateTime();
        time = time.addSecs(((time.hour() % 12) + (pm ? 12 : 0) - time.hour()) * 3600);
    }
    quint32 year = 0;
    if (!parseDecimal(b, t, &year))
        return QDateTime();
    const QDate date(int(year), month, int(day));
    return date.isValid() ? wallClockTime(date, time) : QDateTime();
}

class AscReader : public LineReader
{
protected:
    bool line(const char *b, const char *e, Sink &sink, LoadResult *result, QString *) override
    {
        trimBlanks(b, e);
        if (b == e || startsWith(b, e, "//"))
            return true;
        if (isDigit(*b) || *b == '-') {
            switch (readEvent(b, e)) {
            case Event::Entry:
                m_entry.number = ++m_number;
                sink.add(m_entry);
                break;
            case Event::Fd: ++result->skippedFd; break;
            case Event::Bad: ++result->unrecognised; break;
            case Event::Other: break;
            }
            return true;
        }
        if (startsWithNoCase(b, e, "date ")) {
            // The trigger block's own date, when it has one, is the start.
            if (!result->startTime.isValid())
                result->startTime = parseAscDate(b + 5, e);
        } else if (startsWithNoCase(b, e, "base ")) {
            const char *p = b + 5;
            const char *t = nullptr;
            const char *te = nullptr;
            while (nextToken(p, e, &t, &te)) {
                if (equalsNoCase(t, te, "dec"))
                    m_decimal = true;
                else if (equalsNoCase(t, te, "hex"))
                    m_decimal = false;
                else if (equalsNoCase(t, te, "relative"))
                    m_relative = true;
                else if (equalsNoCase(t, te, "absolute"))
                    m_relative = false;
            }
        } else if (startsWithNoCase(b, e, "begin triggerblock")) {
            const QDateTime start = parseAscDate(b + 18, e);
            if (start.isValid())
                result->startTime = start;
        }
        // Anything else of the header ("internal events logged",
        // "End TriggerBlock") carries nothing for the trace.
        return true;
    }

private:
    enum class Event { Entry, Fd, Bad, Other };

    bool number(const char *b, const char *e, quint32 *value) const
    {
        return m_decimal ? parseDecimal(b, e, value) : parseHex(b, e, value);
    }

    // An identifier, another word (Event::Other) or an identifier out of range (Event::Bad).
    Event identifier(const char *b, const char *e, CanFrame &f) const
    {
        f.extended = e > b && (e[-1] == 'x' || e[-1] == 'X');
        quint32 id = 0;
        if (!number(b, e - f.extended, &id))
            return Event::Other;
        if (id > (f.extended ? 0x1FFFFFFFu : 0x7FFu))
            return Event::Bad;
        f.id = id;
        return Event::Entry;
    }

    // Up to `wanted` data bytes after p; *count is how many bytes follow
    // (more than 8 are counted, not stored).
    bool bytes(const char *&p, const char *e, CanFrame &f, int wanted, int *count) const
    {
        *count = 0;
        // The usual form first: one blank and two hexadecimal digits.
        while (!m_decimal && *count < wanted && e - p >= 3 && p[0] == ' ' && (e - p == 3 || isBlank(p[3]))) {
            const int high = hexValue(p[1]);
            const int low = hexValue(p[2]);
            if ((high | low) < 0)
                break;
            if (*count < 8)
                f.data[*count] = quint8(high << 4 | low);
            ++*count;
            p += 3;
        }
        const char *b = nullptr;
        const char *t = nullptr;
        while (*count < wanted) {
            const char *before = p;
            quint32 value = 0;
            if (!nextToken(p, e, &b, &t) || t - b > (m_decimal ? 3 : 2) || !number(b, t, &value) || value > 0xFF) {
                p = before;
                break;
            }
            if (*count < 8)
                f.data[*count] = quint8(value);
            ++*count;
        }
        return true;
    }

    Event readEvent(const char *p, const char *e)
    {
        const char *b = nullptr;
        const char *t = nullptr;
        qint64 us = 0;
        if (!nextToken(p, e, &b, &t) || !parseSeconds(b, t, &us))
            return Event::Bad;
        if (m_relative) {
            m_lastUs = saturatedAdd(m_lastUs, us);
            us = m_lastUs;
        }
        CanFrame &f = m_entry.frame;
        f = CanFrame();
        f.timestampUs = us;
        if (!nextToken(p, e, &b, &t))
            return Event::Bad;
        if (equals(b, t, "CANFD"))
            return readFd(p, e);
        quint32 channel = 0;
        if (!parseDecimal(b, t, &channel))
            return Event::Other;  // "Start of measurement", "CAN 1 Status:...", statistics
        if (!nextToken(p, e, &b, &t))
            return Event::Bad;
        if (equals(b, t, "ErrorFrame")) {
            f.error = true;
            return Event::Entry;
        }
        // Other events of a channel (statistics, J1939, text) have a word here.
        if (const Event id = identifier(b, t, f); id != Event::Entry)
            return id;
        if (!nextToken(p, e, &b, &t))
            return Event::Bad;
        if (equals(b, t, "Rx") || equals(b, t, "Tx")) {
            f.tx = *b == 'T';
            if (!nextToken(p, e, &b, &t))
                return Event::Bad;
        }
        quint32 dlc = 0;
        if (equals(b, t, "r")) {
            f.rtr = true;
            const char *before = p;
            if (nextToken(p, e, &b, &t) && number(b, t, &dlc))
                f.dlc = quint8(std::min<quint32>(dlc, 8));
            else
                p = before;
            return Event::Entry;
        }
        if (!equals(b, t, "d") || !nextToken(p, e, &b, &t) || !number(b, t, &dlc) || dlc > 64)
            return Event::Bad;
        // A classic frame with a length code above 8 carries 8 bytes; more
        // bytes than 8 make it a CAN FD frame written as a classic line.
        int count = 0;
        bytes(p, e, f, dlc > 8 ? 64 : int(dlc), &count);
        if (count > 8)
            return Event::Fd;
        if (count < std::min<int>(int(dlc), 8))
            return Event::Bad;
        f.dlc = quint8(count);
        return Event::Entry;
    }

    // "CANFD ch Rx|Tx id [name] brs esi dlc length data ..." or "... ErrorFrame ...".
    Event readFd(const char *p, const char *e)
    {
        CanFrame &f = m_entry.frame;
        const char *b = nullptr;
        const char *t = nullptr;
        quint32 value = 0;
        if (!nextToken(p, e, &b, &t) || !parseDecimal(b, t, &value) || !nextToken(p, e, &b, &t))
            return Event::Bad;
        if (!equals(b, t, "Rx") && !equals(b, t, "Tx"))
            return Event::Other;
        f.tx = *b == 'T';
        if (!nextToken(p, e, &b, &t))
            return Event::Bad;
        if (equals(b, t, "ErrorFrame")) {
            f.error = true;
            return Event::Entry;
        }
        if (identifier(b, t, f) != Event::Entry || !nextToken(p, e, &b, &t))
            return Event::Bad;
        if (!(t - b == 1 && isDigit(*b)) && !nextToken(p, e, &b, &t))  // a symbolic name
            return Event::Bad;
        quint32 dlc = 0;
        quint32 length = 0;
        if (!nextToken(p, e, &b, &t) /* esi */ || !nextToken(p, e, &b, &t) || !parseHex(b, t, &dlc)
            || !nextToken(p, e, &b, &t) || !parseDecimal(b, t, &length) || dlc > 15 || length > 64)
            return Event::Bad;
        if (length > 8)
            return Event::Fd;
        if (length == 0 && dlc > 0) {
            // No bytes for a length code: a remote request.
            f.rtr = true;
            f.dlc = quint8(std::min<quint32>(dlc, 8));
            return Event::Entry;
        }
        int count = 0;
        bytes(p, e, f, int(length), &count);
        if (count < int(length))
            return Event::Bad;
        f.dlc = quint8(count);
        return Event::Entry;
    }

    bool m_decimal = false;
    bool m_relative = false;
    qint64 m_lastUs = 0;
    quint64 m_number = 0;
    TraceEntry m_entry;
};

// English names and 24 hours, as the vendor's tools write them outside
// their own locale.
QByteArray ascDate(const QDateTime &time)
{
    const QDate d = time.date();
    const QTime t = time.time();
    return QByteArray(dayNames[d.dayOfWeek() - 1]) + ' ' + monthNames[d.month() - 1] + ' '
        + QByteArray::number(d.day()).rightJustified(2, '0') + ' '
        + QByteArray::number(t.hour()).rightJustified(2, '0') + ':' + QByteArray::number(t.minute()).rightJustified(2, '0')
        + ':' + QByteArray::number(t.second()).rightJustified(2, '0') + '.' + QByteArray::number(t.msec()).rightJustified(3, '0')
        + ' ' + QByteArray::number(d.year());
}

class AscWriter : public LineWriter
{
protected:
    void header(QByteArray &out, const Source &source) override
    {
        const QByteArray date = ascDate(source.startTime.isValid() ? source.startTime : QDateTime::currentDateTime());
        out += "date " + date + "\nbase hex  timestamps absolute\ninternal events logged\n// version 9.0.0\n";
        out += "Begin Triggerblock " + date + "\n   0.000000 Start of measurement\n";
    }
    void entry(QByteArray &out, const TraceEntry &entry, qint64 offsetUs) override
    {
        const CanFrame &f = entry.frame;
        char buf[128];
        char field[32];
        // Time right-aligned to 10 characters, as " %9.6f" writes it.
        char *p = buf;
        const char *timeEnd = writeSeconds(field, offsetUs);
        for (auto n = timeEnd - field; n < 10; ++n)
            *p++ = ' ';
        std::memcpy(p, field, size_t(timeEnd - field));
        p += timeEnd - field;
        if (f.error) {
            std::memcpy(p, " 1  ErrorFrame\n", 15);
            out.append(buf, p + 15 - buf);
            return;
        }
        std::memcpy(p, " 1  ", 4);
        p += 4;
        // Identifier left-aligned to 15 characters.
        char *id = p;
        p = writeHex(p, f.id, 1);
        if (f.extended)
            *p++ = 'x';
        while (p - id < 15)
            *p++ = ' ';
        std::memcpy(p, f.tx ? " Tx   " : " Rx   ", 6);
        p += 6;
        const int dlc = std::min<int>(f.dlc, 8);
        *p++ = f.rtr ? 'r' : 'd';
        *p++ = ' ';
        *p++ = char('0' + dlc);
        if (!f.rtr && dlc) {
            *p++ = ' ';
            p = writeHexBytes(p, f.data, dlc, ' ');
        }
        *p++ = '\n';
        out.append(buf, p - buf);
    }
    void footer(QByteArray &out) override { out += "End TriggerBlock\n"; }
};

} // namespace

std::unique_ptr<Reader> makeAscReader()
{
    return std::make_unique<AscReader>();
}

std::unique_ptr<Writer> makeAscWriter()
{
    return std::make_unique<AscWriter>();
}

} // namespace TraceFile
