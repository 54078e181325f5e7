// Any bytes as a trace file of one of the other tools' formats (chosen at
// build time): the reader must not crash and must name a failure; what it
// loads must save in the same format and load again, every entry but the
// driver notices, which these formats do not hold.
#include "fuzzfile.h"
#include "tracemodel.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    constexpr TraceFile::Format format = TraceFile::Format::BUSVISTA_FUZZ_FORMAT;
    TraceModel model;
    QString error;
    int count = 0;
    if (!model.load(writeFuzzFile(data, size, BUSVISTA_FUZZ_SUFFIX), format, &error, &count)) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    if (count != model.rowCount() || count <= 0)
        std::abort();
    int frames = 0;
    for (int row = 0; row < count; ++row) {
        model.data(model.index(row, row % TraceModel::ColumnCount));
        frames += !model.entryAt(row).frame.status;
    }
    const QString again = fuzzOutputPath(BUSVISTA_FUZZ_SUFFIX);
    if (!model.save(again, format, &error))
        std::abort();
    TraceModel reloaded;
    int countAgain = 0;
    if (reloaded.load(again, format, &error, &countAgain) != (frames > 0) || (frames > 0 && countAgain != frames))
        std::abort();
    return 0;
}
