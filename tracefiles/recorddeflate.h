#pragma once

#include <QtGlobal>

#include <cstddef>

// A zlib stream for data made of fixed-size records, several times as fast
// as a general compressor: it only looks for repeats of the bytes one record
// earlier (one of two record sizes), written with the fixed Huffman codes.
// Any input gives a valid stream; records make it a small one.
namespace RecordDeflate {

constexpr size_t MaxRecordSize = 64;

// Bytes the output of n input bytes may need at most.
constexpr size_t bound(size_t n)
{
    return n + n / 8 + 32;
}

// Writes the zlib stream of in[0, n) to out (room for bound(n) bytes) and
// returns its size. The record sizes lie in [1, MaxRecordSize].
size_t compress(const uchar *in, size_t n, uchar *out, size_t recordSize, size_t otherRecordSize);

} // namespace RecordDeflate
