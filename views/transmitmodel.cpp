#include "transmitmodel.h"

#include "frametext.h"
#include "symbolfile.h"
#include "symsyntax.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSaveFile>

#include <cmath>
#include <limits>

namespace {

// A JSON number cut to a whole number and clamped into [low, high]; anything
// else counts as 0. QJsonValue::toInt would give 0 for 1e10 or 2.5.
int clampedInt(const QJsonValue &value, int low, int high)
{
    const double number = value.isDouble() ? value.toDouble() : 0.0;
    if (std::isnan(number))
        return qBound(low, 0, high);
    return int(qBound(double(low), std::trunc(number), double(high)));
}

// "Ungültige Datei: …" names the kind of fault and where it is, in German:
// Qt's own parser texts are English.
QString jsonErrorText(const QJsonParseError &error, const QByteArray &bytes)
{
    QString what;
    switch (error.error) {
    case QJsonParseError::UnterminatedObject: what = TransmitModel::tr("Objekt nicht abgeschlossen"); break;
    case QJsonParseError::MissingNameSeparator: what = TransmitModel::tr("Doppelpunkt fehlt"); break;
    case QJsonParseError::UnterminatedArray: what = TransmitModel::tr("Liste nicht abgeschlossen"); break;
    case QJsonParseError::MissingValueSeparator: what = TransmitModel::tr("Komma fehlt"); break;
    case QJsonParseError::IllegalValue: what = TransmitModel::tr("ungültiger Wert"); break;
    case QJsonParseError::TerminationByNumber: what = TransmitModel::tr("Datei endet mitten in einer Zahl"); break;
    case QJsonParseError::IllegalNumber: what = TransmitModel::tr("ungültige Zahl"); break;
    case QJsonParseError::IllegalEscapeSequence: what = TransmitModel::tr("ungültige Escape-Sequenz"); break;
    case QJsonParseError::IllegalUTF8String: what = TransmitModel::tr("ungültiges UTF-8"); break;
    case QJsonParseError::UnterminatedString: what = TransmitModel::tr("Zeichenkette nicht abgeschlossen"); break;
    case QJsonParseError::MissingObject: what = TransmitModel::tr("Objekt oder Liste erwartet"); break;
    case QJsonParseError::DeepNesting: what = TransmitModel::tr("zu tief verschachtelt"); break;
    case QJsonParseError::DocumentTooLarge: what = TransmitModel::tr("Datei zu groß"); break;
    case QJsonParseError::GarbageAtEnd: what = TransmitModel::tr("unerwartete Zeichen nach dem Ende"); break;
    default: what = TransmitModel::tr("Formatfehler"); break;
    }
    // Line and column (in bytes) of the offset where the parser stopped.
    const qsizetype offset = qBound(qsizetype(0), qsizetype(error.offset), bytes.size());
    const QByteArrayView before(bytes.constData(), offset);
    const qsizetype line = before.count('\n') + 1;
    const qsizetype column = offset - (before.lastIndexOf('\n') + 1) + 1;
    return TransmitModel::tr("%1 in Zeile %2, Spalte %3").arg(what).arg(line).arg(column);
}

const TxMessage &emptyMessage()
{
    static const TxMessage empty;
    return empty;
}

QString kindText(const CanFrame &frame)
{
    QString text = frame.extended ? QStringLiteral("Ext") : QStringLiteral("Std");
    if (frame.rtr)
        text += QStringLiteral(" RTR");
    return text;
}

} // namespace

TransmitModel::TransmitModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

TransmitModel::~TransmitModel() = default;

int TransmitModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TransmitModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(ColumnCount);
}

QVariant TransmitModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case ColId: return tr("ID");
    case ColSymbol: return tr("Symbol");
    case ColKind: return tr("Typ");
    case ColDlc: return tr("DLC");
    case ColData: return tr("Daten");
    case ColCycle: return tr("Zyklus [ms]");
    case ColCount: return tr("Anzahl");
    case ColComment: return tr("Kommentar");
    default: return QVariant();
    }
}

