#pragma once

#include "canframe.h"

#include <QAbstractTableModel>
#include <QJsonArray>
#include <QList>
#include <QString>

#include <memory>

class SymbolDatabase;

// One entry of the transmit list.
struct TxMessage
{
    CanFrame frame;        // only id, extended, rtr, dlc and data are sent
    int cycleMs = 0;       // 0 or less: sent on demand only ("manuell")
    bool active = false;   // cyclic sending on; never true without a cycle time
    quint64 count = 0;     // successful sends since the last reset
    QString comment;
    qint64 nextDueMs = 0;  // transmit clock time of the next cyclic send; not saved
};

// The transmit list shown in the transmit table. Counts change per send but
// are repainted only from refresh(), so cyclic sending costs no model signal.
class TransmitModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        ColId,
        ColSymbol,
        ColKind,
        ColDlc,
        ColData,
        ColCycle,
        ColCount,
        ColComment,
        ColumnCount
    };

    explicit TransmitModel(QObject *parent = nullptr);
    ~TransmitModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    // Row access for sending, the cyclic schedule and the edit dialog. An
    // invalid row yields an empty, inactive message.
    const TxMessage &message(int row) const;
    const QList<TxMessage> &messages() const { return m_rows; }
    // The transmit clock time of the row's next cyclic send; no model signal.
    void setNextDueMs(int row, qint64 dueMs);

    int addMessage(const TxMessage &message);
    void updateMessage(int row, const TxMessage &message);
    void removeMessage(int row);
    void clear();
    void setActive(int row, bool on);
    void incrementCount(int row);
    void resetCounts();

    void setSymbols(std::shared_ptr<const SymbolDatabase> db);

    QJsonArray toJson() const;
    void fromJson(const QJsonArray &array);

    // Transmit list file: the object with "format", "version" and "messages".
    QByteArray fileContents() const;
    // Written atomically: a failed write leaves the previous file intact.
    bool saveFile(const QString &path, QString *error = nullptr);
    // Replaces the list; on failure the list stays as it was.
    bool loadFile(const QString &path, QString *error = nullptr);
    // Extracts the message array from a file's bytes (object or bare array).
    static bool parseFile(const QByteArray &bytes, QJsonArray *messages, QString *error = nullptr);
    // Reads an identifier typed or stored as hexadecimal digits; false when
    // empty, unreadable or wider than 32 bits. Shared by the list file and
    // the transmit dialog so both accept the same texts.
    static bool parseIdentifier(const QString &text, quint32 *id);

    // Rows added, changed or removed since the list was last loaded or saved
    // (switching cyclic sending and counting are not edits of the list).
    bool isEdited() const { return m_edited; }

public slots:
    void stopAll();
    void refresh();

signals:
    void activeChanged(int row, bool active);

private:
    bool validRow(int row) const { return row >= 0 && row < m_rows.size(); }
    QString toolTip(const TxMessage &message, int column) const;

    std::shared_ptr<const SymbolDatabase> m_db;
    QList<TxMessage> m_rows;
    bool m_countsDirty = false;
    bool m_edited = false;
};
