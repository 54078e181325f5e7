#include "transmitdialog.h"
#include "ui_transmitdialog.h"

#include "frametext.h"
#include "symbolfile.h"

#include <QComboBox>
#include <QCompleter>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QTableWidgetItem>

#include <algorithm>

namespace {

// Sets a flag for the lifetime of the guard and restores the previous value,
// so nested writers do not clear it too early.
class UpdatingGuard
{
public:
    explicit UpdatingGuard(bool &flag) : m_flag(flag), m_previous(flag) { m_flag = true; }
    ~UpdatingGuard() { m_flag = m_previous; }
    UpdatingGuard(const UpdatingGuard &) = delete;
    UpdatingGuard &operator=(const UpdatingGuard &) = delete;

private:
    bool &m_flag;
    bool m_previous;
};

enum SignalColumn { SigName, SigValue, SigUnit, SigRaw };

// Marks the item that shows a raw value without an entry of its own.
constexpr int UnlistedRole = Qt::UserRole + 1;

// Selects the entry of `raw` in an enumeration's combo box. A value that has
// no entry (0 in an enumeration that starts at 192, a value of a range) is
// still shown, by an extra first item with `text`, so the box is never blank.
void showEnumValue(QComboBox *combo, qint64 raw, const QString &text)
{
    if (combo->count() > 0 && combo->itemData(0, UnlistedRole).toBool())
        combo->removeItem(0);
    int item = -1;
    for (int i = 0; i < combo->count() && item < 0; ++i) {
        if (combo->itemData(i).value<qint64>() == raw)
            item = i;
    }
    if (item < 0) {
        const QString number = QString::number(raw);
        combo->insertItem(0, text == number ? number : QStringLiteral("%1  (%2)").arg(text, number),
                          QVariant::fromValue<qint64>(raw));
        combo->setItemData(0, true, UnlistedRole);
        item = 0;
    }
    combo->setCurrentIndex(item);
}

} // namespace

