#pragma once

#include "canidfilter.h"

#include <QString>
#include <QtGlobal>

#include <limits>

// What to play and how: the choices of the player bar and of
// "busvista-cli replay".
struct ReplayOptions
{
    static constexpr double MinSpeed = 0.1;
    static constexpr double MaxSpeed = 10.0;
    static constexpr double AsFastAsPossible = 0.0;

    enum Directions { Received = 0x1, Sent = 0x2, Both = Received | Sent };

    double speed = 1.0;          // factor on the recorded time distances; 0: as fast as possible
    int loops = 1;               // passes over the trace; 0: endlessly
    // Trace time window, both ends inclusive; by default unbounded, since
    // entries stamped before the trace's first one have negative times.
    qint64 fromUs = std::numeric_limits<qint64>::min();
    qint64 toUs = std::numeric_limits<qint64>::max();
    CanIdFilter filter;          // in the trace filter's notation; off: every identifier
    int directions = Both;       // error and status entries are never sent
    qint64 maxPauseUs = 0;       // > 0: longer pauses are cut to this length
    // The shortest pass in trace time: a looped trace whose entries share
    // one time stamp would otherwise send its passes back to back.
    static constexpr qint64 MinPassUs = 1000;

    // Reads "max" or a factor in MinSpeed..MaxSpeed ("2", "0.5", "0,5").
    static bool parseSpeed(const QString &text, double *speed, QString *error);
    // A factor as the player shows it: "1×", "0,5×", "max".
    static QString speedText(double speed);
};
