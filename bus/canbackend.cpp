#include "canbackend.h"

#include <QStringList>

CanBackend::CanBackend(QObject *parent)
    : QObject(parent)
{
    m_flushTimer.setInterval(20);
    connect(&m_flushTimer, &QTimer::timeout, this, &CanBackend::flushQueue);
    m_flushTimer.start();
}

CanBackend::~CanBackend() = default;

bool CanBackend::resetHardware(QString *)
{
    return true;
}

int CanBackend::bitrate() const
{
    return 0;
}

int CanBackend::writeFrames(const CanFrame *frames, int count, QString *error)
{
    for (int i = 0; i < count; ++i) {
        if (!write(frames[i], error))
            return i;
    }
    return count;
}

bool CanBackend::connectionLost() const
{
    return false;
}

void CanBackend::enqueue(const CanFrame &frame)
{
    bool schedule = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.append(frame);
        schedule = (m_deliverAtOnce || (!m_urgentIds.isEmpty() && isUrgentLocked(frame))) && markFlushLocked();
    }
    if (schedule)
        postFlush();
}

void CanBackend::enqueue(const QList<CanFrame> &frames)
{
    bool schedule = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.append(frames);
        if (m_deliverAtOnce && !frames.isEmpty()) {
            schedule = markFlushLocked();
        } else if (!m_urgentIds.isEmpty() && !m_flushScheduled) {
            for (const CanFrame &frame : frames) {
                if (isUrgentLocked(frame)) {
                    schedule = markFlushLocked();
                    break;
                }
            }
        }
    }
    if (schedule)
        postFlush();
}

bool CanBackend::isUrgentLocked(const CanFrame &frame) const
{
    // Echoes of own requests are not what anybody waits for.
    return !frame.tx && !frame.error && !frame.status && m_urgentIds.contains(urgentKey(frame.id, frame.extended));
}

bool CanBackend::markFlushLocked()
{
    if (m_flushScheduled)
        return false;
    m_flushScheduled = true;
    return true;
}

void CanBackend::postFlush()
{
    // Queued even from the owning thread: a backend that answers inside
    // write() must not deliver into the caller that is still sending. Posted
    // outside the queue lock, which is never held together with Qt's.
    QMetaObject::invokeMethod(this, &CanBackend::flushQueue, Qt::QueuedConnection);
}

void CanBackend::addUrgentId(quint32 id, bool extended)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_urgentIds[urgentKey(id, extended)];
}

void CanBackend::removeUrgentId(quint32 id, bool extended)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_urgentIds.find(urgentKey(id, extended));
    if (it != m_urgentIds.end() && --it.value() <= 0)
        m_urgentIds.erase(it);
}

void CanBackend::setDeliverAtOnce(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_deliverAtOnce = on;
}

void CanBackend::clearQueue()
{
    QList<CanFrame> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        dropped.swap(m_pending);
    }
    // dropped is freed here, outside the lock
}

void CanBackend::flushQueue()
{
    QList<CanFrame> batch;
    {
        // Swap, so the lock time does not depend on the batch size.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_flushScheduled = false;
        if (m_pending.isEmpty())
            return;
        batch.swap(m_pending);
    }
    emit framesReceived(batch);
}

QString CanBackend::statusText(unsigned flags)
{
    if (flags == 0)
        return tr("OK");
    QStringList texts;
    if (flags & DeviceLost)
        texts << tr("Adapter getrennt");
    if (flags & BusOff)
        texts << tr("Bus-Off");
    else if (flags & BusHeavy)
        texts << tr("Bus-Heavy (Error passive)");
    else if (flags & BusLight)
        texts << tr("Bus-Light (Warnung)");
    if (flags & ControllerOverrun)
        texts << tr("Controller-Überlauf");
    if (flags & RxQueueOverrun)
        texts << tr("Empfangsqueue-Überlauf");
    if (flags & TxBufferFull)
        texts << tr("Sendepuffer voll");
    if (flags & TxQueueFull)
        texts << tr("Sendequeue voll");
    if (flags & DriverNotLoaded)
        texts << tr("Treiber nicht geladen");
    if (texts.isEmpty())
        return tr("Fehler 0x%1").arg(flags, 0, 16);
    return texts.join(QStringLiteral(", "));
}

QString CanBackend::notConnectedText()
{
    return tr("Nicht verbunden.");
}