TransmitDialog::TransmitDialog(std::shared_ptr<const SymbolDatabase> db, QWidget *parent)
    : QDialog(parent), ui(new Ui::TransmitDialog), m_db(std::move(db))
{
    ui->setupUi(this);
    ui->errorLabel->hide();

    m_byteEdits[0] = ui->byteEdit0;
    m_byteEdits[1] = ui->byteEdit1;
    m_byteEdits[2] = ui->byteEdit2;
    m_byteEdits[3] = ui->byteEdit3;
    m_byteEdits[4] = ui->byteEdit4;
    m_byteEdits[5] = ui->byteEdit5;
    m_byteEdits[6] = ui->byteEdit6;
    m_byteEdits[7] = ui->byteEdit7;

    // Symbol choice: the raw-data item first, then the symbols by name.
    ui->symbolCombo->addItem(tr("(kein Symbol – Rohdaten)"), -1);
    if (!m_db) {
        ui->symbolCombo->setEnabled(false);
        ui->symbolCombo->setToolTip(tr("Keine Symboldatei geladen"));
    } else {
        QList<int> order;
        order.reserve(m_db->messages.size());
        for (int i = 0; i < m_db->messages.size(); ++i)
            order.append(i);
        QStringList names;
        names.reserve(order.size());
        for (const SymMessage &m : m_db->messages)
            names.append(m.displayName());
        std::sort(order.begin(), order.end(), [&names](int a, int b) {
            return QString::localeAwareCompare(names.at(a), names.at(b)) < 0;
        });
        for (int i : order) {
            const SymMessage &m = m_db->messages.at(i);
            ui->symbolCombo->addItem(QStringLiteral("%1   (%2)")
                                         .arg(names.at(i),
                                              FrameText::identifier(m.idLow, m.extended)),
                                     i);
        }
    }
    if (QCompleter *completer = ui->symbolCombo->completer()) {
        completer->setFilterMode(Qt::MatchContains);
        completer->setCompletionMode(QCompleter::PopupCompletion);
    }

    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    ui->idEdit->setFont(fixed);
    ui->idEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9A-Fa-f]{1,8}")), ui->idEdit));
    const int byteWidth = QFontMetrics(fixed).horizontalAdvance(QStringLiteral("000")) + 12;
    for (int i = 0; i < 8; ++i) {
        QLineEdit *edit = m_byteEdits[i];
        edit->setFont(fixed);
        edit->setFixedWidth(byteWidth);
        // Longer than one byte only to take a pasted hex string, which
        // onByteEdited spreads over this field and the following ones.
        edit->setMaxLength(MaxPastedText);
        edit->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[0-9A-Fa-f]{0,2}|[0-9A-Fa-f ,:;\\-]{3,%1}").arg(MaxPastedText)), edit));
        connect(edit, &QLineEdit::textEdited, this, [this, i] { onByteEdited(i); });
    }

    QHeaderView *header = ui->signalTable->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ui->signalTable->setColumnWidth(SigName, 190);
    ui->signalTable->setColumnWidth(SigValue, 230);
    ui->signalTable->setColumnWidth(SigUnit, 60);

    connect(ui->idEdit, &QLineEdit::textEdited, this, &TransmitDialog::onRawFieldsEdited);
    connect(ui->dlcSpin, &QSpinBox::valueChanged, this, &TransmitDialog::updateEnabled);
    connect(ui->dlcSpin, &QSpinBox::valueChanged, this, &TransmitDialog::onRawFieldsEdited);
    connect(ui->rtrCheck, &QCheckBox::toggled, this, &TransmitDialog::updateEnabled);
    connect(ui->rtrCheck, &QCheckBox::toggled, this, &TransmitDialog::onRawFieldsEdited);
    connect(ui->extendedCheck, &QCheckBox::toggled, this, &TransmitDialog::onRawFieldsEdited);
    connect(ui->idEdit, &QLineEdit::textChanged, this, &TransmitDialog::revalidate);
    connect(ui->extendedCheck, &QCheckBox::toggled, this, &TransmitDialog::revalidate);
    connect(ui->cycleSpin, &QSpinBox::valueChanged, this, &TransmitDialog::updateEnabled);
    connect(ui->symbolCombo, &QComboBox::activated, this, &TransmitDialog::onSymbolChosen);
    connect(ui->signalTable, &QTableWidget::itemChanged, this,
            &TransmitDialog::onSignalItemChanged);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &TransmitDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &TransmitDialog::reject);

    ui->signalGroup->setVisible(bool(m_db));
    if (!m_db)
        resize(minimumSizeHint());

    updateEnabled();
    ui->idEdit->setFocus();
}

TransmitDialog::~TransmitDialog() = default;

QStringList TransmitDialog::hexBytes(const QString &text)
{
    QStringList bytes;
    const QStringList groups = text.split(QRegularExpression(QStringLiteral("[ ,:;\\-]+")), Qt::SkipEmptyParts);
    for (const QString &group : groups) {
        // "1 2" are two bytes, "0102" too: a group longer than two digits is
        // read in pairs; a digit left over stays single, as typing goes on there.
        if (group.size() == 1) {
            bytes.append(QLatin1Char('0') + group.toUpper());
            continue;
        }
        for (qsizetype i = 0; i < group.size(); i += 2)
            bytes.append(group.mid(i, 2).toUpper());
    }
    return bytes;
}

void TransmitDialog::onByteEdited(int first)
{
    QLineEdit *edit = m_byteEdits[first];
    QString text = edit->text();
    if (text.size() <= 2) {
        // A separator on its own is no digit: the field keeps only its digits.
        const QString digits = QString(text).remove(QRegularExpression(QStringLiteral("[^0-9A-Fa-f]"))).toUpper();
        if (digits != text) {
            const UpdatingGuard guard(m_updating);
            text = digits;
            edit->setText(text);
        }
    }
    const bool whole = text.size() == 2 && edit->cursorPosition() == 2;
    if (text.size() > 2) {
        // A pasted string (or a third digit typed into a full field) goes on
        // into the next fields; the length grows to hold what was given.
        const QStringList bytes = hexBytes(text);
        int last = first;
        {
            UpdatingGuard guard(m_updating);
            for (int i = 0; i < bytes.size() && first + i < 8; ++i) {
                last = first + i;
                m_byteEdits[last]->setText(bytes.at(i));
            }
            if (bytes.isEmpty())
                edit->clear();
            if (ui->dlcSpin->value() <= last)
                ui->dlcSpin->setValue(last + 1);
            updateEnabled();
        }
        QLineEdit *lastEdit = m_byteEdits[last];
        const bool full = lastEdit->text().size() == 2;
        if (full && last + 1 < 8 && m_byteEdits[last + 1]->isEnabled())
            focusByte(last + 1);
        else
            lastEdit->setFocus();
    } else if (whole && first + 1 < 8 && m_byteEdits[first + 1]->isEnabled()) {
        focusByte(first + 1);   // two digits make a byte: on to the next
    }
    onRawFieldsEdited();
}

