// SdoPanel: the node table (heartbeats, scan results, emergencies) and the
// NMT commands of its menu.
#include "sdopanel.h"

#include "canbackend.h"

#include <QMenu>
#include <QMessageBox>
#include <QSpinBox>
#include <QTableWidget>
#include <QTime>

#include <array>

namespace {

struct NmtCommandName
{
    Nmt::Command command;
    const char *text;
};

const std::array<NmtCommandName, 5> &nmtCommandNames()
{
    static const std::array<NmtCommandName, 5> names = {{
        {Nmt::Start, QT_TRANSLATE_NOOP("SdoPanel", "Start (Operational)")},
        {Nmt::Stop, QT_TRANSLATE_NOOP("SdoPanel", "Stop")},
        {Nmt::PreOperational, QT_TRANSLATE_NOOP("SdoPanel", "Pre-Operational")},
        {Nmt::ResetNode, QT_TRANSLATE_NOOP("SdoPanel", "Reset Node")},
        {Nmt::ResetCommunication, QT_TRANSLATE_NOOP("SdoPanel", "Reset Communication")},
    }};
    return names;
}

} // namespace

void SdoPanel::refreshNodeTable()
{
    const QList<HeartbeatMonitor::Node> nodes = m_monitor.nodes();
    const int previousRows = m_nodeTable->rowCount();
    m_nodeTable->setRowCount(int(nodes.size()));
    const qint64 nowMs = m_monitor.elapsedMs();
    const QPalette pal = palette();
    for (int row = 0; row < nodes.size(); ++row) {
        const HeartbeatMonitor::Node &node = nodes.at(row);
        const bool stale = m_monitor.isStale(node);
        const qint64 ageMs = nowMs - node.lastSeenMs;
        QString age;
        if (ageMs < 1000)
            age = tr("gerade eben");
        else if (ageMs > 59999)
            age = tr("vor %1 min").arg(ageMs / 60000);
        else
            age = tr("vor %1 s").arg(ageMs / 1000);
        QString state;
        if (stale)
            state = tr("keine Meldung mehr");
        else if (node.count > 0)
            state = HeartbeatMonitor::stateText(node.state);
        else if (node.scanned)
            state = tr("gefunden (kein Heartbeat)");
        else
            state = tr("– (nur Emergency)");
        QString device;
        if (node.scanned) {
            device = node.deviceTypeKnown ? NodeScanner::deviceTypeText(node.deviceType) : tr("1000h nicht lesbar");
            if (!node.name.isEmpty())
                device += QStringLiteral(" · ") + node.name;
        }
        QString emergency;
        QString emergencyTip;
        if (!node.emcyHistory.isEmpty()) {
            const Emcy::Message &last = node.emcyHistory.first();
            const QTime now = QTime::currentTime();
            emergency = tr("%1 ×%2, %3")
                            .arg(Emcy::describe(last), QString::number(node.emcyCount),
                                 now.addMSecs(int(last.seenMs - nowMs)).toString(QStringLiteral("HH:mm:ss")));
            QStringList lines;
            lines << tr("%1 Emergency-Meldungen, die letzten %2:").arg(node.emcyCount).arg(node.emcyHistory.size());
            for (const Emcy::Message &message : node.emcyHistory)
                lines << now.addMSecs(int(message.seenMs - nowMs)).toString(QStringLiteral("HH:mm:ss.zzz"))
                             + QStringLiteral("  ") + Emcy::describe(message);
            emergencyTip = lines.join(QLatin1Char('\n'));
        }
        const QStringList cells = {
            QStringLiteral("%1 (%2h)").arg(node.nodeId, 3).arg(hex2(unsigned(node.nodeId))),
            state,
            node.intervalUs > 0 ? tr("%1 ms").arg((node.intervalUs + 500) / 1000) : QString(),
            age,
            device,
            emergency,
        };
        const QColor color = pal.color(stale ? QPalette::Disabled : QPalette::Normal, QPalette::Text);
        for (int column = 0; column < cells.size(); ++column) {
            QTableWidgetItem *item = m_nodeTable->item(row, column);
            if (!item) {
                item = new QTableWidgetItem;
                m_nodeTable->setItem(row, column, item);
            }
            item->setText(cells.at(column));
            item->setForeground(color);
        }
        QTableWidgetItem *first = m_nodeTable->item(row, 0);
        first->setData(NodeRole, node.nodeId);
        first->setToolTip(tr("%1 Heartbeats empfangen, letzter Zustand %2")
                              .arg(node.count)
                              .arg(node.count > 0 ? HeartbeatMonitor::stateText(node.state) : tr("–")));
        m_nodeTable->item(row, 5)->setToolTip(emergencyTip);
        if (!node.emcyHistory.isEmpty() && node.emcyHistory.first().code != 0)
            m_nodeTable->item(row, 5)->setForeground(QColor(QString::fromLatin1(ErrorColor)));
    }
    if (previousRows != m_nodeTable->rowCount() || m_nodesDirty)
        selectNodeRow(m_nodeSpin->value());
    m_nodesDirty = false;
}

