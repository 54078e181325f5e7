#include "traceplayer.h"

#include "replaysource.h"
#include "replaytarget.h"

#include "canbackend.h"
#include "platform/timecritical.h"

#include <chrono>
#include <optional>

namespace {

// Bursts are cut into steps of this many sends, so pause and stop are seen
// within a few milliseconds even at "max".
constexpr int SendsPerStep = 1024;

} // namespace

bool BackendTarget::send(const CanFrame &frame, QString *error)
{
    return m_backend->write(frame, error);
}

int BackendTarget::sendBurst(const CanFrame *frames, int count, QString *error)
{
    return m_backend->writeFrames(frames, count, error);
}

bool BackendTarget::lost() const
{
    return m_backend->connectionLost();
}

TracePlayer::TracePlayer(QObject *parent)
    : QObject(parent)
{
}

TracePlayer::~TracePlayer()
{
    stop();
}

qint64 TracePlayer::nowNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

bool TracePlayer::start(std::unique_ptr<ReplaySource> source, CanBackend *backend, const ReplayOptions &options,
                        QString *error)
{
    return start(std::move(source), std::make_unique<BackendTarget>(backend), options, error);
}

bool TracePlayer::start(std::unique_ptr<ReplaySource> source, std::unique_ptr<ReplayTarget> target,
                        const ReplayOptions &options, QString *error)
{
    if (isActive()) {
        if (error)
            *error = tr("Es wird bereits abgespielt.");
        return false;
    }
    stop(); // joins a thread that ended by itself
    m_source = std::move(source);
    m_target = std::move(target);
    m_engine = std::make_unique<ReplayEngine>(m_source.get(), m_target.get(), options, &TracePlayer::nowNs);
    // Reading up to the first entry happens here, so that a trace with
    // nothing to send is refused at once.
    if (!m_engine->start()) {
        if (error)
            *error = m_engine->message();
        m_engine.reset();
        m_target.reset();
        m_source.reset();
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopRequested = false;
        m_pauseRequested = false;
        m_running = true;
        m_progress = m_engine->progress();
        m_message.clear();
    }
    m_timed = options.speed > 0;
    m_priorityRaised = false;
    m_thread = std::thread([this] { run(); });
    return true;
}

void TracePlayer::run()
{
    std::optional<TimeCriticalThread> critical;
    if (m_timed && m_raisePriority) {
        critical.emplace();
        m_priorityRaised = critical->raised();
    }
    std::unique_lock<std::mutex> lock(m_lock);
    m_engine->restartClock();
    while (!m_stopRequested) {
        const bool paused = m_engine->state() == ReplayEngine::Paused;
        if (m_pauseRequested != paused) {
            if (m_pauseRequested)
                m_engine->pause();
            else
                m_engine->resume();
            m_progress = m_engine->progress();
            continue;
        }
        if (paused) {
            m_wake.wait(lock);
            continue;
        }
        lock.unlock();
        const qint64 dueNs = m_engine->step(SendsPerStep);
        lock.lock();
        m_progress = m_engine->progress();
        if (dueNs < 0)
            break;
        if (dueNs > nowNs()) {
            // Sleep until the due time; pause and stop wake us early.
            m_wake.wait_until(lock, std::chrono::steady_clock::time_point(std::chrono::nanoseconds(dueNs)));
        }
    }
    const bool byItself = !m_stopRequested;
    m_running = false;
    m_message = m_engine->message();
    lock.unlock();
    if (byItself)
        QMetaObject::invokeMethod(this, &TracePlayer::onThreadEnded, Qt::QueuedConnection);
}

void TracePlayer::onThreadEnded()
{
    if (!m_thread.joinable())
        return; // stopped meanwhile
    m_thread.join();
    const Progress last = progress();
    const QString text = message();
    emit finished(int(last.state), text);
}

void TracePlayer::pause()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_running)
            return;
        m_pauseRequested = true;
    }
    m_wake.notify_all();
}

void TracePlayer::resume()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_running)
            return;
        m_pauseRequested = false;
    }
    m_wake.notify_all();
}

void TracePlayer::stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopRequested = true;
    }
    m_wake.notify_all();
    m_thread.join();
    m_engine->stop();
    std::lock_guard<std::mutex> lock(m_lock);
    m_progress = m_engine->progress();
    m_running = false;
}

bool TracePlayer::isActive() const
{
    // Until `finished` has been delivered, so the owner sees one change.
    return m_thread.joinable();
}

bool TracePlayer::isPaused() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_thread.joinable() && m_pauseRequested;
}

TracePlayer::Progress TracePlayer::progress() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_progress;
}

QString TracePlayer::message() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_message;
}