void TransmitDialog::focusByte(int index)
{
    m_byteEdits[index]->setFocus();
    m_byteEdits[index]->selectAll();
}

void TransmitDialog::updateEnabled()
{
    const bool rtr = ui->rtrCheck->isChecked();
    const int dlc = ui->dlcSpin->value();
    for (int i = 0; i < 8; ++i)
        m_byteEdits[i]->setEnabled(i < dlc && !rtr);
    ui->activateCheck->setEnabled(ui->cycleSpin->value() > 0);
    ui->signalTable->setEnabled(!rtr);
}

CanFrame TransmitDialog::frameFromFields() const
{
    CanFrame frame;
    quint32 id = 0;
    if (TransmitModel::parseIdentifier(ui->idEdit->text(), &id))
        frame.id = id;
    frame.extended = ui->extendedCheck->isChecked();
    frame.rtr = ui->rtrCheck->isChecked();
    frame.dlc = quint8(ui->dlcSpin->value());
    for (int i = 0; i < 8; ++i) {
        bool ok = false;
        const uint value = m_byteEdits[i]->text().toUInt(&ok, 16);
        frame.data[i] = ok ? quint8(value) : 0;
    }
    return frame;
}

void TransmitDialog::writeFrameToFields(const CanFrame &frame)
{
    UpdatingGuard guard(m_updating);
    ui->idEdit->setText(QString::number(frame.id, 16).toUpper());
    ui->extendedCheck->setChecked(frame.extended);
    ui->rtrCheck->setChecked(frame.rtr);
    ui->dlcSpin->setValue(frame.dlc);
    for (int i = 0; i < 8; ++i)
        m_byteEdits[i]->setText(
            QStringLiteral("%1").arg(frame.data[i], 2, 16, QLatin1Char('0')).toUpper());
    updateEnabled();
}

void TransmitDialog::setMessage(const TxMessage &message)
{
    m_givenEntry = message;
    writeFrameToFields(message.frame);
    {
        UpdatingGuard guard(m_updating);
        // A longer cycle from a list file stays as it is unless the user changes it.
        ui->cycleSpin->setMaximum(qMax(ui->cycleSpin->maximum(), message.cycleMs));
        ui->cycleSpin->setValue(message.cycleMs);
        ui->activateCheck->setChecked(message.active);
        ui->commentEdit->setText(message.comment);
    }
    m_currentSymbol = m_db ? m_db->find(message.frame) : nullptr;
    // A comment that is just the symbol's name (as this dialog writes it)
    // may follow a change of symbol.
    m_symbolComment = m_currentSymbol && message.comment == m_currentSymbol->displayName() ? message.comment : QString();
    selectSymbolItem(m_currentSymbol);
    rebuildSignalTable();
    updateEnabled();
}

TxMessage TransmitDialog::message() const
{
    TxMessage result = m_givenEntry;
    result.frame = frameFromFields();
    result.cycleMs = ui->cycleSpin->value();
    result.active = result.cycleMs > 0 && ui->activateCheck->isChecked();
    result.comment = ui->commentEdit->text();
    return result;
}