void SdoPanel::selectNodeRow(int node)
{
    const QSignalBlocker blocker(m_nodeTable);
    for (int row = 0; row < m_nodeTable->rowCount(); ++row) {
        const QTableWidgetItem *item = m_nodeTable->item(row, 0);
        if (item && item->data(NodeRole).toInt() == node) {
            m_nodeTable->selectRow(row);
            return;
        }
    }
    m_nodeTable->clearSelection();
}

bool SdoPanel::requestNmt(Nmt::Command command, int node)
{
    if (node == 0) {
        QString name;
        for (const auto &entry : nmtCommandNames()) {
            if (entry.command == command)
                name = tr(entry.text);
        }
        const QString title = tr("NMT an alle Knoten");
        const QString text = tr("\"%1\" an alle Knoten des Busses senden?\n"
                                "Das wirkt sofort auf jedes Gerät der Anlage.").arg(name);
        const bool yes = m_confirm ? m_confirm(title, text)
                                   : QMessageBox::question(this, title, text, QMessageBox::Yes | QMessageBox::No,
                                                           QMessageBox::No) == QMessageBox::Yes;
        if (!yes) {
            setStatus(tr("NMT-Befehl an alle Knoten nicht gesendet."), QString());
            return false;
        }
    }
    return sendNmt(command, node);
}

bool SdoPanel::sendNmt(Nmt::Command command, int node)
{
    QString error;
    if (!m_backend || !m_backend->isOpen()) {
        error = tr("Nicht verbunden.");
    } else if (m_backend->write(Nmt::commandFrame(command, node), &error)) {
        setStatus(node == 0 ? tr("NMT-Befehl an alle Knoten gesendet.")
                            : tr("NMT-Befehl an Knoten %1 gesendet.").arg(node),
                  QString());
        return true;
    }
    setStatus(error.isEmpty() ? tr("NMT-Befehl konnte nicht gesendet werden.")
                              : tr("NMT-Befehl konnte nicht gesendet werden: %1").arg(error),
              QString::fromLatin1(ErrorColor));
    return false;
}

void SdoPanel::showNodeMenu(const QPoint &pos)
{
    const QTableWidgetItem *item = m_nodeTable->itemAt(pos);
    const int node = item ? m_nodeTable->item(item->row(), 0)->data(NodeRole).toInt() : 0;
    const auto &commands = nmtCommandNames();
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("nmtMenu"));
    const bool canSend = m_backend && m_backend->isOpen();
    auto addCommands = [&](QMenu *target, int targetNode) {
        for (const auto &entry : commands) {
            QAction *action = target->addAction(tr(entry.text));
            action->setEnabled(canSend);
            const Nmt::Command command = entry.command;
            connect(action, &QAction::triggered, this, [this, command, targetNode] { requestNmt(command, targetNode); });
        }
    };
    if (node > 0) {
        menu.addSection(tr("NMT an Knoten %1").arg(node));
        addCommands(&menu, node);
    }
    menu.addSection(tr("NMT an alle Knoten"));
    addCommands(&menu, 0);
    menu.exec(m_nodeTable->viewport()->mapToGlobal(pos));
}
