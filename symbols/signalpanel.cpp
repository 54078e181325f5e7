#include "signalpanel.h"
#include "ui_signalpanel.h"

#include "frametext.h"
#include "symbolfile.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QHeaderView>
#include <QMenu>

#include <algorithm>

namespace {

bool sameFrame(const CanFrame &a, const CanFrame &b)
{
    return a.id == b.id && a.extended == b.extended && a.dlc == b.dlc && a.timestampUs == b.timestampUs
        && std::equal(std::begin(a.data), std::end(a.data), std::begin(b.data));
}

} // namespace

SignalPanel::SignalPanel(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::SignalPanel)
{
    ui->setupUi(this);
    const QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    ui->table->setFont(font);
    ui->table->verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 6);
    ui->table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ui->table->setColumnWidth(0, 150);
    ui->table->setColumnWidth(1, 150);
    ui->table->setColumnWidth(2, 50);
    connect(ui->table, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { requestPlot(row); });
    connect(ui->table, &QWidget::customContextMenuRequested, this, &SignalPanel::showContextMenu);
    showFrame(nullptr);
}

SignalPanel::~SignalPanel() = default;

void SignalPanel::setSymbols(std::shared_ptr<const SymbolDatabase> symbols)
{
    m_symbols = std::move(symbols);
    m_lastValid = false;
    // The file's name, whatever its format, also while no frame is shown.
    ui->titleLabel->setToolTip(m_symbols ? tr("Symboldatei: %1").arg(QFileInfo(m_symbols->filePath).fileName())
                                         : QString());
    showFrame(nullptr);
}

void SignalPanel::showFrame(const CanFrame *frame)
{
    if (!frame) {
        m_lastValid = false;
        ui->table->setRowCount(0);
        ui->titleLabel->setText(m_symbols ? tr("Keine Nachricht ausgewählt")
                                          : tr("Keine Symboldatei geladen (Symboldatei → Laden…)"));
        return;
    }
    if (m_lastValid && sameFrame(m_lastFrame, *frame))
        return;
    m_lastFrame = *frame;
    m_lastValid = true;

    const QString idText = frame->status ? QStringLiteral("Status") : FrameText::identifier(*frame);
    const SymMessage *message = m_symbols ? m_symbols->find(*frame) : nullptr;
    if (!message) {
        ui->table->setRowCount(0);
        ui->titleLabel->setText(tr("%1: nicht in der Symboldatei definiert").arg(idText));
        return;
    }
    ui->titleLabel->setText(QStringLiteral("<b>%1</b> &nbsp; %2").arg(message->displayName().toHtmlEscaped(), idText));
    m_current = {message->name, message->muxName, QString()};

    if (frame->rtr) {
        ui->table->setRowCount(0);
        return;
    }
    const QList<SymSignalValue> values = m_symbols->decode(*message, *frame);
    ui->table->setRowCount(int(values.size()));
    for (int row = 0; row < values.size(); ++row) {
        const SymSignalValue &value = values.at(row);
        setCell(row, 0, value.name);
        setCell(row, 1, value.text);
        setCell(row, 2, value.unit);
        setCell(row, 3, value.rawText);
        // A signal beyond a short frame says why over its whole row.
        for (int column = 0; column < 4; ++column)
            ui->table->item(row, column)->setData(Qt::ToolTipRole,
                                                  value.missing.isEmpty() ? QVariant() : QVariant(value.missing));
    }
}

void SignalPanel::setCell(int row, int column, const QString &text)
{
    if (QTableWidgetItem *item = ui->table->item(row, column))
        item->setText(text);
    else
        ui->table->setItem(row, column, new QTableWidgetItem(text));
}

void SignalPanel::requestPlot(int row)
{
    const QTableWidgetItem *item = ui->table->item(row, 0);
    if (!item || m_current.message.isEmpty())
        return;
    emit plotRequested({m_current.message, m_current.mux, item->text()});
}

void SignalPanel::showContextMenu(const QPoint &pos)
{
    const int row = ui->table->rowAt(pos.y());
    if (row < 0)
        return;
    QMenu menu(this);
    QAction *plot = menu.addAction(tr("Im Plotter anzeigen"));
    if (menu.exec(ui->table->viewport()->mapToGlobal(pos)) == plot)
        requestPlot(row);
}
