#pragma once

#include "signalrecorder.h"

// Statistics of a plotted signal over a time window, shared by the plot's
// legend and `busvista-cli plot --stats`, so that both give the same figures.
namespace PlotStats {

struct Stats
{
    qint64 count = 0;        // samples in the window; the rest is valid only when count > 0
    double min = 0.0;
    double max = 0.0;
    double mean = 0.0;
    double first = 0.0;      // value of the first and of the last sample in the window
    double last = 0.0;
    double firstTime = 0.0;  // their times
    double lastTime = 0.0;
};

// The samples with from <= x <= to (for time stamps going backwards: those
// between the first reaching `from` and the last before passing `to`), read
// through the trace's summary: cost grows with the logarithm of the length.
Stats compute(const SignalRecorder::Trace &trace, double from, double to);

} // namespace PlotStats
