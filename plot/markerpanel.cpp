#include "markerpanel.h"
#include "ui_markerpanel.h"

#include <QFontDatabase>
#include <QHeaderView>

#include <algorithm>
#include <cmath>

namespace {

enum Column { ColSwatch, ColName, ColValue, ColValueB, ColDelta };

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

QString withUnit(const QString &value, const QString &unit)
{
    return unit.isEmpty() ? value : value + QLatin1Char(' ') + unit;
}

} // namespace

MarkerPanel::MarkerPanel(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::MarkerPanel)
{
    ui->setupUi(this);
    const QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    QTableWidget *table = ui->table;
    table->setFont(font);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 6);
    // The name takes what the values leave and loses letters in its middle,
    // so that the end with "(rechts)" stays readable in a narrow dock.
    table->setTextElideMode(Qt::ElideMiddle);
    QHeaderView *header = table->horizontalHeader();
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setMinimumSectionSize(24);
    header->setSectionResizeMode(ColSwatch, QHeaderView::Fixed);
    table->setColumnWidth(ColSwatch, 24);
    header->setSectionResizeMode(ColName, QHeaderView::Stretch);
    for (int column : {ColValue, ColValueB, ColDelta})
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    table->setColumnHidden(ColValueB, true);
    table->setColumnHidden(ColDelta, true);
    setMarker(false, 0.0, {});
}

MarkerPanel::~MarkerPanel() = default;

QString MarkerPanel::timeText(double seconds)
{
    QString text = QString::number(seconds, 'f', 6);
    while (text.endsWith(QLatin1Char('0')) && text.indexOf(QLatin1Char('.')) < text.size() - 4)
        text.chop(1);
    return text;
}

QString MarkerPanel::frequencyText(double deltaSeconds)
{
    if (deltaSeconds == 0.0 || !std::isfinite(deltaSeconds))
        return QStringLiteral("–");
    // Six significant digits, large values in full.
    const double hertz = 1.0 / std::fabs(deltaSeconds);
    if (!std::isfinite(hertz))
        return QStringLiteral("–");
    const int decimals = std::clamp(5 - int(std::floor(std::log10(hertz))), 0, 12);
    QString text = QString::number(hertz, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text + QStringLiteral(" Hz");
}

void MarkerPanel::setMarker(bool enabled, double time, const QList<MarkerRow> &rows)
{
    MarkerState state;
    state.enabled = enabled;
    state.time = time;
    state.rows = rows;
    setState(state);
}

void MarkerPanel::setState(const MarkerState &state)
{
    QTableWidget *table = ui->table;
    if (!state.enabled) {
        ui->titleLabel->setText(
            tr("Marker aus – im Plotter den Haken „Marker“ setzen, dann Klick oder Ziehen im Diagramm."));
        table->setRowCount(0);
        return;
    }
    const bool second = state.second;
    QString title;
    if (second) {
        const double delta = state.timeB - state.time;
        title = tr("<b>A: t = %1 s &nbsp; B: t = %2 s</b><br>Δt = %3 s &nbsp; 1/Δt = %4")
                    .arg(timeText(state.time), timeText(state.timeB), timeText(delta), frequencyText(delta));
    } else {
        title = tr("<b>Marker bei t = %1 s</b>").arg(state.time, 0, 'f', 3);
    }
    if (ui->titleLabel->text() != title)
        ui->titleLabel->setText(title);
    if (second != m_second || table->horizontalHeaderItem(ColValue)->text().isEmpty()) {
        m_second = second;
        table->setHorizontalHeaderLabels({QString(), tr("Signal"), second ? tr("A [Einheit]") : tr("Wert [Einheit]"),
                                          tr("B"), tr("Δ (B − A)")});
        table->setColumnHidden(ColValueB, !second);
        table->setColumnHidden(ColDelta, !second);
    }

    const QList<MarkerRow> &rows = state.rows;
    if (table->rowCount() != rows.size())
        table->setRowCount(int(rows.size()));
    for (int i = 0; i < rows.size(); ++i) {
        const MarkerRow &row = rows.at(i);
        QTableWidgetItem *swatch = cell(table, i, ColSwatch);
        if (swatch->background().color() != row.color)
            swatch->setBackground(row.color);
        setText(cell(table, i, ColName), row.rightAxis ? tr("%1  (rechts)").arg(row.name) : row.name);
        setText(cell(table, i, ColValue), withUnit(row.value, row.unit));
        if (second) {
            setText(cell(table, i, ColValueB), withUnit(row.valueB, row.unit));
            setText(cell(table, i, ColDelta), withUnit(row.delta, row.unit));
        }
    }
}
