#pragma once

#include "canframe.h"

#include <QString>

// Counts frames and estimated bus bits for the status bar. Status frames are
// driver notifications, never on the wire, so they are not counted at all.
class BusStatistics
{
public:
    // Estimated length on the wire: data + header + 13 tail bits + one stuff
    // bit per ten bits of data and header.
    static int frameBits(const CanFrame &frame);

    void count(const QList<CanFrame> &frames);
    void reset();          // on every connect
    void resetSecond();    // on every statistics tick

    // busBits in percent of one second's worth of bits at the given rate,
    // at most 100.
    double loadPercent(int bitrate) const;
    static QString percentText(double percent);   // one decimal

    // Style sheet of the bus label for the backend's status bits.
    static QString statusStyle(unsigned flags);

    qint64 rxTotal = 0;
    qint64 txTotal = 0;
    qint64 busBits = 0;
    qint64 rxThisSecond = 0;
};
