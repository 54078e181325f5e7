// Any byte sequence as a CSV trace: the loader must not crash, and a CSV that
// loads must save and load again with the same entries.
#include "fuzzfile.h"
#include "traceline.h"
#include "tracemodel.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TraceModel model;
    QString error;
    int count = 0;
    if (!model.loadCsv(writeFuzzFile(data, size, ".csv"), &error, &count)) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    if (count != model.rowCount() || count <= 0)
        std::abort();
    const QString again = fuzzOutputPath(".csv");
    TraceModel reloaded;
    int countAgain = 0;
    if (!model.saveCsv(again, &error) || !reloaded.loadCsv(again, &error, &countAgain) || countAgain != count)
        std::abort();
    for (int row = 0; row < count; ++row) {
        const TraceModel::Entry a = model.entryAt(row);
        const TraceModel::Entry b = reloaded.entryAt(row);
        // Bytes behind the length are not written; the time keeps 1 us.
        if (a.number != b.number || a.frame.dlc != b.frame.dlc || a.frame.rtr != b.frame.rtr
            || a.frame.timestampUs != b.frame.timestampUs || a.frame.tx != b.frame.tx)
            std::abort();
    }
    return 0;
}
