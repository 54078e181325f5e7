#pragma once

#include "canframe.h"
#include "canidfilter.h"
#include "tracefile.h"

#include <QAbstractTableModel>
#include <QDateTime>

#include <deque>
#include <functional>
#include <memory>

class SymbolDatabase;

// The trace: a chronological record of every frame while recording is on,
// numbered, filtered by CAN identifier and limited to maxEntries (oldest
// entries roll out first). Saved and loaded as PCAN trace or CSV file.
class TraceModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { ColNumber, ColTime, ColDirection, ColId, ColSymbol, ColType, ColDlc, ColData, ColSignals, ColumnCount };

    using Entry = TraceEntry;

    // Progress of a file load: bytes read so far and the file size.
    // Returning false cancels the load, which then fails and leaves the trace as it was.
    using Progress = TraceFile::Progress;

    static constexpr int DefaultMaxEntries = 100000;
    static constexpr int MinMaxEntries = 100;

    explicit TraceModel(QObject *parent = nullptr);
    ~TraceModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    void addFrames(const QList<CanFrame> &frames);
    void trimTo(int keep);
    void clear();
    void replaceEntries(std::deque<Entry> &&entries, const QDateTime &startTime);
    void setSymbols(std::shared_ptr<const SymbolDatabase> db);

    // Entries are stored packed; this points to a copy of the row's frame
    // that stays valid until the next frameAt() call or change of the model.
    const CanFrame *frameAt(int row) const;
    Entry entryAt(int row) const;
    // Hands every frame, in order, to `sink` in lists of at most `batchSize`.
    void forEachBatch(int batchSize, const std::function<void(const QList<CanFrame> &)> &sink) const;
    // The same for the entries numbered above `afterNumber` only.
    void forEachBatchAfter(quint64 afterNumber, int batchSize,
                           const std::function<void(const QList<CanFrame> &)> &sink) const;
    // Numbers of the first and last entry, 0 when empty.
    quint64 firstNumber() const { return m_entries.empty() ? 0 : m_entries.front().number; }
    quint64 lastNumber() const { return m_entries.empty() ? 0 : m_entries.back().number; }
    // Time stamp that the time column counts from.
    qint64 startUs() const { return m_startUs; }
    double offsetMs(const CanFrame &frame) const;

    bool recording() const { return m_recording; }
    void setRecording(bool on) { m_recording = on; }
    const CanIdFilter &filter() const { return m_filter; }
    void setFilter(const CanIdFilter &filter) { m_filter = filter; }
    quint64 droppedByFilter() const { return m_droppedByFilter; }
    int maxEntries() const { return m_maxEntries; }
    quint64 nextNumber() const { return m_nextNumber; }
    QDateTime startTime() const { return m_startTime; }
    // Entries were recorded since the last save, load or clear.
    bool hasUnsavedEntries() const { return m_unsaved; }

    bool saveTrc(const QString &path, QString *error) const;
    bool loadTrc(const QString &path, QString *error, int *count, const Progress &progress = Progress());
    bool saveCsv(const QString &path, QString *error) const;
    bool loadCsv(const QString &path, QString *error, int *count, const Progress &progress = Progress());
    // Any trace format (tracefiles/); a failed load leaves the trace as it was.
    // A successful save counts as saved (hasUnsavedEntries() false).
    bool save(const QString &path, TraceFile::Format format, QString *error,
              TraceFile::SaveResult *result = nullptr) const;
    // *result (may be null) says what the file held besides the entries.
    bool load(const QString &path, TraceFile::Format format, QString *error, int *count,
              const Progress &progress = Progress(), TraceFile::LoadResult *result = nullptr);

public slots:
    void setMaxEntries(int n);

private:
    // One entry in 32 bytes instead of 40: a trace may hold millions.
    struct Stored
    {
        enum Flag : quint8 { Extended = 0x01, Rtr = 0x02, Error = 0x04, Status = 0x08, Tx = 0x10 };
        quint64 number;
        qint64 timestampUs;
        quint32 id;
        quint8 dlc;
        quint8 flags;
        quint8 data[8];
    };

    static Stored pack(quint64 number, const CanFrame &frame);
    static CanFrame unpack(const Stored &stored);
    void replaceStored(std::deque<Stored> &&entries, const QDateTime &startTime);

    std::shared_ptr<const SymbolDatabase> m_symbols;
    std::deque<Stored> m_entries;
    bool m_recording = false;
    CanIdFilter m_filter;
    quint64 m_droppedByFilter = 0;
    int m_maxEntries = DefaultMaxEntries;
    quint64 m_nextNumber = 1;
    bool m_started = false;
    mutable bool m_unsaved = false; // not part of the content: save() stays const
    qint64 m_startUs = 0;
    QDateTime m_startTime;
    QList<CanFrame> m_accepted;  // reused filter buffer, so a batch allocates nothing
    mutable CanFrame m_frameAt;
};
