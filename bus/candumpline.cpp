#include "candumpline.h"

#include <cstdio>

namespace CanDumpLine {

namespace {

constexpr quint32 ErrorFlag = 0x20000000;

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// "(seconds.micros)": up to 12 digits of seconds and exactly 6 of micros.
bool parseTimestamp(const char *&p, const char *end, qint64 *us)
{
    if (p == end || *p != '(')
        return false;
    ++p;
    qint64 seconds = 0;
    int digits = 0;
    while (p != end && *p >= '0' && *p <= '9') {
        if (++digits > 12)
            return false;
        seconds = seconds * 10 + (*p++ - '0');
    }
    if (digits == 0 || p == end || *p != '.')
        return false;
    ++p;
    qint64 micros = 0;
    for (int i = 0; i < 6; ++i) {
        if (p == end || *p < '0' || *p > '9')
            return false;
        micros = micros * 10 + (*p++ - '0');
    }
    if (p == end || *p != ')')
        return false;
    ++p;
    *us = seconds * 1000000 + micros;
    return true;
}

bool parseFrame(const char *p, const char *end, CanFrame *frame)
{
    const char *hash = p;
    while (hash != end && *hash != '#')
        ++hash;
    const int idDigits = int(hash - p);
    if (hash == end || (idDigits != 3 && idDigits != 8))
        return false;
    quint32 id = 0;
    for (const char *q = p; q != hash; ++q) {
        const int v = hexValue(*q);
        if (v < 0)
            return false;
        id = id << 4 | quint32(v);
    }
    CanFrame result;
    if (idDigits == 3) {
        if (id > 0x7FF)
            return false;
    } else {
        if (id & ErrorFlag)
            result.error = true;
        else
            result.extended = true;
        id &= 0x1FFFFFFF;
    }
    result.id = id;
    p = hash + 1;
    if (p != end && (*p == 'R' || *p == 'r')) {
        result.rtr = true;
        ++p;
        if (p != end) {
            if (*p < '0' || *p > '8' || p + 1 != end)
                return false;
            result.dlc = quint8(*p - '0');
        }
        *frame = result;
        return true;
    }
    int count = 0;
    while (p != end) {
        if (*p == '.') { // cansend allows dots between bytes
            ++p;
            continue;
        }
        if (end - p < 2 || count == 8)
            return false;
        const int hi = hexValue(p[0]);
        const int lo = hexValue(p[1]);
        if (hi < 0 || lo < 0)
            return false;
        result.data[count++] = quint8(hi << 4 | lo);
        p += 2;
    }
    result.dlc = quint8(count);
    *frame = result;
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
    while (end != begin && (end[-1] == '\r' || end[-1] == ' ' || end[-1] == '\t'))
        --end;
    while (begin != end && (*begin == ' ' || *begin == '\t'))
        ++begin;
    if (begin == end)
        return false;
    Parsed result;
    const char *p = begin;
    if (*p == '(') {
        if (!parseTimestamp(p, end, &result.timestampUs))
            return false;
        result.hasTimestamp = true;
        // " interface " before the frame
        if (p == end || *p != ' ')
            return false;
        while (p != end && *p == ' ')
            ++p;
        while (p != end && *p != ' ')
            ++p;
        while (p != end && *p == ' ')
            ++p;
    }
    if (!parseFrame(p, end, &result.frame))
        return false;
    *parsed = result;
    return true;
}

QByteArray frameText(const CanFrame &frame)
{
    char buffer[32];
    char *out = buffer;
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
    return QByteArray(buffer, int(out - buffer));
}

QByteArray logLine(const CanFrame &frame, qint64 epochUs)
{
    char stamp[32];
    const int n = std::snprintf(stamp, sizeof stamp, "(%lld.%06lld) busvista ", static_cast<long long>(epochUs / 1000000),
                                static_cast<long long>(epochUs % 1000000));
    QByteArray line(stamp, n);
    line += frameText(frame);
    line += '\n';
    return line;
}

} // namespace CanDumpLine
