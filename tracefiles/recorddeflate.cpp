// Deflate (RFC 1951) in one block of fixed Huffman codes, inside the zlib
// frame (RFC 1950). A match is only sought at the distance of one record:
// in a stream of log objects most bytes equal those one object earlier, so
// this finds nearly everything a hash search would, at a fraction of its cost.
#include "recorddeflate.h"

#include <QtEndian>

#include <libdeflate.h>

#include <algorithm>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace RecordDeflate {

namespace {

struct Code
{
    quint32 bits;   // in the order they are written, lowest first
    quint32 count;
};

// Huffman codes go out highest bit first, the bit writer lowest first.
constexpr quint32 reversed(quint32 code, int n)
{
    quint32 r = 0;
    for (int i = 0; i < n; ++i) {
        r = r << 1 | (code & 1);
        code >>= 1;
    }
    return r;
}

Code fixedSymbol(int symbol)
{
    if (symbol < 144)
        return {reversed(0x30 + symbol, 8), 8};
    if (symbol < 256)
        return {reversed(0x190 + symbol - 144, 9), 9};
    if (symbol < 280)
        return {reversed(symbol - 256, 7), 7};
    return {reversed(0xC0 + symbol - 280, 8), 8};
}

constexpr int EndOfBlock = 256;
constexpr size_t MinMatch = 4;
constexpr size_t MaxMatch = 258;
constexpr int lengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

struct Tables
{
    Code literal[257];
    Code length[MaxMatch + 1];  // symbol and extra bits together
    Tables()
    {
        for (int s = 0; s <= EndOfBlock; ++s)
            literal[s] = fixedSymbol(s);
        for (int len = 3, k = 0; len <= int(MaxMatch); ++len) {
            while (k < 28 && lengthBase[k + 1] <= len)
                ++k;
            const Code c = fixedSymbol(257 + k);
            length[len] = {c.bits | quint32(len - lengthBase[k]) << c.count, c.count + quint32(lengthExtra[k])};
        }
    }
};
const Tables tables;

// Fixed distance codes are five bits, followed by the extra bits.
Code distanceCode(quint32 distance)
{
    const quint32 d = distance - 1;
    if (d < 4)
        return {reversed(d, 5), 5};
    const int l = 31 - __builtin_clz(d);
    const quint32 code = quint32(2 * l) + ((d >> (l - 1)) & 1);
    return {reversed(code, 5) | (d & ((1u << (l - 1)) - 1)) << 5, quint32(5 + l - 1)};
}

// Up to 56 bits are added between two flushes; a flush stores 8 bytes and
// keeps the odd bits.
struct BitWriter
{
    uchar *out;
    quint64 held = 0;
    quint32 count = 0;
    void add(Code c)
    {
        held |= quint64(c.bits) << count;
        count += c.count;
    }
    void flush()
    {
        const quint64 bytes = qToLittleEndian(held);
        std::memcpy(out, &bytes, 8);
        out += count >> 3;
        held >>= count & ~7u;
        count &= 7;
    }
};

quint64 load64(const uchar *p)
{
    quint64 v;
    std::memcpy(&v, p, 8);
    return v;
}

// Equal bytes from the start, at most limit.
size_t common(const uchar *a, const uchar *b, size_t limit)
{
    size_t n = 0;
    while (n + 8 <= limit) {
        if (const quint64 x = load64(a + n) ^ load64(b + n))
            return n + size_t(__builtin_ctzll(x) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

// Bit i: the four bytes from a + i equal those from b + i (i < 13).
quint32 matchStarts(const uchar *a, const uchar *b)
{
#if defined(__SSE2__) || defined(_M_X64)
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b));
    const quint32 equal = quint32(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)));
#else
    quint32 equal = 0;
    for (int i = 0; i < 16; ++i)
        equal |= quint32(a[i] == b[i]) << i;
#endif
    return equal & equal >> 1 & equal >> 2 & equal >> 3 & 0x1FFF;
}

constexpr quint32 NoMatchWithin = 13;

} // namespace

size_t compress(const uchar *in, size_t n, uchar *out, size_t recordSize, size_t otherRecordSize)
{
    Q_ASSERT(recordSize >= 1 && recordSize <= MaxRecordSize && otherRecordSize >= 1 && otherRecordSize <= MaxRecordSize);
    uchar *const start = out;
    out[0] = 0x78;  // deflate, 32 KiB window
    out[1] = 0x01;  // fastest, no dictionary; 0x7801 is a multiple of 31
    BitWriter bits{out + 2};
    bits.add({3, 3});  // the last block, fixed codes

    auto literals = [&](const uchar *p, size_t count) {
        for (; count >= 6; count -= 6, p += 6) {
            for (int k = 0; k < 6; ++k)
                bits.add(tables.literal[p[k]]);
            bits.flush();
        }
        for (size_t k = 0; k < count; ++k)
            bits.add(tables.literal[p[k]]);
        bits.flush();
    };

    const quint32 strides[2] = {quint32(recordSize), quint32(otherRecordSize)};
    quint32 distance = strides[0];
    Code distanceBits = distanceCode(distance);
    size_t i = std::min(n, MaxRecordSize);
    literals(in, i);
    while (i + 16 <= n) {
        const quint32 here = matchStarts(in + i, in + i - distance);
        if (!(here & 1)) {
            // Literals up to the nearest match at either record size.
            quint32 best = here ? quint32(__builtin_ctz(here)) : NoMatchWithin;
            quint32 bestDistance = distance;
            for (const quint32 stride : strides) {
                if (stride == distance)
                    continue;
                const quint32 there = matchStarts(in + i, in + i - stride);
                const quint32 at = there ? quint32(__builtin_ctz(there)) : NoMatchWithin;
                if (at < best) {
                    best = at;
                    bestDistance = stride;
                }
            }
            literals(in + i, best);
            i += best;
            if (bestDistance != distance) {
                distance = bestDistance;
                distanceBits = distanceCode(distance);
            }
            if (best == NoMatchWithin)
                continue;
        }
        const size_t length = MinMatch + common(in + i + MinMatch, in + i + MinMatch - distance, std::min(MaxMatch - MinMatch, n - i - MinMatch));
        bits.add(tables.length[length]);
        bits.add(distanceBits);
        bits.flush();
        i += length;
    }
    literals(in + i, n - i);
    bits.add(tables.literal[EndOfBlock]);
    bits.flush();
    uchar *o = bits.out;
    if (bits.count)
        *o++ = uchar(bits.held);
    const quint32 adler = libdeflate_adler32(1, in, n);
    o[0] = uchar(adler >> 24);
    o[1] = uchar(adler >> 16);
    o[2] = uchar(adler >> 8);
    o[3] = uchar(adler);
    return size_t(o + 4 - start);
}

} // namespace RecordDeflate
