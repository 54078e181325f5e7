#pragma once

#include "transmitmodel.h"

#include <QDialog>
#include <QStringList>

#include <memory>

class QLineEdit;
class QTableWidgetItem;
struct SymMessage;
class SymbolDatabase;

namespace Ui {
class TransmitDialog;
}

// Creates or edits one transmit-list entry, either by raw fields or, with a
// symbol file, by symbol and signal values; both sides stay in step.
class TransmitDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TransmitDialog(std::shared_ptr<const SymbolDatabase> db, QWidget *parent = nullptr);
    ~TransmitDialog() override;

    void setMessage(const TxMessage &message);
    TxMessage message() const;
    bool validate(QString *error) const;

public slots:
    void accept() override;

private slots:
    void updateEnabled();
    void onRawFieldsEdited();
    void onSymbolChosen(int index);
    void onSignalItemChanged(QTableWidgetItem *item);
    void revalidate();
    void onByteEdited(int index);

private:
    // Room in a byte field for a pasted string of eight bytes with separators.
    static constexpr int MaxPastedText = 64;
    // The bytes of a hex string: groups split at blanks, ",", ":", ";" or
    // "-", each group read two digits at a time.
    static QStringList hexBytes(const QString &text);
    void focusByte(int index);
    CanFrame frameFromFields() const;
    void writeFrameToFields(const CanFrame &frame);
    void rebuildSignalTable();
    void refreshSignalValues();
    void applySignalValue(int row, const QString &text);
    void applySignalRaw(int row, qint64 raw);
    void showError(const QString &text);
    void selectSymbolItem(const SymMessage *symbol);
    int symbolIndex(const SymMessage *symbol) const;
    // Puts the current symbol's name into the comment unless the user wrote
    // one of their own; without a symbol such a name is removed. An empty
    // comment is filled only when `fillEmpty` (the user chose the symbol).
    void commentFollowsSymbol(bool fillEmpty);

    std::unique_ptr<Ui::TransmitDialog> ui;
    std::shared_ptr<const SymbolDatabase> m_db;
    const SymMessage *m_currentSymbol = nullptr;
    bool m_updating = false;
    bool m_validationShown = false;   // the error label holds a validate() message
    TxMessage m_givenEntry;
    // The comment as the dialog last set it from a symbol name; a comment
    // that differs from it (and is not empty) was written by the user.
    QString m_symbolComment;
    QLineEdit *m_byteEdits[8] = {};
};
