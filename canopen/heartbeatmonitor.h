#pragma once

#include "canframe.h"

#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QString>

#include <functional>

// Finds the CANopen nodes on the bus by their heartbeat and boot-up messages
// (0x700 + node) and keeps, per node, the last NMT state, the measured
// interval, a message count and when it was last heard. GUI thread only.
class HeartbeatMonitor
{
public:
    struct Node
    {
        int nodeId = 0;
        quint8 state = 0;          // NMT state, bit 7 (toggle) cleared
        qint64 lastTimestampUs = 0;
        qint64 intervalUs = -1;    // -1: not known
        qint64 count = 0;
        qint64 lastSeenMs = 0;     // on the monitor's clock
    };

    HeartbeatMonitor();

    // True when at least one node appeared or changed its state.
    bool handleFrames(const QList<CanFrame> &frames);
    void clear();
    bool isStale(const Node &node) const;
    QList<Node> nodes() const;
    // Milliseconds on the monitor's clock (for the age of a node).
    qint64 elapsedMs() const;

    static QString stateText(quint8 state);

    // Replaces the monitor's clock, so that tests need not wait for silence.
    void setClock(std::function<qint64()> elapsedMs);

private:
    QMap<int, Node> m_nodes;
    QElapsedTimer m_clock;
    std::function<qint64()> m_testClock;
};
