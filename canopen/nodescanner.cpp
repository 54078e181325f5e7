#include "nodescanner.h"

#include "canbackend.h"
#include "sdoclient.h"

#include <algorithm>

NodeScanner::NodeScanner(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<NodeScanner::Node>();
}

NodeScanner::~NodeScanner()
{
    // The clients are children; their finished signals must not reach a
    // half-destroyed scanner.
    for (Channel &channel : m_channels)
        disconnect(channel.client, nullptr, this, nullptr);
}

void NodeScanner::setBackend(CanBackend *backend)
{
    if (backend == m_backend.data())
        return;
    m_backend = backend;
    for (Channel &channel : m_channels)
        channel.client->setBackend(backend);
}

void NodeScanner::setParallel(int channels)
{
    m_parallel = qBound(1, channels, 127);
}

bool NodeScanner::start(int first, int last, QString *error)
{
    QString message;
    if (m_running)
        message = tr("Die Knotensuche läuft bereits.");
    else if (!m_backend || !m_backend->isOpen())
        message = tr("Nicht verbunden.");
    else if (first < 1 || last > 127 || first > last)
        message = tr("Knoten-IDs müssen zwischen 1 und 127 liegen.");
    if (!message.isEmpty()) {
        if (error)
            *error = message;
        return false;
    }
    m_found.clear();
    m_nextNode = first;
    m_lastNode = last;
    m_total = last - first + 1;
    m_done = 0;
    m_running = true;
    const int wanted = qMin(m_parallel, m_total);
    while (int(m_channels.size()) < wanted) {
        Channel channel;
        channel.client = new SdoClient(this);
        channel.client->setBackend(m_backend);
        const size_t at = m_channels.size();
        connect(channel.client, &SdoClient::finished, this,
                [this, at](const SdoClient::Result &result) { onFinished(m_channels[at], result); });
        m_channels.push_back(channel);
    }
    emit progress(0, m_total);
    for (int i = 0; i < wanted && m_running; ++i)
        next(m_channels[size_t(i)]);
    return true;
}

void NodeScanner::next(Channel &channel)
{
    while (m_running && m_nextNode <= m_lastNode) {
        channel.node = m_nextNode++;
        channel.readingName = false;
        channel.found = Node();
        channel.found.nodeId = channel.node;
        channel.client->setTimeoutMs(m_timeoutMs);
        if (channel.client->upload(channel.node, 0x1000, 0, nullptr))
            return;
        // Sending failed: the bus is gone or full; count the node as silent.
        ++m_done;
        emit progress(m_done, m_total);
    }
    channel.node = 0;
    if (m_running && std::none_of(m_channels.cbegin(), m_channels.cend(), [](const Channel &c) { return c.node != 0; }))
        end(false);
}

void NodeScanner::onFinished(Channel &channel, const SdoClient::Result &result)
{
    if (!m_running || channel.node == 0)
        return;
    Node &found = channel.found;
    if (!channel.readingName) {
        // An abort from the node counts as an answer; a time-out means nobody
        // is there, whether or not our abort for it got out.
        const bool answered = result.ok || channel.client->abortReceived();
        if (!answered) {
            ++m_done;
            emit progress(m_done, m_total);
            next(channel);
            return;
        }
        if (result.ok) {
            found.deviceTypeRead = true;
            for (int i = 0; i < qMin<qsizetype>(4, result.data.size()); ++i)
                found.deviceType |= quint32(quint8(result.data.at(i))) << (8 * i);
            channel.readingName = true;
            if (channel.client->upload(channel.node, 0x1008, 0, nullptr))
                return;
        } else {
            found.abortCode = result.abortCode;
        }
    } else if (result.ok) {
        const int end = result.data.indexOf('\0');
        found.name = QString::fromLatin1(end >= 0 ? result.data.left(end) : result.data).trimmed();
    }
    m_found.append(found);
    ++m_done;
    emit nodeFound(found);
    emit progress(m_done, m_total);
    next(channel);
}

void NodeScanner::cancel()
{
    if (!m_running)
        return;
    m_running = false;
    for (Channel &channel : m_channels) {
        channel.node = 0;
        channel.client->cancel();
    }
    end(true);
}

void NodeScanner::handleFrames(const QList<CanFrame> &frames)
{
    if (!m_running)
        return;
    for (Channel &channel : m_channels) {
        if (channel.node != 0)
            channel.client->handleFrames(frames);
    }
}

void NodeScanner::end(bool cancelled)
{
    m_running = false;
    std::sort(m_found.begin(), m_found.end(), [](const Node &a, const Node &b) { return a.nodeId < b.nodeId; });
    emit finished(cancelled);
}

QString NodeScanner::deviceTypeText(quint32 deviceType)
{
    return tr("Profil %1 (0x%2)")
        .arg(deviceType & 0xFFFF)
        .arg(QString::number(deviceType, 16).toUpper().rightJustified(8, QLatin1Char('0')));
}
