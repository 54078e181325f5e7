// The trace model's file operations: every format through TraceFile.
#include "tracemodel.h"

bool TraceModel::save(const QString &path, TraceFile::Format format, QString *error, TraceFile::SaveResult *result) const
{
    class Entries : public TraceFile::Source
    {
    public:
        explicit Entries(const std::deque<Stored> &entries) : m_entries(entries) {}
        void forEach(const std::function<void(const TraceEntry &)> &visit) const override
        {
            for (const Stored &stored : m_entries)
                visit(TraceEntry{stored.number, unpack(stored)});
        }

    private:
        const std::deque<Stored> &m_entries;
    };
    Entries source(m_entries);
    source.startTime = m_startTime;
    source.startUs = m_startUs;
    source.symbols = m_symbols;
    if (!TraceFile::save(path, format, source, error, result))
        return false;
    m_unsaved = false;
    return true;
}

bool TraceModel::load(const QString &path, TraceFile::Format format, QString *error, int *count,
                      const Progress &progress, TraceFile::LoadResult *loaded)
{
    class Collect : public TraceFile::Sink
    {
    public:
        void add(const TraceEntry &entry) override { entries.push_back(pack(entry.number, entry.frame)); }
        std::deque<Stored> entries;
    };
    Collect collect;
    TraceFile::LoadResult result;
    if (!TraceFile::load(path, format, collect, &result, error, progress))
        return false;
    if (count)
        *count = int(result.count);
    if (loaded)
        *loaded = result;
    replaceStored(std::move(collect.entries), result.startTime);
    return true;
}

bool TraceModel::saveTrc(const QString &path, QString *error) const
{
    return save(path, TraceFile::Format::Trc, error);
}

bool TraceModel::loadTrc(const QString &path, QString *error, int *count, const Progress &progress)
{
    return load(path, TraceFile::Format::Trc, error, count, progress);
}

bool TraceModel::saveCsv(const QString &path, QString *error) const
{
    return save(path, TraceFile::Format::Csv, error);
}

bool TraceModel::loadCsv(const QString &path, QString *error, int *count, const Progress &progress)
{
    return load(path, TraceFile::Format::Csv, error, count, progress);
}
