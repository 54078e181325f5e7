#pragma once

#include <QList>
#include <QString>

class QIODevice;
class SignalRecorder;

// The plotted values as a CSV table "time_s;signal;value", one line per
// sample, signal after signal: what `busvista-cli plot` writes and the
// plotter's data export.
namespace PlotCsv {

struct Options
{
    double from = 1.0;           // window [from, to]; from > to: everything
    double to = 0.0;
    QList<int> traces;           // trace indexes to write, in this order; empty: all
    double timeOffset = 0.0;     // added to every time (time base of the trace list)
};

// Writes to an open device; false with a German message when writing fails.
bool write(const SignalRecorder &recorder, QIODevice *device, const Options &options, QString *error);
// Writes the file as a whole (a failed write leaves an existing file alone).
bool writeFile(const SignalRecorder &recorder, const QString &path, const Options &options, QString *error);

} // namespace PlotCsv
