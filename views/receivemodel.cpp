#include "receivemodel.h"

#include "frametext.h"
#include "symbolcell.h"

#include <QBrush>
#include <QColor>

ReceiveModel::ReceiveModel(QObject *parent)
    : QAbstractTableModel(parent)
{
    m_clock.start();
}

ReceiveModel::~ReceiveModel() = default;

qint64 ReceiveModel::nowMs() const
{
    return m_clock.elapsed();
}

int ReceiveModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ReceiveModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ReceiveModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case ColId: return tr("ID");
    case ColSymbol: return tr("Symbol");
    case ColType: return tr("Typ");
    case ColDlc: return tr("DLC");
    case ColData: return tr("Daten");
    case ColCycle: return tr("Zykluszeit [ms]");
    case ColCount: return tr("Anzahl");
    case ColSignals: return tr("Signale");
    default: return QVariant();
    }
}

quint64 ReceiveModel::key(const CanFrame &frame)
{
    return quint64(frame.id) | (quint64(frame.extended) << 32) | (quint64(frame.rtr) << 33)
        | (quint64(frame.error) << 34);
}

void ReceiveModel::addFrames(const QList<CanFrame> &frames)
{
    const qint64 now = nowMs();
    for (const CanFrame &frame : frames) {
        if (frame.tx || frame.status)
            continue;
        const quint64 k = key(frame);
        const auto found = m_index.constFind(k);
        if (found != m_index.constEnd()) {
            Entry &entry = m_rows[found.value()];
            const int oldDlc = entry.frame.dlc;
            const int newDlc = frame.dlc;
            for (int i = 0; i < 8; ++i) {
                const bool inOld = i < oldDlc;
                const bool inNew = i < newDlc;
                if (inOld != inNew || (inNew && entry.frame.data[i] != frame.data[i])) {
                    entry.changedAtMs[i] = now;
                    m_lastChangeMs = now;
                }
            }
            // Two frames with one time stamp (a backend that stamps a whole
            // batch at its arrival) give no period: 0.0 would be made up.
            if (frame.timestampUs > entry.frame.timestampUs)
                entry.cycleUs = frame.timestampUs - entry.frame.timestampUs;
            entry.frame = frame;
            ++entry.count;
            m_dirty = true;
        } else {
            const int row = int(m_rows.size());
            beginInsertRows(QModelIndex(), row, row);
            Entry entry;
            entry.frame = frame;
            m_rows.append(entry);
            m_index.insert(k, row);
            endInsertRows();
        }
    }
}

void ReceiveModel::refresh()
{
    if (m_rows.isEmpty())
        return;
    if (nowMs() - m_lastChangeMs <= RepaintMs - 1 || m_dirty) {
        m_dirty = false;
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, ColumnCount - 1), {});
    }
}

void ReceiveModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_index.clear();
    endResetModel();
    m_dirty = false;
}

void ReceiveModel::setSymbols(std::shared_ptr<const SymbolDatabase> db)
{
    m_symbols = std::move(db);
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, ColumnCount - 1), {});
}

const CanFrame *ReceiveModel::frameAt(int row) const
{
    if (row < 0 || row >= m_rows.size())
        return nullptr;
    return &m_rows.at(row).frame;
}

int ReceiveModel::changeMask(const Entry &entry) const
{
    const qint64 now = nowMs();
    int mask = 0;
    for (int i = 0; i < 8; ++i) {
        if (now - entry.changedAtMs[i] < HighlightMs)
            mask |= 1 << i;
    }
    return mask;
}

QVariant ReceiveModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_rows.size() || index.column() < 0
        || index.column() >= ColumnCount)
        return QVariant();
    const Entry &entry = m_rows.at(index.row());
    const CanFrame &frame = entry.frame;
    const int column = index.column();

    switch (role) {
    case Qt::TextAlignmentRole:
        if (column == ColDlc || column == ColCycle || column == ColCount)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::ForegroundRole:
        if (frame.error)
            return QBrush(QColor(192, 32, 32));
        return QVariant();
    case ChangeMaskRole:
        return changeMask(entry);
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
    case SortRole:
        break;
    default:
        return QVariant();
    }

    if (column == ColSymbol || column == ColSignals)
        return SymbolCell::text(m_symbols.get(), frame, column == ColSignals, role == Qt::ToolTipRole);
    if (role == Qt::ToolTipRole)
        return QVariant();

    switch (column) {
    case ColId:
        if (role == SortRole)
            return (quint64(frame.extended) << 32) | frame.id;
        return FrameText::identifier(frame);
    case ColType:
        // The receive list never holds status notifications, so the shared
        // kind text gives "Error" or "Std"/"Ext" (+ " RTR") here.
        return FrameText::kind(frame);
    case ColDlc:
        return int(frame.dlc);
    case ColData:
        return FrameText::data(frame);
    case ColCycle:
        if (role == SortRole)
            return entry.cycleUs;
        if (entry.cycleUs < 0)
            return QString();
        return QString::number(double(entry.cycleUs) / 1000.0, 'f', 1);
    case ColCount:
        return entry.count;
    default:
        return QVariant();
    }
}
