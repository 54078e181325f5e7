// The text-pipe reader on random input: split into random chunks it must give
// the same frames and the same count of unreadable lines as in one piece, keep
// no more than one line's worth of carry, and make only classic frames. Each
// frame read, written back as the bus writes its lines (with time stamps
// before 1970 and far ahead too), reads back the same.
#include "candumpline.h"
#include "pipebackend.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

void read(const uint8_t *data, size_t size, size_t step, QList<CanFrame> *frames, qint64 *bad)
{
    PipeBackend::LineState state;
    for (size_t at = 0; at < size; at += step) {
        const size_t n = std::min(step, size - at);
        PipeBackend::takeChunk(&state, reinterpret_cast<const char *>(data) + at, qint64(n), 7, frames);
        if (state.carry.size() > PipeBackend::MaxLineBytes)
            std::abort();
    }
    PipeBackend::takeEnd(&state, 7, frames);
    *bad = state.bad;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    QList<CanFrame> whole;
    QList<CanFrame> pieces;
    qint64 badWhole = 0;
    qint64 badPieces = 0;
    read(data + 1, size - 1, size, &whole, &badWhole);
    read(data + 1, size - 1, data[0] % 17 + 1, &pieces, &badPieces);
    if (whole.size() != pieces.size() || badWhole != badPieces)
        std::abort();
    for (int i = 0; i < whole.size(); ++i) {
        const CanFrame &a = whole.at(i);
        const CanFrame &b = pieces.at(i);
        if (a.dlc > 8 || a.id != b.id || a.dlc != b.dlc || a.extended != b.extended || a.rtr != b.rtr
            || a.error != b.error || a.timestampUs != b.timestampUs || std::memcmp(a.data, b.data, 8) != 0)
            std::abort();
        if (!a.extended && !a.error && a.id > 0x7FF)
            std::abort();
        if (a.error)
            continue;
        const qint64 stampUs = (a.timestampUs % 100'000'000'000'000'000) * (i % 2 ? -1 : 1) + i;
        char line[CanDumpLine::MaxLogLineBytes];
        const char *end = CanDumpLine::putLogLine(line, a, stampUs);
        if (end - line > CanDumpLine::MaxLogLineBytes || end[-1] != '\n')
            std::abort();
        CanDumpLine::Parsed back;
        if (!CanDumpLine::parse(line, end - 1, &back) || !back.hasTimestamp || back.timestampUs != stampUs
            || back.frame.id != a.id || back.frame.dlc != a.dlc || back.frame.extended != a.extended
            || back.frame.rtr != a.rtr || (!a.rtr && std::memcmp(back.frame.data, a.data, a.dlc) != 0))
            std::abort();
    }
    return 0;
}
