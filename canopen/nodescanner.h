#pragma once

#include "canframe.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <vector>

#include "sdoclient.h"

class CanBackend;

// Finds the CANopen nodes on a bus by reading the device type (1000h:00) of
// every node ID, several nodes at once, each on its own SDO channel; a node
// that answers is asked for its name (1008h:00) too. A node that answers
// with an abort exists as well. Everything runs in the GUI thread.
class NodeScanner : public QObject
{
    Q_OBJECT

public:
    struct Node
    {
        int nodeId = 0;
        bool deviceTypeRead = false; // false: the node answered 1000h with an abort
        quint32 deviceType = 0;
        QString name;                // empty when 1008h is not readable
        quint32 abortCode = 0;       // of the device type read, when refused
    };

    explicit NodeScanner(QObject *parent = nullptr);
    ~NodeScanner() override;

    void setBackend(CanBackend *backend);
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    int timeoutMs() const { return m_timeoutMs; }
    // Nodes asked at the same time (1..127).
    void setParallel(int channels);

    // Scans node IDs first..last; false with a German message when it cannot start.
    bool start(int first, int last, QString *error);
    void cancel();
    bool isRunning() const { return m_running; }
    void handleFrames(const QList<CanFrame> &frames);
    const QList<Node> &nodes() const { return m_found; }

    // "Profil 401" and the rest of the device type in hex, for lists.
    static QString deviceTypeText(quint32 deviceType);

signals:
    void nodeFound(const NodeScanner::Node &node);
    void progress(int done, int total);
    // Exactly once per started scan; the nodes in ascending order.
    void finished(bool cancelled);

private:
    struct Channel
    {
        SdoClient *client = nullptr;
        int node = 0;
        bool readingName = false;
        Node found;
    };
    void next(Channel &channel);
    void onFinished(Channel &channel, const SdoClient::Result &result);
    void end(bool cancelled);

    QPointer<CanBackend> m_backend;
    std::vector<Channel> m_channels;
    int m_parallel = 16;
    int m_timeoutMs = 100;
    int m_nextNode = 0;
    int m_lastNode = 0;
    int m_total = 0;
    int m_done = 0;
    bool m_running = false;
    QList<Node> m_found;
};

Q_DECLARE_METATYPE(NodeScanner::Node)
