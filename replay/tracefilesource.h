#pragma once

#include "replaysource.h"
#include "tracefile.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// Streams a trace file of any readable format from disk, for replays of
// files larger than one wants in memory. A reader thread runs the format's
// reader and hands its entries over in chunks through a short queue, so at
// most a few thousand entries are held at a time; each pass reads the file
// anew. Time stamps of a loaded file are already trace times.
class TraceFileSource : public ReplaySource
{
public:
    TraceFileSource(const QString &path, TraceFile::Format format);
    ~TraceFileSource() override;

    bool rewind(QString *error) override;
    bool next(CanFrame *frame, qint64 *traceUs, QString *error) override;
    qint64 size() const override { return m_knownSize; }

private:
    using Chunk = std::vector<CanFrame>;
    static constexpr size_t ChunkEntries = 4096;
    static constexpr size_t QueuedChunks = 8;

    class QueueSink;
    void readFile();
    void stopReader();

    QString m_path;
    TraceFile::Format m_format;
    qint64 m_knownSize = -1;
    qint64 m_readThisPass = 0;

    // Consumer side (player thread).
    Chunk m_current;
    size_t m_at = 0;

    std::thread m_reader;
    std::mutex m_lock;                 // guards the members below
    std::condition_variable m_changed;
    std::deque<Chunk> m_queue;
    // Chunks the player has read, handed back for the reader to fill again:
    // the player thread frees no memory while it plays, since giving pages
    // back to the system can stall it for milliseconds (on a virtual machine
    // especially), and the reader allocates nothing once all are made.
    std::vector<Chunk> m_spare;
    bool m_done = false;
    bool m_cancel = false;
    QString m_error;
};
