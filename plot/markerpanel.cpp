#include "markerpanel.h"
#include "ui_markerpanel.h"

#include <QFontDatabase>
#include <QHeaderView>

namespace {

QTableWidgetItem *cell(QTableWidget *table, int row, int column)
{
    QTableWidgetItem *item = table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        table->setItem(row, column, item);
    }
    return item;
}

void setText(QTableWidgetItem *item, const QString &text)
{
    if (item->text() != text)
        item->setText(text);
}

} // namespace

MarkerPanel::MarkerPanel(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::MarkerPanel)
{
    ui->setupUi(this);
    const QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    ui->table->setFont(font);
    ui->table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ui->table->verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 6);
    QHeaderView *header = ui->table->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionResizeMode(0, QHeaderView::Fixed);
    ui->table->setColumnWidth(0, 24);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    setMarker(false, 0.0, {});
}

MarkerPanel::~MarkerPanel() = default;

void MarkerPanel::setMarker(bool enabled, double time, const QList<MarkerRow> &rows)
{
    QTableWidget *table = ui->table;
    if (!enabled) {
        ui->titleLabel->setText(
            tr("Marker aus – im Plotter den Haken „Marker“ setzen, dann Klick oder Ziehen im Diagramm."));
        table->setRowCount(0);
        return;
    }
    const QString title = tr("<b>Marker bei t = %1 s</b>").arg(time, 0, 'f', 3);
    if (ui->titleLabel->text() != title)
        ui->titleLabel->setText(title);
    if (table->rowCount() != rows.size())
        table->setRowCount(int(rows.size()));
    for (int i = 0; i < rows.size(); ++i) {
        const MarkerRow &row = rows.at(i);
        QTableWidgetItem *swatch = cell(table, i, 0);
        if (swatch->background().color() != row.color)
            swatch->setBackground(row.color);
        setText(cell(table, i, 1), row.rightAxis ? tr("%1  (rechts)").arg(row.name) : row.name);
        setText(cell(table, i, 2), row.unit.isEmpty() ? row.value : row.value + QLatin1Char(' ') + row.unit);
    }
}