bool TransmitDialog::validate(QString *error) const
{
    quint32 id = 0;
    QString message;
    if (!TransmitModel::parseIdentifier(ui->idEdit->text(), &id))
        message = tr("Bitte eine gültige hexadezimale ID eingeben.");
    else if (ui->extendedCheck->isChecked() && id >= 0x20000000u)
        message = tr("Extended-IDs (29 bit) dürfen höchstens 1FFFFFFFh sein.");
    else if (!ui->extendedCheck->isChecked() && id >= 0x800u)
        message = tr("Standard-IDs (11 bit) dürfen höchstens 7FFh sein. "
                     "Für größere IDs \"Extended\" aktivieren.");
    if (message.isEmpty())
        return true;
    if (error)
        *error = message;
    return false;
}

void TransmitDialog::accept()
{
    QString error;
    if (!validate(&error)) {
        showError(error);
        m_validationShown = true;
        return;
    }
    QDialog::accept();
}

int TransmitDialog::symbolIndex(const SymMessage *symbol) const
{
    if (!m_db || !symbol)
        return -1;
    const qsizetype index = symbol - m_db->messages.constData();
    return index >= 0 && index < m_db->messages.size() ? int(index) : -1;
}

void TransmitDialog::selectSymbolItem(const SymMessage *symbol)
{
    const int index = symbolIndex(symbol);
    const int item = index >= 0 ? ui->symbolCombo->findData(index) : 0;
    const QSignalBlocker blocker(ui->symbolCombo);
    ui->symbolCombo->setCurrentIndex(item >= 0 ? item : 0);
}

void TransmitDialog::onSymbolChosen(int index)
{
    ui->errorLabel->hide();
    const int symbol = ui->symbolCombo->itemData(index).toInt();
    if (m_db && symbol >= 0 && symbol < m_db->messages.size()) {
        m_currentSymbol = &m_db->messages.at(symbol);
        writeFrameToFields(m_db->defaultFrame(*m_currentSymbol));
        // The symbol's own cycle time (DBC GenMsgCycleTime, .sym CycleTime) where it has one.
        if (m_currentSymbol->cycleTime > 0) {
            ui->cycleSpin->setMaximum(qMax(ui->cycleSpin->maximum(), m_currentSymbol->cycleTime));
            ui->cycleSpin->setValue(m_currentSymbol->cycleTime);
        }
    } else {
        m_currentSymbol = nullptr;
    }
    commentFollowsSymbol(true);
    rebuildSignalTable();
}

void TransmitDialog::commentFollowsSymbol(bool fillEmpty)
{
    const QString comment = ui->commentEdit->text();
    if (comment.isEmpty() ? !fillEmpty : comment != m_symbolComment)
        return; // the user's own, or recognising a symbol by its identifier
    m_symbolComment = m_currentSymbol ? m_currentSymbol->displayName() : QString();
    ui->commentEdit->setText(m_symbolComment);
}

void TransmitDialog::onRawFieldsEdited()
{
    if (m_updating || !m_db)
        return;
    const SymMessage *symbol = m_db->find(frameFromFields());
    if (symbol == m_currentSymbol) {
        refreshSignalValues();
        return;
    }
    m_currentSymbol = symbol;
    selectSymbolItem(symbol);
    commentFollowsSymbol(false);
    rebuildSignalTable();
}

