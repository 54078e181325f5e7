#include "heartbeatmonitor.h"


namespace {

constexpr int MinSilenceMs = 3000;

} // namespace

HeartbeatMonitor::HeartbeatMonitor()
{
    m_clock.start();
}

bool HeartbeatMonitor::handleFrames(const QList<CanFrame> &frames)
{
    bool changed = false;
    qint64 nowMs = -1; // read once per batch, and only when a heartbeat came
    for (const CanFrame &frame : frames) {
        // One unsigned comparison per range keeps ordinary traffic cheap.
        if (frame.id - 0x81u <= 0x7Eu) {
            if (frame.tx || frame.dlc < 2 || frame.extended || frame.rtr || frame.error || frame.status)
                continue;
            if (nowMs < 0)
                nowMs = elapsedMs();
            handleEmcy(frame, int(frame.id - 0x80), nowMs);
            changed = true;
            continue;
        }
        if (frame.id - 0x701u > 0x7Eu || frame.dlc != 1 || frame.tx || frame.extended || frame.rtr || frame.error
            || frame.status)
            continue;
        if (nowMs < 0)
            nowMs = elapsedMs();
        const int nodeId = int(frame.id - 0x700);
        const quint8 s = frame.data[0] & 0x7F;
        auto it = m_nodes.find(nodeId);
        if (it == m_nodes.end()) {
            Node node;
            node.nodeId = nodeId;
            node.state = s;
            node.lastTimestampUs = frame.timestampUs;
            node.count = 1;
            node.lastSeenMs = nowMs;
            m_nodes.insert(nodeId, node);
            changed = true;
            continue;
        }
        Node &node = *it;
        if (node.count == 0) {
            // Known so far from a scan or an emergency only.
            node.state = s;
            node.lastTimestampUs = frame.timestampUs;
            node.count = 1;
            node.lastSeenMs = nowMs;
            changed = true;
            continue;
        }
        if (s == 0)
            node.intervalUs = -1; // a restart interrupts the period
        else if (node.state != 0 && frame.timestampUs > node.lastTimestampUs)
            node.intervalUs = frame.timestampUs - node.lastTimestampUs;
        if (s != node.state)
            changed = true;
        node.state = s;
        node.lastTimestampUs = frame.timestampUs;
        ++node.count;
        node.lastSeenMs = nowMs;
    }
    return changed;
}

void HeartbeatMonitor::handleEmcy(const CanFrame &frame, int nodeId, qint64 nowMs)
{
    auto it = m_nodes.find(nodeId);
    if (it == m_nodes.end()) {
        Node node;
        node.nodeId = nodeId;
        node.lastSeenMs = nowMs;
        it = m_nodes.insert(nodeId, node);
    }
    Emcy::Message message = Emcy::parse(frame);
    message.seenMs = nowMs;
    ++it->emcyCount;
    it->emcyHistory.prepend(message);
    if (it->emcyHistory.size() > EmcyHistorySize)
        it->emcyHistory.removeLast();
}

void HeartbeatMonitor::noteScanned(int nodeId, bool deviceTypeKnown, quint32 deviceType, const QString &name)
{
    if (nodeId < 1 || nodeId > 127)
        return;
    auto it = m_nodes.find(nodeId);
    if (it == m_nodes.end()) {
        Node node;
        node.nodeId = nodeId;
        node.lastSeenMs = elapsedMs();
        it = m_nodes.insert(nodeId, node);
    }
    it->scanned = true;
    it->deviceTypeKnown = deviceTypeKnown;
    it->deviceType = deviceType;
    it->name = name;
}

void HeartbeatMonitor::clear()
{
    m_nodes.clear();
}

bool HeartbeatMonitor::isStale(const Node &node) const
{
    if (node.count == 0)
        return false; // no heartbeat heard, so none is missed
    qint64 allowedMs = MinSilenceMs;
    if (node.intervalUs >= 1)
        allowedMs = qMax<qint64>(3 * node.intervalUs / 1000, MinSilenceMs);
    return elapsedMs() - node.lastSeenMs > allowedMs;
}

QList<HeartbeatMonitor::Node> HeartbeatMonitor::nodes() const
{
    return m_nodes.values();
}

qint64 HeartbeatMonitor::elapsedMs() const
{
    return m_testClock ? m_testClock() : m_clock.elapsed();
}

void HeartbeatMonitor::setClock(std::function<qint64()> elapsedMs)
{
    m_testClock = std::move(elapsedMs);
}

QString HeartbeatMonitor::stateText(quint8 state)
{
    switch (state) {
    case 0x00:
        return QStringLiteral("Boot-up");
    case 0x04:
        return QStringLiteral("Stopped");
    case 0x05:
        return QStringLiteral("Operational");
    case 0x7F:
        return QStringLiteral("Pre-operational");
    default:
        return QStringLiteral("unbekannt (%1h)").arg(QString::number(state, 16).rightJustified(2, QLatin1Char('0')).toUpper());
    }
}
