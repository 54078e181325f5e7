#include "candumpline.h"

#include <cstring>

namespace CanDumpLine {

namespace {

constexpr quint32 ErrorFlag = 0x20000000;

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Value of every byte as a hexadecimal digit, -1 for the others: one load
// per digit on the hot path of large logs.
struct HexDigits
{
    signed char of[256] = {};
    constexpr HexDigits()
    {
        for (int c = 0; c < 256; ++c) {
            const int lower = c | 0x20;
            of[c] = char(c >= '0' && c <= '9' ? c - '0' : lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1);
        }
    }
};
constexpr HexDigits hexDigits;

inline int hexValue(char c)
{
    return hexDigits.of[static_cast<unsigned char>(c)];
}

// Skips blanks; true when at least one was skipped and text follows.
bool skipBlanks(const char *&p, const char *end)
{
    const char *start = p;
    while (p < end && isBlank(*p))
        ++p;
    return p > start && p < end;
}

// "seconds[.fraction]", optionally negative: up to 12 digits of seconds;
// fraction digits beyond the sixth are dropped.
bool parseSeconds(const char *p, const char *end, qint64 *us)
{
    const bool negative = p < end && *p == '-';
    p += negative;
    const char *first = p;
    qint64 seconds = 0;
    while (p < end && unsigned(*p - '0') < 10 && p - first < 12)
        seconds = seconds * 10 + (*p++ - '0');
    if (p == first)
        return false;
    qint64 micros = 0;
    int places = 0;
    if (p < end && *p == '.') {
        const char *fraction = ++p;
        for (; p < end && unsigned(*p - '0') < 10; ++p) {
            if (places < 6) {
                micros = micros * 10 + (*p - '0');
                ++places;
            }
        }
        if (p == fraction)
            return false;
    }
    if (p != end)
        return false;
    for (; places < 6; ++places)
        micros *= 10;
    *us = negative ? -(seconds * 1000000 + micros) : seconds * 1000000 + micros;
    return true;
}

// "id#data", "id#R[length]" or "id##flags data" in [p, end).
bool parseFrame(const char *p, const char *end, Parsed *parsed)
{
    const char *hash = static_cast<const char *>(std::memchr(p, '#', size_t(end - p)));
    if (!hash || (hash - p != 3 && hash - p != 8))
        return false;
    quint32 id = 0;
    for (const char *q = p; q != hash; ++q) {
        const int v = hexValue(*q);
        if (v < 0)
            return false;
        id = id << 4 | quint32(v);
    }
    CanFrame &frame = parsed->frame;
    if (hash - p == 3) {
        if (id > 0x7FF)
            return false;
    } else if (id & ErrorFlag) {
        frame.error = true;
        id &= 0x1FFFFFFF;
    } else if (id > 0x1FFFFFFF) {
        return false; // flag bits that this notation does not know
    } else {
        frame.extended = true;
    }
    frame.id = id;
    p = hash + 1;
    if (p < end && *p == '#') {
        // CAN FD: one flags digit, then up to 64 bytes
        if (end - p < 2 || hexValue(p[1]) < 0)
            return false;
        parsed->fd = true;
        p += 2;
    } else if (p < end && (*p == 'R' || *p == 'r')) {
        if (frame.error)
            return false; // an error frame is never a remote request
        frame.rtr = true;
        ++p;
        if (p != end) {
            if (end - p != 1 || *p < '0' || *p > '8')
                return false;
            frame.dlc = quint8(*p - '0');
        }
        return true;
    }
    const int limit = parsed->fd ? 64 : 8;
    int count = 0;
    while (p < end) {
        if (*p == '.') { // cansend allows dots between bytes
            ++p;
            continue;
        }
        if (end - p < 2 || count == limit)
            return false;
        const int high = hexValue(p[0]);
        const int low = hexValue(p[1]);
        if (high < 0 || low < 0)
            return false;
        if (count < 8)
            frame.data[count] = quint8(high << 4 | low);
        ++count;
        p += 2;
    }
    parsed->length = count;
    frame.dlc = quint8(count < 8 ? count : 8);
    return true;
}

char *putHex(char *out, quint32 value, int digits)
{
    static const char hexDigits[] = "0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; --i)
        *out++ = hexDigits[(value >> (4 * i)) & 0xF];
    return out;
}

} // namespace

bool parse(const char *begin, const char *end, Parsed *parsed)
{
    while (end != begin && (end[-1] == '\r' || isBlank(end[-1])))
        --end;
    while (begin != end && isBlank(*begin))
        ++begin;
    if (begin == end)
        return false;
    *parsed = Parsed();
    const char *p = begin;
    if (*p == '(') {
        const char *close = static_cast<const char *>(std::memchr(p, ')', size_t(end - p)));
        if (!close || !parseSeconds(p + 1, close, &parsed->timestampUs))
            return false;
        parsed->hasTimestamp = true;
        // " interface " before the frame
        p = close + 1;
        if (!skipBlanks(p, end))
            return false;
        while (p < end && !isBlank(*p))
            ++p;
        if (!skipBlanks(p, end))
            return false;
    }
    const char *frameEnd = p;
    while (frameEnd < end && !isBlank(*frameEnd))
        ++frameEnd;
    if (frameEnd < end) {
        const char *marker = frameEnd;
        skipBlanks(marker, end);
        const char upper = char(*marker & ~0x20);
        if (end - marker != 1 || (upper != 'R' && upper != 'T'))
            return false;
        parsed->direction = upper;
    }
    return parseFrame(p, frameEnd, parsed);
}

namespace {

char *putFrameText(char *out, const CanFrame &frame)
{
    if (frame.error)
        out = putHex(out, (frame.id & 0x1FFFFFFF) | ErrorFlag, 8);
    else if (frame.extended)
        out = putHex(out, frame.id & 0x1FFFFFFF, 8);
    else
        out = putHex(out, frame.id & 0x7FF, 3);
    *out++ = '#';
    const int dlc = qMin<int>(frame.dlc, 8);
    if (frame.rtr) {
        *out++ = 'R';
        if (dlc > 0)
            *out++ = char('0' + dlc);
    } else {
        for (int i = 0; i < dlc; ++i)
            out = putHex(out, frame.data[i], 2);
    }
    return out;
}

} // namespace

QByteArray frameText(const CanFrame &frame)
{
    char buffer[32];
    return QByteArray(buffer, int(putFrameText(buffer, frame) - buffer));
}

char *putLogLine(char *out, const CanFrame &frame, qint64 epochUs)
{
    // By hand rather than printf: the pipe bus writes a million lines a second at full speed.
    *out++ = '(';
    if (epochUs < 0)
        *out++ = '-';
    const quint64 magnitude = epochUs < 0 ? 0 - quint64(epochUs) : quint64(epochUs);
    quint64 seconds = magnitude / 1000000;
    char digits[20];
    int n = 0;
    do {
        digits[n++] = char('0' + seconds % 10);
        seconds /= 10;
    } while (seconds != 0);
    while (n > 0)
        *out++ = digits[--n];
    *out++ = '.';
    quint32 micros = quint32(magnitude % 1000000);
    for (int i = 5; i >= 0; --i) {
        out[i] = char('0' + micros % 10);
        micros /= 10;
    }
    out += 6;
    static const char Interface[] = ") busvista ";
    std::memcpy(out, Interface, sizeof Interface - 1);
    out += sizeof Interface - 1;
    out = putFrameText(out, frame);
    *out++ = '\n';
    return out;
}

QByteArray logLine(const CanFrame &frame, qint64 epochUs)
{
    char buffer[MaxLogLineBytes];
    return QByteArray(buffer, int(putLogLine(buffer, frame, epochUs) - buffer));
}

} // namespace CanDumpLine
