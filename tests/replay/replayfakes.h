#pragma once

#include "replaysource.h"
#include "replaytarget.h"

#include <QList>

#include <atomic>
#include <cmath>
#include <mutex>
#include <vector>

// Entries of a made-up trace: identifier and trace time in milliseconds.
struct FakeEntry
{
    quint32 id;
    double timeMs;
    bool tx = false;
    bool error = false;
    bool status = false;
};

class FakeSource : public ReplaySource
{
public:
    explicit FakeSource(QList<FakeEntry> entries) : m_entries(std::move(entries)) {}

    bool rewind(QString *) override
    {
        m_at = 0;
        ++rewinds;
        return true;
    }
    bool next(CanFrame *frame, qint64 *traceUs, QString *error) override
    {
        if (failAt >= 0 && m_at == failAt) {
            *error = QStringLiteral("Lesefehler");
            return false;
        }
        if (m_at >= m_entries.size())
            return false;
        const FakeEntry &e = m_entries.at(m_at++);
        *frame = CanFrame();
        frame->id = e.id;
        frame->dlc = 1;
        frame->tx = e.tx;
        frame->error = e.error;
        frame->status = e.status;
        *traceUs = std::llround(e.timeMs * 1000.0);
        frame->timestampUs = *traceUs;
        return true;
    }
    qint64 size() const override { return m_entries.size(); }

    qsizetype failAt = -1;
    int rewinds = 0;

private:
    QList<FakeEntry> m_entries;
    qsizetype m_at = 0;
};

// Records what was sent and when, on the test's clock. Thread-safe, since
// the player's thread sends while the test looks.
class FakeTarget : public ReplayTarget
{
public:
    explicit FakeTarget(const qint64 *clockNs = nullptr) : m_clockNs(clockNs) {}

    bool send(const CanFrame &frame, QString *error) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        ++attempts;
        if (failIds.contains(frame.id) || (lostAfter >= 0 && attempts > lostAfter)) {
            *error = QStringLiteral("Sendepuffer voll");
            if (lostAfter >= 0 && attempts > lostAfter)
                m_lost = true;
            return false;
        }
        ids.push_back(frame.id);
        timesNs.push_back(m_clockNs ? *m_clockNs : 0);
        return true;
    }
    int sendBurst(const CanFrame *frames, int count, QString *error) override
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            bursts.push_back(count);
        }
        return ReplayTarget::sendBurst(frames, count, error);
    }
    bool lost() const override { return m_lost.load(); }

    std::vector<quint32> sentIds() const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return ids;
    }

    QList<quint32> failIds;
    int lostAfter = -1;       // sends after this many attempts fail and the connection is gone
    int attempts = 0;
    std::vector<quint32> ids;
    std::vector<qint64> timesNs;
    std::vector<int> bursts;  // frames handed over per call

private:
    const qint64 *m_clockNs;
    mutable std::mutex m_lock;
    std::atomic<bool> m_lost{false};
};
