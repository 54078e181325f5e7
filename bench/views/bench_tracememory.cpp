// Memory of a recorded trace: process peak memory per entry at 5,000,000 entries.
#include "benchutil.h"
#include "tracemodel.h"

#include <cstdio>

int main()
{
    constexpr int Entries = 5000000;
    constexpr int BatchSize = 1000;
    const qint64 before = BenchUtil::peakMemoryBytes();
    TraceModel model;
    model.setMaxEntries(Entries);
    model.setRecording(true);
    QList<CanFrame> batch = BenchUtil::traffic(BatchSize, 200);
    for (int i = 0; i < Entries / BatchSize; ++i) {
        for (CanFrame &frame : batch)
            frame.timestampUs += BatchSize * 10;
        model.addFrames(batch);
    }
    const qint64 peak = BenchUtil::peakMemoryBytes();
    std::printf("Trace of %d entries: process peak %.1f MB (%.1f MB before), %.1f bytes/entry\n", model.rowCount(),
                double(peak) / 1e6, double(before) / 1e6, double(peak) / model.rowCount());
    return 0;
}
