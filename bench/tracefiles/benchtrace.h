#pragma once

#include "../views/benchutil.h"
#include "tracemodel.h"

// A trace of `entries` recorded frames: fractional milliseconds, standard
// and extended identifiers, every length.
inline void recordBenchTrace(TraceModel &model, int entries)
{
    model.setMaxEntries(entries);
    model.setRecording(true);
    QList<CanFrame> batch = BenchUtil::traffic(1000, 200);
    for (int i = 0; i < entries / 1000; ++i) {
        for (CanFrame &frame : batch) {
            frame.timestampUs += 10317;
            frame.extended = frame.id % 7 == 0;
            frame.dlc = quint8(frame.id % 9);
        }
        model.addFrames(batch);
    }
}
