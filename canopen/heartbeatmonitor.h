#pragma once

#include "canframe.h"
#include "emcy.h"

#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QString>

#include <functional>

// Finds the CANopen nodes on the bus by their heartbeat and boot-up messages
// (0x700 + node) and keeps, per node, the last NMT state, the measured
// interval, a message count and when it was last heard. It also keeps the
// node's emergency messages (0x80 + node) and what a node scan found out
// about it. GUI thread only.
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
        // From a node scan: device type (1000h) and name (1008h).
        bool scanned = false;
        bool deviceTypeKnown = false;
        quint32 deviceType = 0;
        QString name;
        // Emergencies: how many, and the last ones, newest first.
        qint64 emcyCount = 0;
        QList<Emcy::Message> emcyHistory;
    };

    static constexpr int EmcyHistorySize = 20;

    HeartbeatMonitor();

    // True when at least one node appeared, changed its state or sent an
    // emergency.
    bool handleFrames(const QList<CanFrame> &frames);
    // A node that answered a scan joins the list even without heartbeat.
    void noteScanned(int nodeId, bool deviceTypeKnown, quint32 deviceType, const QString &name);
    void clear();
    bool isStale(const Node &node) const;
    QList<Node> nodes() const;
    // Milliseconds on the monitor's clock (for the age of a node).
    qint64 elapsedMs() const;

    static QString stateText(quint8 state);

    // Replaces the monitor's clock, so that tests need not wait for silence.
    void setClock(std::function<qint64()> elapsedMs);

private:
    void handleEmcy(const CanFrame &frame, int nodeId, qint64 nowMs);

    QMap<int, Node> m_nodes;
    QElapsedTimer m_clock;
    std::function<qint64()> m_testClock;
};
