#include "busstatistics.h"

#include "canbackend.h"

#include <algorithm>

int BusStatistics::frameBits(const CanFrame &frame)
{
    const int d = frame.rtr ? 0 : 8 * frame.dlc;
    const int h = frame.extended ? 54 : 34;
    return d + h + 13 + (d + h) / 10;
}

void BusStatistics::count(const QList<CanFrame> &frames)
{
    for (const CanFrame &frame : frames) {
        if (frame.status)
            continue;
        busBits += frameBits(frame);
        if (frame.tx) {
            ++txTotal;
        } else {
            ++rxTotal;
            ++rxThisSecond;
        }
    }
}

void BusStatistics::reset()
{
    rxTotal = 0;
    txTotal = 0;
    busBits = 0;
    rxThisSecond = 0;
}

void BusStatistics::resetSecond()
{
    busBits = 0;
    rxThisSecond = 0;
}

double BusStatistics::loadPercent(int bitrate) const
{
    if (bitrate < 1)
        return 0.0;
    // Bits counted in one period may belong to frames sent just before it
    // (a batch crosses the tick); the wire itself never carries more.
    return std::min(100.0, double(busBits) * 100.0 / double(bitrate));
}

QString BusStatistics::percentText(double percent)
{
    return QString::number(percent, 'f', 1);
}

QString BusStatistics::statusStyle(unsigned flags)
{
    if (flags & (CanBackend::BusOff | CanBackend::DeviceLost))
        return QStringLiteral("background:#e04040; color:white;");
    if (flags & 0x4E)
        return QStringLiteral("background:#f0b030;");
    return QStringLiteral("background:#60c060; color:white;");
}
