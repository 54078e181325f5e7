#pragma once

#include <QtGlobal>

#include <cstring>
#include <limits>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

// Byte-level helpers the trace readers and writers share: no allocation,
// no locale, every length checked against the end pointer.
namespace TraceScan {

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

struct HexTable
{
    signed char value[256];
    constexpr HexTable() : value()
    {
        for (int i = 0; i < 256; ++i)
            value[i] = -1;
        for (int i = 0; i < 10; ++i)
            value['0' + i] = char(i);
        for (int i = 0; i < 6; ++i) {
            value['A' + i] = char(10 + i);
            value['a' + i] = char(10 + i);
        }
    }
};
inline constexpr HexTable hexTable;

inline int hexValue(char c)
{
    return hexTable.value[static_cast<unsigned char>(c)];
}

// Skips blanks; runs of padding (ASC columns) 16 bytes at a time.
inline void skipBlankRun(const char *&p, const char *e)
{
    if (p < e && !isBlank(*p))
        return;
    if (e - p >= 2 && !isBlank(p[1])) {
        ++p;
        return;
    }
#if defined(__SSE2__) || defined(_M_X64)
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i tab = _mm_set1_epi8('\t');
    while (e - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const unsigned blank = unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, space), _mm_cmpeq_epi8(v, tab))));
        if (blank != 0xFFFF) {
            p += __builtin_ctz(~blank);
            return;
        }
        p += 16;
    }
#endif
    while (p < e && isBlank(*p))
        ++p;
}

// Skips blanks; true when at least one was skipped and text follows.
inline bool skipBlanks(const char *&p, const char *e)
{
    const char *start = p;
    while (p < e && isBlank(*p))
        ++p;
    return p > start && p < e;
}

inline void trimBlanks(const char *&b, const char *&e)
{
    while (b < e && isBlank(*b))
        ++b;
    while (e > b && isBlank(e[-1]))
        --e;
}

// The next blank-separated token of [p, e); false at the end.
inline bool nextToken(const char *&p, const char *e, const char **begin, const char **end)
{
    skipBlankRun(p, e);
    *begin = p;
    while (p < e && !isBlank(*p))
        ++p;
    *end = p;
    return p > *begin;
}

inline bool equals(const char *b, const char *e, const char *literal)
{
    const size_t n = std::strlen(literal);
    return size_t(e - b) == n && std::memcmp(b, literal, n) == 0;
}

// Exactly 1..8 hexadecimal digits.
inline bool parseHex(const char *b, const char *e, quint32 *value)
{
    if (b == e || e - b > 8)
        return false;
    quint32 v = 0;
    for (; b < e; ++b) {
        const int h = hexValue(*b);
        if (h < 0)
            return false;
        v = v << 4 | quint32(h);
    }
    *value = v;
    return true;
}

// Exactly 1..9 decimal digits.
inline bool parseDecimal(const char *b, const char *e, quint32 *value)
{
    if (b == e || e - b > 9)
        return false;
    quint32 v = 0;
    for (; b < e; ++b) {
        if (!isDigit(*b))
            return false;
        v = v * 10 + quint32(*b - '0');
    }
    *value = v;
    return true;
}

// "-?digits[.digits]" seconds as whole microseconds, exactly (digits past
// the sixth are cut off); at most 12 digits before the point.
inline bool parseSeconds(const char *b, const char *e, qint64 *us)
{
    const bool negative = b < e && *b == '-';
    const char *p = b + negative;
    qint64 whole = 0;
    const char *digits = p;
    while (p < e && isDigit(*p) && p - digits < 12)
        whole = whole * 10 + (*p++ - '0');
    if (p == digits)
        return false;
    qint64 fraction = 0;
    int places = 0;
    if (p < e && *p == '.') {
        ++p;
        const char *first = p;
        while (p < e && isDigit(*p)) {
            if (places < 6) {
                fraction = fraction * 10 + (*p - '0');
                ++places;
            }
            ++p;
        }
        if (p == first)
            return false;
    }
    if (p != e)
        return false;
    for (; places < 6; ++places)
        fraction *= 10;
    const qint64 value = whole * 1000000 + fraction;
    *us = negative ? -value : value;
    return true;
}

inline qint64 saturatedAdd(qint64 a, qint64 b)
{
    qint64 r = 0;
    if (__builtin_add_overflow(a, b, &r))
        return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return r;
}

inline qint64 saturatedSub(qint64 a, qint64 b)
{
    qint64 r = 0;
    if (__builtin_sub_overflow(a, b, &r))
        return b < 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return r;
}

// Rounds toward minus infinity, unlike "/".
inline qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

inline char *writeDecimal(char *p, quint64 value)
{
    char tmp[24];
    int n = 0;
    do {
        tmp[n++] = char('0' + value % 10);
        value /= 10;
    } while (value);
    while (n)
        *p++ = tmp[--n];
    return p;
}

// Upper-case hexadecimal, left-padded with "0" to width digits.
inline char *writeHex(char *p, quint32 value, int width)
{
    static const char digits[] = "0123456789ABCDEF";
    char tmp[8];
    int n = 0;
    do {
        tmp[n++] = digits[value & 0xF];
        value >>= 4;
    } while (value);
    for (int i = n; i < width; ++i)
        *p++ = '0';
    while (n)
        *p++ = tmp[--n];
    return p;
}

// n bytes as two upper-case hexadecimal digits each, separated by
// `separator` unless it is 0.
inline char *writeHexBytes(char *p, const quint8 *data, int n, char separator)
{
    static const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < n; ++i) {
        if (i && separator)
            *p++ = separator;
        *p++ = digits[data[i] >> 4];
        *p++ = digits[data[i] & 0xF];
    }
    return p;
}

// Microseconds as seconds with six decimals ("-1.000500").
inline char *writeSeconds(char *p, qint64 us)
{
    quint64 magnitude = us < 0 ? quint64(0) - quint64(us) : quint64(us);
    if (us < 0)
        *p++ = '-';
    p = writeDecimal(p, magnitude / 1000000);
    *p++ = '.';
    quint64 fraction = magnitude % 1000000;
    for (int div = 100000; div; div /= 10) {
        *p++ = char('0' + fraction / quint64(div));
        fraction %= quint64(div);
    }
    return p;
}

} // namespace TraceScan
