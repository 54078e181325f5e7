// SdoPanel: the EDS/DCF files of the nodes, the object tree and "Alle lesen".
#include "sdopanel.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSettings>
#include <QSpinBox>
#include <QTreeWidget>

namespace {

enum TreeRole {
    KeyRole = Qt::UserRole + 10, // (index << 8) | sub of an entry row
};

} // namespace

const EdsFile *SdoPanel::eds(int node) const
{
    return m_eds.value(node).get();
}

const EdsFile::Entry *SdoPanel::edsEntry(int node, quint16 index, quint8 sub) const
{
    const EdsFile *file = eds(node);
    return file ? file->find(index, sub) : nullptr;
}

bool SdoPanel::loadEds(int node, const QString &path, QString *error)
{
    auto file = std::make_shared<EdsFile>();
    QStringList warnings;
    if (!file->load(path, node, error, &warnings)) {
        setStatus(error ? *error : QString(), QString::fromLatin1(ErrorColor));
        return false;
    }
    m_eds.insert(node, file);
    const QString text = tr("EDS %1 für Knoten %2 geladen: %3 Einträge")
                             .arg(QFileInfo(path).fileName())
                             .arg(node)
                             .arg(file->entryCount());
    setStatus(warnings.isEmpty() ? text + QLatin1Char('.') : tr("%1, %n Warnung(en): %2", nullptr, int(warnings.size()))
                                                                  .arg(text, warnings.first()),
              QString::fromLatin1(warnings.isEmpty() ? OkColor : ErrorColor));
    if (node == m_nodeSpin->value()) {
        fillTree();
        showEdsObject();
    }
    updateUi();
    return true;
}

void SdoPanel::chooseEds()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("EDS für Knoten %1 laden").arg(m_nodeSpin->value()),
                                                      QString(), tr("EDS/DCF-Dateien (*.eds *.dcf);;Alle Dateien (*)"));
    if (!path.isEmpty())
        loadEds(m_nodeSpin->value(), path, nullptr);
}

