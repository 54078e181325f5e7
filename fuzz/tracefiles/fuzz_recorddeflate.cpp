// Any bytes through the BLF writer's record compressor, at record sizes
// taken from the first two bytes: the stream must stay within its bound and
// zlib must inflate it to exactly the input.
#include "recorddeflate.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t recordSize = 1 + data[0] % RecordDeflate::MaxRecordSize;
    const size_t otherSize = 1 + data[1] % RecordDeflate::MaxRecordSize;
    const uchar *in = data + 2;
    const size_t n = size - 2;
    const size_t bound = RecordDeflate::bound(n);
    std::vector<uchar> packed(bound);
    const size_t packedSize = RecordDeflate::compress(in, n, packed.data(), recordSize, otherSize);
    if (packedSize == 0 || packedSize > bound)
        std::abort();
    std::vector<uchar> back(n + 1);
    uLongf backSize = uLongf(back.size());
    if (uncompress(back.data(), &backSize, packed.data(), uLong(packedSize)) != Z_OK || backSize != n
        || (n > 0 && std::memcmp(back.data(), in, n) != 0))
        std::abort();
    return 0;
}
