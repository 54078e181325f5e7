#include "tracemodel.h"

#include "frametext.h"
#include "symbolcell.h"

#include <QBrush>
#include <QColor>

#include <algorithm>
#include <cstring>


TraceModel::TraceModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

TraceModel::~TraceModel() = default;

TraceModel::Stored TraceModel::pack(quint64 number, const CanFrame &frame)
{
    Stored s;
    s.number = number;
    s.timestampUs = frame.timestampUs;
    s.id = frame.id;
    s.dlc = frame.dlc;
    s.flags = quint8((frame.extended ? Stored::Extended : 0) | (frame.rtr ? Stored::Rtr : 0)
                     | (frame.error ? Stored::Error : 0) | (frame.status ? Stored::Status : 0)
                     | (frame.tx ? Stored::Tx : 0));
    std::memcpy(s.data, frame.data, 8);
    return s;
}

CanFrame TraceModel::unpack(const Stored &s)
{
    CanFrame frame;
    frame.id = s.id;
    frame.dlc = s.dlc;
    std::memcpy(frame.data, s.data, 8);
    frame.extended = s.flags & Stored::Extended;
    frame.rtr = s.flags & Stored::Rtr;
    frame.error = s.flags & Stored::Error;
    frame.status = s.flags & Stored::Status;
    frame.tx = s.flags & Stored::Tx;
    frame.timestampUs = s.timestampUs;
    return frame;
}

int TraceModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

int TraceModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TraceModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case ColNumber: return tr("Nr.");
    case ColTime: return tr("Zeit [ms]");
    case ColDirection: return tr("Rx/Tx");
    case ColId: return tr("ID");
    case ColSymbol: return tr("Symbol");
    case ColType: return tr("Typ");
    case ColDlc: return tr("DLC");
    case ColData: return tr("Daten");
    case ColSignals: return tr("Signale");
    default: return QVariant();
    }
}

double TraceModel::offsetMs(const CanFrame &frame) const
{
    qint64 diff = 0;
    if (__builtin_sub_overflow(frame.timestampUs, m_startUs, &diff))
        return (double(frame.timestampUs) - double(m_startUs)) / 1000.0;
    return double(diff) / 1000.0;
}

QVariant TraceModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || size_t(index.row()) >= m_entries.size() || index.column() < 0
        || index.column() >= ColumnCount)
        return QVariant();
    const Stored &stored = m_entries[size_t(index.row())];
    const int column = index.column();

    if (role == Qt::TextAlignmentRole) {
        if (column == ColNumber || column == ColTime || column == ColDlc)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    }
    if (role == Qt::ForegroundRole) {
        if (stored.flags & (Stored::Error | Stored::Status))
            return QBrush(QColor(192, 32, 32));
        if (stored.flags & Stored::Tx)
            return QBrush(QColor(16, 80, 176));
        return QVariant();
    }

    if (column == ColSymbol || column == ColSignals) {
        if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !m_symbols)
            return QVariant();
        return SymbolCell::text(m_symbols.get(), unpack(stored), column == ColSignals, role == Qt::ToolTipRole);
    }
    if (role != Qt::DisplayRole)
        return QVariant();

    const CanFrame frame = unpack(stored);
    switch (column) {
    case ColNumber:
        return stored.number;
    case ColTime:
        return QString::number(offsetMs(frame), 'f', 3);
    case ColDirection:
        return frame.tx ? QStringLiteral("Tx") : QStringLiteral("Rx");
    case ColId:
        return frame.status ? QStringLiteral("Status") : FrameText::identifier(frame);
    case ColType:
        return FrameText::kind(frame);
    case ColDlc:
        return int(frame.dlc);
    case ColData:
        return FrameText::data(frame);
    default:
        return QVariant();
    }
}