void TransmitDialog::rebuildSignalTable()
{
    {
        UpdatingGuard guard(m_updating);
        QTableWidget *table = ui->signalTable;
        table->clearContents();
        table->setRowCount(0);
        if (!m_currentSymbol || !m_db) {
            ui->signalGroup->setTitle(tr("Signale"));
        } else {
            const QList<SymVariable> &variables = m_currentSymbol->variables;
            table->setRowCount(int(variables.size()));
            for (int row = 0; row < variables.size(); ++row) {
                const SymVariable &v = variables.at(row);

                auto *name = new QTableWidgetItem(v.name);
                name->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
                const int bitCount = v.bits.isEmpty() ? v.length : int(v.bits.size());
                const QString enumText =
                    v.enumName.isEmpty() ? QString() : tr(", Enum %1").arg(v.enumName);
                name->setToolTip(tr("%1 Bit, %2%3")
                                     .arg(bitCount)
                                     .arg(v.isSigned ? tr("signed") : tr("unsigned"), enumText));
                table->setItem(row, SigName, name);

                if (const SymEnum *e = m_db->enumFor(v)) {
                    auto *combo = new QComboBox(table);
                    for (auto it = e->values.cbegin(); it != e->values.cend(); ++it)
                        combo->addItem(QStringLiteral("%1  (%2)").arg(it.value(),
                                                                      QString::number(it.key())),
                                       QVariant::fromValue<qint64>(it.key()));
                    // An entry of the list is a raw value, not a physical one.
                    connect(combo, &QComboBox::activated, this, [this, combo, row](int item) {
                        applySignalRaw(row, combo->itemData(item).value<qint64>());
                    });
                    table->setCellWidget(row, SigValue, combo);
                } else {
                    table->setItem(row, SigValue, new QTableWidgetItem());
                }

                auto *unit = new QTableWidgetItem(v.unit);
                unit->setFlags(Qt::ItemIsEnabled);
                table->setItem(row, SigUnit, unit);
                auto *raw = new QTableWidgetItem();
                raw->setFlags(Qt::ItemIsEnabled);
                table->setItem(row, SigRaw, raw);
            }
            ui->signalGroup->setTitle(tr("Signale – %1").arg(m_currentSymbol->displayName()));
        }
    }
    refreshSignalValues();
}

void TransmitDialog::refreshSignalValues()
{
    if (!m_currentSymbol || !m_db)
        return;
    UpdatingGuard guard(m_updating);
    const CanFrame frame = frameFromFields();
    const QList<SymVariable> &variables = m_currentSymbol->variables;
    QTableWidget *table = ui->signalTable;
    const int rows = qMin(int(variables.size()), table->rowCount());
    for (int row = 0; row < rows; ++row) {
        const SymVariable &v = variables.at(row);
        if (auto *combo = qobject_cast<QComboBox *>(table->cellWidget(row, SigValue))) {
            showEnumValue(combo, m_db->rawValue(v, frame), m_db->valueText(v, frame));
        } else if (QTableWidgetItem *item = table->item(row, SigValue)) {
            item->setText(m_db->valueText(v, frame));
        }
        if (QTableWidgetItem *raw = table->item(row, SigRaw))
            raw->setText(m_db->rawText(v, frame));
    }
}

void TransmitDialog::onSignalItemChanged(QTableWidgetItem *item)
{
    if (m_updating || !item || item->column() != SigValue)
        return;
    applySignalValue(item->row(), item->text());
}

void TransmitDialog::applySignalValue(int row, const QString &text)
{
    if (!m_currentSymbol || !m_db || row < 0 || row >= m_currentSymbol->variables.size())
        return;
    CanFrame frame = frameFromFields();
    QString error;
    if (m_db->applyText(m_currentSymbol->variables.at(row), text, frame, &error)) {
        ui->errorLabel->hide();
        writeFrameToFields(frame);
    } else {
        showError(error);
    }
    refreshSignalValues();
}

void TransmitDialog::applySignalRaw(int row, qint64 raw)
{
    if (!m_currentSymbol || !m_db || row < 0 || row >= m_currentSymbol->variables.size())
        return;
    const SymVariable &variable = m_currentSymbol->variables.at(row);
    if (variable.bits.isEmpty())
        return;
    CanFrame frame = frameFromFields();
    SymbolDatabase::setRawValue(variable, raw, frame);
    const int lastByte = *std::max_element(variable.bits.cbegin(), variable.bits.cend()) / 8;
    if (lastByte >= frame.dlc)
        frame.dlc = quint8(lastByte + 1);
    ui->errorLabel->hide();
    writeFrameToFields(frame);
    refreshSignalValues();
}

void TransmitDialog::showError(const QString &text)
{
    m_validationShown = false;
    ui->errorLabel->setText(text);
    ui->errorLabel->show();
}

// A validation message follows the corrected input instead of staying red.
void TransmitDialog::revalidate()
{
    if (!m_validationShown || ui->errorLabel->isHidden())
        return;
    QString error;
    if (validate(&error)) {
        ui->errorLabel->hide();
        m_validationShown = false;
    } else {
        ui->errorLabel->setText(error);
    }
}
