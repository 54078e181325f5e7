#include "tracefilesource.h"

#include <QCoreApplication>

class TraceFileSource::QueueSink : public TraceFile::Sink
{
public:
    explicit QueueSink(TraceFileSource *source) : m_source(source)
    {
        std::lock_guard<std::mutex> lock(m_source->m_lock);
        if (!m_source->m_spare.empty()) {
            m_chunk = std::move(m_source->m_spare.back());
            m_source->m_spare.pop_back();
        }
        m_chunk.reserve(ChunkEntries);
    }

    void add(const TraceEntry &entry) override
    {
        m_chunk.push_back(entry.frame);
        if (m_chunk.size() >= ChunkEntries)
            hand();
    }

    // Waits for room in the queue; false once the reading was cancelled.
    bool hand()
    {
        std::unique_lock<std::mutex> lock(m_source->m_lock);
        m_source->m_changed.wait(lock, [this] {
            return m_source->m_cancel || m_source->m_queue.size() < QueuedChunks;
        });
        if (m_source->m_cancel) {
            m_chunk.clear();
            return false;
        }
        if (!m_chunk.empty()) {
            m_source->m_queue.push_back(std::move(m_chunk));
            m_chunk = Chunk();
            if (!m_source->m_spare.empty()) {
                m_chunk = std::move(m_source->m_spare.back());
                m_source->m_spare.pop_back();
            }
        }
        lock.unlock();
        m_source->m_changed.notify_all();
        if (m_chunk.capacity() < ChunkEntries)
            m_chunk.reserve(ChunkEntries);
        return true;
    }

private:
    TraceFileSource *m_source;
    Chunk m_chunk;
};

TraceFileSource::TraceFileSource(const QString &path, TraceFile::Format format)
    : m_path(path)
    , m_format(format)
{
    // Every chunk there can be: the queue's, the player's and the reader's.
    m_spare.reserve(QueuedChunks + 2);
}

TraceFileSource::~TraceFileSource()
{
    stopReader();
}

void TraceFileSource::stopReader()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_cancel = true;
    }
    m_changed.notify_all();
    if (m_reader.joinable())
        m_reader.join();
    for (Chunk &chunk : m_queue) {
        if (m_spare.size() < m_spare.capacity()) {
            chunk.clear();
            m_spare.push_back(std::move(chunk));
        }
    }
    m_queue.clear();
    m_cancel = false;
    m_done = false;
    m_error.clear();
}

bool TraceFileSource::rewind(QString *)
{
    stopReader();
    m_current.clear();
    m_at = 0;
    m_readThisPass = 0;
    m_reader = std::thread([this] { readFile(); });
    return true;
}

void TraceFileSource::readFile()
{
    QueueSink sink(this);
    TraceFile::LoadResult result;
    QString error;
    const auto keepReading = [this](qint64, qint64) {
        std::lock_guard<std::mutex> lock(m_lock);
        return !m_cancel;
    };
    const bool ok = TraceFile::load(m_path, m_format, sink, &result, &error, keepReading);
    const bool handed = sink.hand();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_done = true;
        if ((!ok || !handed) && !m_cancel)
            m_error = error.isEmpty() ? QCoreApplication::translate("TraceFileSource", "Die Trace-Datei konnte nicht gelesen werden.") : error;
    }
    m_changed.notify_all();
}

bool TraceFileSource::next(CanFrame *frame, qint64 *traceUs, QString *error)
{
    if (m_at >= m_current.size()) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [this] { return !m_queue.empty() || m_done; });
        if (m_queue.empty()) {
            if (!m_error.isEmpty()) {
                if (error)
                    *error = m_error;
                return false;
            }
            m_knownSize = m_readThisPass;
            return false;
        }
        if (m_current.capacity() > 0 && m_spare.size() < m_spare.capacity()) {
            m_current.clear();
            m_spare.push_back(std::move(m_current));
        }
        m_current = std::move(m_queue.front());
        m_queue.pop_front();
        m_at = 0;
        lock.unlock();
        m_changed.notify_all();
    }
    *frame = m_current[m_at++];
    *traceUs = frame->timestampUs;
    ++m_readThisPass;
    return true;
}
