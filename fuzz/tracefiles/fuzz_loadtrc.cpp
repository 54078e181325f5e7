// Any byte sequence as a PCAN trace: the loader must not crash, and what it
// loads must save as CSV and load again with the same number of entries.
#include "fuzzfile.h"
#include "tracemodel.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TraceModel model;
    QString error;
    int count = 0;
    if (!model.loadTrc(writeFuzzFile(data, size, ".trc"), &error, &count)) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    if (count != model.rowCount() || count <= 0)
        std::abort();
    // A status or error line with "RTR" data has no CSV form: the CSV type
    // column of those kinds carries no remote-request mark.
    int representable = 0;
    for (int row = 0; row < count; ++row) {
        model.data(model.index(row, row % TraceModel::ColumnCount));
        const CanFrame frame = model.entryAt(row).frame;
        representable += !(frame.rtr && (frame.status || frame.error));
    }
    const QString again = fuzzOutputPath(".csv");
    TraceModel reloaded;
    int countAgain = 0;
    if (!model.saveCsv(again, &error))
        std::abort();
    if (reloaded.loadCsv(again, &error, &countAgain) != (representable > 0) || (representable && countAgain != representable))
        std::abort();
    return 0;
}