QVariant TransmitModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !validRow(index.row()) || index.column() < 0
        || index.column() >= ColumnCount)
        return QVariant();
    const TxMessage &m = m_rows.at(index.row());
    const int column = index.column();

    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case ColId: return FrameText::identifier(m.frame.id, m.frame.extended);
        case ColSymbol: {
            if (!m_db)
                return QString();
            const SymMessage *symbol = m_db->find(m.frame);
            return symbol ? symbol->displayName() : QString();
        }
        case ColKind: return kindText(m.frame);
        case ColDlc: return int(m.frame.dlc);
        case ColData: return FrameText::data(m.frame);
        case ColCycle: return m.cycleMs < 1 ? tr("manuell") : QString::number(m.cycleMs);
        case ColCount: return QVariant::fromValue<quint64>(m.count);
        case ColComment: return m.comment;
        }
        break;
    case Qt::ToolTipRole: {
        const QString tip = toolTip(m, column);
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    case Qt::TextAlignmentRole:
        if (column == ColDlc || column == ColCycle || column == ColCount)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::CheckStateRole:
        if (column == ColId && m.cycleMs > 0)
            return m.active ? Qt::Checked : Qt::Unchecked;
        break;
    default:
        break;
    }
    return QVariant();
}

QString TransmitModel::toolTip(const TxMessage &message, int column) const
{
    if (column == ColId && message.cycleMs > 0)
        return tr("Haken: zyklisches Senden alle %1 ms").arg(message.cycleMs);
    if (!m_db || message.frame.rtr)
        return QString();
    QString text = m_db->decodeText(message.frame);
    text.replace(QStringLiteral("; "), QStringLiteral("\n"));
    return text;
}

Qt::ItemFlags TransmitModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == ColId && validRow(index.row())
        && m_rows.at(index.row()).cycleMs >= 1)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

bool TransmitModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.column() != ColId || role != Qt::CheckStateRole
        || !validRow(index.row()))
        return false;
    setActive(index.row(), value.toInt() == Qt::Checked);
    return true;
}

const TxMessage &TransmitModel::message(int row) const
{
    return validRow(row) ? m_rows.at(row) : emptyMessage();
}

void TransmitModel::setNextDueMs(int row, qint64 dueMs)
{
    if (validRow(row))
        m_rows[row].nextDueMs = dueMs;
}

int TransmitModel::addMessage(const TxMessage &message)
{
    const int row = int(m_rows.size());
    beginInsertRows(QModelIndex(), row, row);
    m_rows.append(message);
    // A row without a cycle time is never active, whatever the caller passed.
    m_rows.last().active = message.active && message.cycleMs > 0;
    endInsertRows();
    m_edited = true;
    if (m_rows.last().active)
        emit activeChanged(row, true);
    return row;
}

void TransmitModel::updateMessage(int row, const TxMessage &message)
{
    if (!validRow(row))
        return;
    TxMessage &m = m_rows[row];
    const bool wasActive = m.active;
    m.frame = message.frame;
    m.cycleMs = message.cycleMs;
    m.active = message.active && message.cycleMs > 0;
    m.comment = message.comment;
    m_edited = true;
    const bool nowActive = m.active;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1), {});
    if (nowActive != wasActive)
        emit activeChanged(row, nowActive);
}

void TransmitModel::removeMessage(int row)
{
    if (!validRow(row))
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.removeAt(row);
    endRemoveRows();
    m_edited = true;
}

void TransmitModel::clear()
{
    beginResetModel();
    m_edited = m_edited || !m_rows.isEmpty();
    m_rows.clear();
    endResetModel();
}

void TransmitModel::setActive(int row, bool on)
{
    if (!validRow(row))
        return;
    TxMessage &m = m_rows[row];
    const bool state = on && m.cycleMs > 0;
    if (state == m.active)
        return;
    m.active = state;
    const QModelIndex cell = index(row, ColId);
    emit dataChanged(cell, cell, {Qt::CheckStateRole});
    emit activeChanged(row, state);
}

void TransmitModel::stopAll()
{
    for (int row = 0; row < m_rows.size(); ++row) {
        if (!m_rows.at(row).active)
            continue;
        m_rows[row].active = false;
        const QModelIndex cell = index(row, ColId);
        emit dataChanged(cell, cell, {Qt::CheckStateRole});
        emit activeChanged(row, false);
    }
}

void TransmitModel::incrementCount(int row)
{
    if (!validRow(row))
        return;
    ++m_rows[row].count;
    m_countsDirty = true;
}

