#include "plotlegend.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QFontDatabase>
#include <QHeaderView>
#include <QMenu>
#include <QPalette>
#include <QStyle>
#include <QTableWidget>

#include <algorithm>
#include <iterator>

namespace {

QTableWidgetItem *cell(QTableWidget *table, int row, int column)
{
    QTableWidgetItem *item = table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        table->setItem(row, column, item);
    }
    return item;
}

// Widens a column that is narrower than a text it shows (the stretched
// last one takes the rest anyway); `extra` is room beside the text.
void fitColumn(QTableWidget *table, int column, const QString &text, int extra = 0)
{
    if (column + 1 >= table->columnCount())
        return;
    const int needed = QFontMetrics(table->font()).horizontalAdvance(text) + 12 + extra;
    if (table->columnWidth(column) < needed)
        table->setColumnWidth(column, needed);
}

void setText(QTableWidget *table, int row, int column, const QString &text)
{
    QTableWidgetItem *item = cell(table, row, column);
    if (item->text() != text) {
        item->setText(text);
        fitColumn(table, column, text);
    }
}

void setToolTip(QTableWidget *table, int row, int column, const QString &tip)
{
    QTableWidgetItem *item = cell(table, row, column);
    if (item->toolTip() != tip)
        item->setToolTip(tip);
}

} // namespace

PlotLegend::PlotLegend(QTableWidget *table, QAction *removeAction, QObject *parent)
    : QObject(parent)
    , m_table(table)
    , m_removeAction(removeAction)
{
    table->setColumnCount(ColumnCount);
    table->setHorizontalHeaderLabels({QString(), tr("Signal"), tr("Achse"), tr("Einheit"), tr("Wert"), tr("Min"),
                                      tr("Max"), tr("Mittel"), tr("Anzahl")});
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    table->setFont(fixed);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(QFontMetrics(fixed).height() + 6);
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->horizontalHeader()->setStretchLastSection(true);
    // Axis and unit right after the name; every column as wide as its
    // texts (see fitColumn), so that the figures fit beside the docks.
    const QFontMetrics metrics(fixed);
    const int figures = metrics.horizontalAdvance(QStringLiteral("-99999.99")) + 12;
    const int widths[] = {24, 160, 80, 60, figures, figures, figures, figures};
    for (int column = 0; column < int(std::size(widths)); ++column)
        table->setColumnWidth(column, std::max(widths[column], table->horizontalHeader()->sectionSizeHint(column)));
    setStatisticsBetweenCursors(false);

    table->addAction(removeAction);
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        const int row = m_table->rowAt(at.y());
        if (row < 0)
            return;
        m_table->setCurrentCell(row, ColName);
        QMenu *menu = createMenu(row, m_table);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_table->viewport()->mapToGlobal(at));
    });
    connect(table, &QTableWidget::cellChanged, this, &PlotLegend::onItemChanged);
    connect(table, &QTableWidget::cellDoubleClicked, this, [this](int row, int column) {
        if (column == ColSwatch)
            emit colorRequested(row);
    });
}

void PlotLegend::setRows(const QList<Row> &rows, bool secondAxis)
{
    m_rows = rows;
    m_secondAxis = secondAxis;
    m_filling = true;
    QTableWidget *table = m_table;
    table->setRowCount(int(rows.size()));
    while (m_axisCombos.size() > rows.size())
        m_axisCombos.takeLast();
    for (int i = 0; i < rows.size(); ++i) {
        const Row &row = rows.at(i);
        QTableWidgetItem *swatch = cell(table, i, ColSwatch);
        swatch->setBackground(row.color);
        swatch->setToolTip(tr("Doppelklick: Farbe wählen"));

        QTableWidgetItem *name = cell(table, i, ColName);
        name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        if (name->text() != row.name) {
            name->setText(row.name);
            // The check box stands before the name.
            fitColumn(table, ColName, row.name, table->style()->pixelMetric(QStyle::PM_IndicatorWidth) + 8);
        }
        name->setForeground(
            table->palette().color(row.resolved ? QPalette::Normal : QPalette::Disabled, QPalette::Text));
        name->setCheckState(row.style.shown ? Qt::Checked : Qt::Unchecked);
        setText(table, i, ColUnit, row.unit);

        if (i >= m_axisCombos.size() || !m_axisCombos.at(i)) {
            auto *combo = new QComboBox(table);
            combo->addItem(tr("links"));
            combo->addItem(tr("rechts"));
            connect(combo, &QComboBox::activated, this, [this, combo](int axis) {
                const int index = int(m_axisCombos.indexOf(combo));
                if (index >= 0)
                    emit axisChosen(index, axis);
            });
            table->setCellWidget(i, ColAxis, combo);
            if (i < m_axisCombos.size())
                m_axisCombos[i] = combo;
            else
                m_axisCombos.append(combo);
        }
        QComboBox *combo = m_axisCombos.at(i);
        const QSignalBlocker blocker(combo);
        combo->setCurrentIndex(row.axis);
        combo->setEnabled(secondAxis);
    }
    m_filling = false;
}