void SdoPanel::chooseDcf()
{
    const EdsFile *file = eds(m_nodeSpin->value());
    if (!file)
        return;
    const QString suggestion = QFileInfo(file->fileName()).completeBaseName()
                               + QStringLiteral("_knoten%1.dcf").arg(m_nodeSpin->value());
    const QString path = QFileDialog::getSaveFileName(this, tr("Als DCF speichern"), suggestion, tr("DCF-Dateien (*.dcf)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!saveDcf(path, &error))
        setStatus(error, QString::fromLatin1(ErrorColor));
}

bool SdoPanel::saveDcf(const QString &path, QString *error)
{
    const int node = m_nodeSpin->value();
    const EdsFile *file = eds(node);
    if (!file) {
        if (error)
            *error = tr("Für Knoten %1 ist keine EDS geladen.").arg(node);
        return false;
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(file->toDcf(m_values.value(node), node)) < 0 || !out.commit()) {
        if (error)
            *error = tr("%1 kann nicht geschrieben werden: %2").arg(path, out.errorString());
        return false;
    }
    setStatus(tr("DCF gespeichert: %1 (%2 Werte gelesen).").arg(path).arg(m_values.value(node).size()),
              QString::fromLatin1(OkColor));
    return true;
}

void SdoPanel::fillTree()
{
    const int node = m_nodeSpin->value();
    const EdsFile *file = eds(node);
    m_odTree->setVisible(file != nullptr);
    if (!file) {
        m_odTree->clear();
        m_edsLabel->setText(tr("keine EDS"));
        return;
    }
    m_edsLabel->setText(tr("%1 (%2)").arg(QFileInfo(file->fileName()).fileName(), file->productName()));
    const QMap<quint32, QByteArray> values = m_values.value(node);
    // Keep the open branches and the scroll position over a refill.
    QSet<int> expanded;
    for (int i = 0; i < m_odTree->topLevelItemCount(); ++i) {
        if (m_odTree->topLevelItem(i)->isExpanded())
            expanded.insert(m_odTree->topLevelItem(i)->data(0, KeyRole).toInt() >> 8);
    }
    const bool sameFile = m_odTree->property("edsFile").value<quintptr>() == quintptr(file);
    const auto entryItem = [&](QTreeWidgetItem *item, const EdsFile::Entry &entry, bool withName) {
        const quint32 key = quint32(entry.index) << 8 | entry.subIndex;
        item->setData(0, KeyRole, int(key));
        item->setText(0, withName ? hex4(entry.index) : QStringLiteral("  sub %1").arg(hex2(entry.subIndex)));
        item->setText(1, entry.name);
        item->setText(2, EdsFile::typeCodeName(entry.dataType));
        item->setText(3, entry.accessType);
        item->setText(4, entry.defaultValue);
        const auto value = values.constFind(key);
        item->setText(5, value == values.cend() ? QString() : EdsFile::valueText(entry, *value));
        item->setToolTip(5, value == values.cend() ? QString() : Sdo::toHex(*value));
    };
    if (sameFile && m_odTree->topLevelItemCount() == file->objects().size()) {
        // Only the values change: update in place.
        int i = 0;
        for (const EdsFile::Object &object : file->objects()) {
            QTreeWidgetItem *top = m_odTree->topLevelItem(i++);
            if (object.entries.size() == 1 && object.objectType != 8 && object.objectType != 9) {
                entryItem(top, object.entries.first(), true);
                continue;
            }
            for (int c = 0; c < top->childCount() && c < object.entries.size(); ++c)
                entryItem(top->child(c), object.entries.at(c), false);
        }
        return;
    }
    m_odTree->clear();
    m_odTree->setProperty("edsFile", QVariant::fromValue(quintptr(file)));
    for (const EdsFile::Object &object : file->objects()) {
        auto *top = new QTreeWidgetItem(m_odTree);
        if (object.entries.size() == 1 && object.objectType != 8 && object.objectType != 9) {
            entryItem(top, object.entries.first(), true);
            continue;
        }
        top->setText(0, hex4(object.index));
        top->setText(1, object.name);
        top->setText(2, object.objectType == 8 ? QStringLiteral("ARRAY") : QStringLiteral("RECORD"));
        top->setData(0, KeyRole, int(quint32(object.index) << 8));
        top->setFirstColumnSpanned(false);
        for (const EdsFile::Entry &entry : object.entries)
            entryItem(new QTreeWidgetItem(top), entry, false);
        top->setExpanded(expanded.contains(object.index));
    }
}

void SdoPanel::onTreeItemClicked(QTreeWidgetItem *item)
{
    if (!item || (item->childCount() > 0 && item->parent() == nullptr && item->text(3).isEmpty()))
        return; // an array or record as a whole has no value
    const quint32 key = quint32(item->data(0, KeyRole).toInt());
    const EdsFile::Entry *entry = edsEntry(m_nodeSpin->value(), quint16(key >> 8), quint8(key));
    if (!entry)
        return;
    m_indexEdit->setText(hex4(entry->index));
    m_subEdit->setText(hex2(entry->subIndex));
    showEdsObject(); // also when the address did not change
}

void SdoPanel::readAll()
{
    const int node = m_nodeSpin->value();
    const EdsFile *file = eds(node);
    if (!file || !m_client || !m_readAllButton->isEnabled())
        return;
    m_readAllQueue.clear();
    for (const EdsFile::Object &object : file->objects()) {
        for (const EdsFile::Entry &entry : object.entries) {
            if (EdsFile::isReadable(entry))
                m_readAllQueue.append(quint32(entry.index) << 8 | entry.subIndex);
        }
    }
    m_readAllNode = node;
    m_readAllTotal = int(m_readAllQueue.size());
    readNextOfAll();
}

void SdoPanel::readNextOfAll()
{
    while (!m_readAllQueue.isEmpty()) {
        const quint32 key = m_readAllQueue.takeFirst();
        const int done = m_readAllTotal - int(m_readAllQueue.size());
        QString error;
        if (m_client && m_client->upload(m_readAllNode, quint16(key >> 8), quint8(key), &error)) {
            m_progressBar->setRange(0, m_readAllTotal);
            m_progressBar->setValue(done - 1);
            m_progressBar->show();
            setStatus(tr("Lese alle Einträge von Knoten %1 … %2 von %3").arg(m_readAllNode).arg(done).arg(m_readAllTotal),
                      QString());
            updateUi();
            return;
        }
        // The bus is gone: the rest cannot be read either.
        m_readAllQueue.clear();
        m_readAllTotal = 0;
        m_progressBar->hide();
        setStatus(error, QString::fromLatin1(ErrorColor));
        updateUi();
        return;
    }
    m_progressBar->hide();
    int present = 0;
    if (const EdsFile *file = eds(m_readAllNode)) {
        const QMap<quint32, QByteArray> values = m_values.value(m_readAllNode);
        for (const EdsFile::Object &object : file->objects()) {
            for (const EdsFile::Entry &entry : object.entries)
                present += values.contains(quint32(entry.index) << 8 | entry.subIndex);
        }
    }
    setStatus(tr("Alle Einträge gelesen: %1 von %2 Werten vorhanden.").arg(present).arg(m_readAllTotal),
              QString::fromLatin1(OkColor));
    m_readAllTotal = 0;
    updateUi();
}