void TraceModel::addFrames(const QList<CanFrame> &frames)
{
    if (!m_recording || frames.isEmpty())
        return;

    const QList<CanFrame> *batch = &frames;
    if (m_filter.enabled && !m_filter.ranges.isEmpty()) {
        m_accepted.clear();
        for (const CanFrame &frame : frames) {
            if (m_filter.accepts(frame))
                m_accepted.append(frame);
        }
        m_droppedByFilter += quint64(frames.size() - m_accepted.size());
        if (m_accepted.isEmpty())
            return;
        batch = &m_accepted;
    }

    if (!m_started) {
        m_started = true;
        m_startUs = batch->first().timestampUs;
        m_startTime = QDateTime::currentDateTime();
    }

    const qsizetype n = batch->size();
    const qsizetype m = m_maxEntries;
    // Make room first, so the trace never holds more than maxEntries.
    trimTo(n > m ? 0 : int(m - n));

    const qsizetype recorded = std::min(n, m);
    const int first = int(m_entries.size());
    beginInsertRows(QModelIndex(), first, first + int(recorded) - 1);
    const qsizetype skipped = n - recorded;
    // Skipped frames use up their numbers, so the kept ones keep theirs.
    m_nextNumber += quint64(skipped);
    for (qsizetype i = skipped; i < n; ++i)
        m_entries.push_back(pack(m_nextNumber++, batch->at(i)));
    m_unsaved = true;
    endInsertRows();
}

void TraceModel::trimTo(int keep)
{
    keep = std::max(keep, 0);
    const size_t count = m_entries.size();
    if (count <= size_t(keep))
        return;
    const size_t remove = count - size_t(keep);
    beginRemoveRows(QModelIndex(), 0, int(remove) - 1);
    m_entries.erase(m_entries.begin(), m_entries.begin() + qptrdiff(remove));
    endRemoveRows();
}

void TraceModel::setMaxEntries(int n)
{
    m_maxEntries = std::max(n, int(MinMaxEntries));
    trimTo(m_maxEntries);
}

void TraceModel::clear()
{
    beginResetModel();
    std::deque<Stored>().swap(m_entries);
    m_nextNumber = 1;
    m_droppedByFilter = 0;
    m_started = false;
    m_startUs = 0;
    m_unsaved = false;
    endResetModel();
}

void TraceModel::replaceStored(std::deque<Stored> &&entries, const QDateTime &startTime)
{
    beginResetModel();
    m_entries = std::move(entries);
    m_nextNumber = m_entries.empty() ? 1 : m_entries.back().number + 1;
    m_droppedByFilter = 0;
    m_started = true;
    m_startUs = 0;
    m_startTime = startTime;
    m_unsaved = false;
    endResetModel();
}

void TraceModel::replaceEntries(std::deque<Entry> &&entries, const QDateTime &startTime)
{
    std::deque<Stored> stored;
    for (const Entry &entry : entries)
        stored.push_back(pack(entry.number, entry.frame));
    std::deque<Entry>().swap(entries);
    replaceStored(std::move(stored), startTime);
}

void TraceModel::setSymbols(std::shared_ptr<const SymbolDatabase> db)
{
    m_symbols = std::move(db);
    if (!m_entries.empty())
        emit dataChanged(index(0, ColSymbol), index(int(m_entries.size()) - 1, ColSignals), {});
}

const CanFrame *TraceModel::frameAt(int row) const
{
    if (row < 0 || size_t(row) >= m_entries.size())
        return nullptr;
    m_frameAt = unpack(m_entries[size_t(row)]);
    return &m_frameAt;
}

void TraceModel::forEachBatch(int batchSize, const std::function<void(const QList<CanFrame> &)> &sink) const
{
    QList<CanFrame> batch;
    batch.reserve(qsizetype(std::min(m_entries.size(), size_t(std::max(batchSize, 1)))));
    for (const Stored &stored : m_entries) {
        batch.append(unpack(stored));
        if (batch.size() >= batchSize) {
            sink(batch);
            batch.resize(0);
        }
    }
    if (!batch.isEmpty())
        sink(batch);
}

void TraceModel::forEachBatchAfter(quint64 afterNumber, int batchSize,
                                   const std::function<void(const QList<CanFrame> &)> &sink) const
{
    const auto from = std::upper_bound(m_entries.cbegin(), m_entries.cend(), afterNumber,
                                       [](quint64 number, const Stored &stored) { return number < stored.number; });
    QList<CanFrame> batch;
    batch.reserve(qsizetype(std::min(size_t(m_entries.cend() - from), size_t(std::max(batchSize, 1)))));
    for (auto it = from; it != m_entries.cend(); ++it) {
        batch.append(unpack(*it));
        if (batch.size() >= batchSize) {
            sink(batch);
            batch.resize(0);
        }
    }
    if (!batch.isEmpty())
        sink(batch);
}

TraceModel::Entry TraceModel::entryAt(int row) const
{
    if (row < 0 || size_t(row) >= m_entries.size())
        return Entry();
    const Stored &stored = m_entries[size_t(row)];
    return Entry{stored.number, unpack(stored)};
}