void PlotLegend::setValues(int row, const Values &values)
{
    if (row < 0 || row >= m_table->rowCount())
        return;
    m_filling = true;
    setText(m_table, row, ColValue, values.value);
    setText(m_table, row, ColMin, values.min);
    setText(m_table, row, ColMax, values.max);
    setText(m_table, row, ColMean, values.mean);
    setText(m_table, row, ColCount, values.count);
    setToolTip(m_table, row, ColName, values.nameTip);
    setToolTip(m_table, row, ColMin, values.rangeTip);
    setToolTip(m_table, row, ColMax, values.rangeTip);
    m_filling = false;
}

void PlotLegend::setStatisticsBetweenCursors(bool between)
{
    if (between == m_between && m_scopeShown)
        return;
    m_between = between;
    m_scopeShown = true;
    const QString scope = between ? tr("zwischen Cursor A und B") : tr("im gezeigten Zeitfenster");
    const struct
    {
        Column column;
        const char *text;
    } tips[] = {{ColMin, "Kleinster Wert %1"},
                {ColMax, "Größter Wert %1"},
                {ColMean, "Mittelwert der Werte %1"},
                {ColCount, "Anzahl der Werte %1"}};
    for (const auto &tip : tips) {
        if (QTableWidgetItem *header = m_table->horizontalHeaderItem(tip.column))
            header->setToolTip(tr(tip.text).arg(scope));
    }
    if (QTableWidgetItem *header = m_table->horizontalHeaderItem(ColValue))
        header->setToolTip(tr("Letzter aufgezeichneter Wert"));
}

QMenu *PlotLegend::createMenu(int row, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    if (row < 0 || row >= m_rows.size()) {
        menu->addAction(m_removeAction);
        return menu;
    }
    const Row &current = m_rows.at(row);

    QAction *shown = menu->addAction(tr("Anzeigen"));
    shown->setCheckable(true);
    shown->setChecked(current.style.shown);
    connect(shown, &QAction::toggled, this, [this, row](bool on) { emit shownChanged(row, on); });
    menu->addAction(tr("Farbe…"), this, [this, row] { emit colorRequested(row); });

    QMenu *modes = menu->addMenu(tr("Darstellung"));
    auto *modeGroup = new QActionGroup(modes);
    for (int mode = PlotStyle::Auto; mode <= PlotStyle::Points; ++mode) {
        QString text = PlotStyle::modeName(PlotStyle::Mode(mode));
        if (mode == PlotStyle::Auto) {
            text = tr("%1 (%2)").arg(text, PlotStyle::modeName(current.prefersSteps ? PlotStyle::Step
                                                                                     : PlotStyle::Line));
        }
        QAction *action = modes->addAction(text);
        action->setCheckable(true);
        action->setChecked(current.style.mode == mode);
        action->setData(mode);
        modeGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, row, mode] { emit modeChosen(row, PlotStyle::Mode(mode)); });
    }

    QMenu *axes = menu->addMenu(tr("Achse"));
    auto *axisGroup = new QActionGroup(axes);
    const QString axisTexts[] = {tr("links"), tr("rechts")};
    for (int axis = 0; axis < 2; ++axis) {
        QAction *action = axes->addAction(axisTexts[axis]);
        action->setCheckable(true);
        action->setChecked(current.axis == axis);
        axisGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, row, axis] { emit axisChosen(row, axis); });
    }

    menu->addSeparator();
    menu->addAction(m_removeAction);
    return menu;
}

void PlotLegend::onItemChanged(int row, int column)
{
    if (m_filling || column != ColName || row < 0 || row >= m_rows.size())
        return;
    const bool shown = m_table->item(row, column)->checkState() == Qt::Checked;
    if (shown != m_rows.at(row).style.shown) {
        m_rows[row].style.shown = shown;
        emit shownChanged(row, shown);
    }
}
