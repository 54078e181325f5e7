// Differential: the byte scanner against the line patterns. For every line of
// the input, in both TRC layouts and as CSV, the combined reader must give the
// reference's result, and whatever the scanner accepts must be the reference's entry.
#include "traceline.h"

#include <QString>

#include <cstdlib>
#include <cstring>

namespace {

void check(const char *b, const char *e)
{
    const QString line = QString::fromUtf8(b, e - b);
    using TraceLine::Result;
    for (auto layout : {TraceLine::TrcLayout::V10, TraceLine::TrcLayout::V11}) {
        TraceEntry reference;
        TraceEntry fast;
        TraceEntry combined;
        const Result want = TraceLine::readTrcReference(line, layout, &reference);
        if (TraceLine::readTrcFast(b, e, layout, &fast)
            && (want != Result::Entry || !TraceLine::sameEntry(fast, reference)))
            std::abort();
        const Result got = TraceLine::readTrc(b, e, layout, &combined);
        if (got != want || (want == Result::Entry && !TraceLine::sameEntry(combined, reference)))
            std::abort();
    }
    TraceEntry reference;
    TraceEntry fast;
    TraceEntry combined;
    const Result want = TraceLine::readCsvReference(line, &reference);
    if (TraceLine::readCsvFast(b, e, &fast) && (want != Result::Entry || !TraceLine::sameEntry(fast, reference)))
        std::abort();
    const Result got = TraceLine::readCsv(b, e, &combined);
    if (got != want || (want == Result::Entry && !TraceLine::sameEntry(combined, reference)))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *p = reinterpret_cast<const char *>(data);
    const char *end = p + size;
    while (p < end) {
        const char *newline = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        const char *lineEnd = newline ? newline : end;
        check(p, lineEnd);
        p = newline ? newline + 1 : end;
    }
    return 0;
}