void TransmitModel::resetCounts()
{
    for (TxMessage &m : m_rows)
        m.count = 0;
    m_countsDirty = true;
    refresh();
}

void TransmitModel::refresh()
{
    if (!m_countsDirty || m_rows.isEmpty())
        return;
    m_countsDirty = false;
    emit dataChanged(index(0, ColCount), index(int(m_rows.size()) - 1, ColCount),
                     {Qt::DisplayRole});
}

void TransmitModel::setSymbols(std::shared_ptr<const SymbolDatabase> db)
{
    m_db = std::move(db);
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, ColSymbol), index(int(m_rows.size()) - 1, ColSymbol), {});
}

QJsonArray TransmitModel::toJson() const
{
    QJsonArray array;
    for (const TxMessage &m : m_rows) {
        QJsonArray bytes;
        for (quint8 b : m.frame.data)
            bytes.append(int(b));
        QJsonObject object;
        object.insert(QStringLiteral("id"), QString::number(m.frame.id, 16).toUpper());
        object.insert(QStringLiteral("extended"), m.frame.extended);
        object.insert(QStringLiteral("rtr"), m.frame.rtr);
        object.insert(QStringLiteral("dlc"), int(m.frame.dlc));
        object.insert(QStringLiteral("data"), bytes);
        object.insert(QStringLiteral("cycleMs"), m.cycleMs);
        object.insert(QStringLiteral("comment"), m.comment);
        array.append(object);
    }
    return array;
}

void TransmitModel::fromJson(const QJsonArray &array)
{
    beginResetModel();
    m_rows.clear();
    for (const QJsonValue &element : array) {
        const QJsonObject object = element.toObject();
        const QJsonValue idValue = object.value(QStringLiteral("id"));
        quint32 id = 0;
        if (!idValue.isString() || !parseIdentifier(idValue.toString(), &id))
            continue;

        TxMessage m;
        m.frame.id = id;
        m.frame.extended = object.value(QStringLiteral("extended")).toBool(false);
        m.frame.rtr = object.value(QStringLiteral("rtr")).toBool(false);
        m.frame.dlc = quint8(clampedInt(object.value(QStringLiteral("dlc")), 0, 8));
        const QJsonArray bytes = object.value(QStringLiteral("data")).toArray();
        for (int i = 0; i < bytes.size() && i < 8; ++i)
            m.frame.data[i] = quint8(bytes.at(i).toInt(0) & 0xFF);
        m.cycleMs = clampedInt(object.value(QStringLiteral("cycleMs")), 0, std::numeric_limits<int>::max());
        m.comment = object.value(QStringLiteral("comment")).toString();
        m_rows.append(m);
    }
    m_edited = false;
    endResetModel();
}

bool TransmitModel::parseIdentifier(const QString &text, quint32 *id)
{
    // Hexadecimal digits only: no sign, blanks or "0x", which toULongLong takes.
    if (text.isEmpty())
        return false;
    quint64 value = 0;
    for (const QChar c : text) {
        const int digit = SymSyntax::hexDigit(c);
        if (digit < 0)
            return false;
        value = value * 16 + quint64(digit);
        if (value > 0xFFFFFFFFull)
            return false;
    }
    *id = quint32(value);
    return true;
}

QByteArray TransmitModel::fileContents() const
{
    QJsonObject root;
    root.insert(QStringLiteral("format"), QStringLiteral("Busvista transmit list"));
    root.insert(QStringLiteral("version"), 1);
    root.insert(QStringLiteral("messages"), toJson());
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool TransmitModel::saveFile(const QString &path, QString *error)
{
    // Written beside the target and renamed over it only when complete, so a
    // full disk or a lost drive never leaves a truncated list behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = fileContents();
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    m_edited = false;
    return true;
}

bool TransmitModel::parseFile(const QByteArray &bytes, QJsonArray *messages, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        if (error)
            *error = tr("Ungültige Datei: %1").arg(jsonErrorText(parseError, bytes));
        return false;
    }
    if (document.isArray())
        *messages = document.array();
    else
        *messages = document.object().value(QStringLiteral("messages")).toArray();
    return true;
}

bool TransmitModel::loadFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    QJsonArray messages;
    if (!parseFile(bytes, &messages, error))
        return false;
    fromJson(messages);
    return true;
}
