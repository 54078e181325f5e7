#pragma once

#include "canframe.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QHash>
#include <QList>

#include <memory>

class SymbolDatabase;

// The receive list: one row per kind of frame (identifier, extended, remote
// request, error), showing its latest frame, count, cycle time, symbol and
// the recently changed bytes. Batches arrive through addFrames; the view
// learns about updates only from refresh().
class ReceiveModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { ColId, ColSymbol, ColType, ColDlc, ColData, ColCycle, ColCount, ColSignals, ColumnCount };
    enum Role { SortRole = Qt::UserRole + 1, ChangeMaskRole = Qt::UserRole + 2 };

    // How long a changed byte stays highlighted, and how long repainting
    // goes on afterwards so the last repaint draws it plain again.
    static constexpr qint64 HighlightMs = 1500;
    static constexpr qint64 RepaintMs = 1700;
    static constexpr qint64 NeverMs = -100000;

    struct Entry
    {
        CanFrame frame;
        quint64 count = 1;
        qint64 cycleUs = -1;
        qint64 changedAtMs[8] = {NeverMs, NeverMs, NeverMs, NeverMs, NeverMs, NeverMs, NeverMs, NeverMs};
    };

    explicit ReceiveModel(QObject *parent = nullptr);
    ~ReceiveModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    void addFrames(const QList<CanFrame> &frames);
    void refresh();
    void clear();
    void setSymbols(std::shared_ptr<const SymbolDatabase> db);

    const CanFrame *frameAt(int row) const;
    int changeMask(const Entry &entry) const;

    static quint64 key(const CanFrame &frame);

protected:
    // The model clock in milliseconds; virtual so tests can drive time.
    virtual qint64 nowMs() const;

private:
    std::shared_ptr<const SymbolDatabase> m_symbols;
    QList<Entry> m_rows;
    QHash<quint64, int> m_index;
    QElapsedTimer m_clock;
    qint64 m_lastChangeMs = NeverMs;
    bool m_dirty = false;
};
