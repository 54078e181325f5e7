// Window layout: table columns sized to their content on the first show, and
// window geometry, dock state and column widths kept across restarts.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "symbolfile.h"

#include <QDockWidget>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLayout>
#include <QResizeEvent>
#include <QLabel>
#include <QSettings>
#include <QStatusBar>
#include <QShowEvent>
#include <QStyle>
#include <QTableView>

namespace {

// The widest usual content of a data byte column and an identifier.
const QString dataSample = QStringLiteral("00 00 00 00 00 00 00 00");
const QString idSample = QStringLiteral("18FEF100h");
const QString kindSample = QStringLiteral("Ext RTR");

QString columnsKey(const QTableView *view)
{
    return QStringLiteral("window/columns/") + view->objectName();
}

} // namespace

QList<QTableView *> MainWindow::layoutTables() const
{
    return {ui->rxView, ui->txView, ui->traceView};
}

// Widest of header, current rows and a typical value. The last column is
// stretched and takes the rest (the signals, the comment).
void MainWindow::fitColumns(QTableView *view, const QStringList &samples, int boldColumn)
{
    QHeaderView *header = view->horizontalHeader();
    const QFontMetrics metrics(view->font());
    QFont bold = view->font();
    bold.setWeight(QFont::Bold);
    const QFontMetrics boldMetrics(bold);
    // The item delegate's text margin on both sides, and a little air.
    const int padding = 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1) + 2;
    for (int column = 0; column + 1 < header->count(); ++column) {
        // Public in the base class, protected in QTableView.
        const int rows = static_cast<const QAbstractItemView *>(view)->sizeHintForColumn(column);
        int width = qMax(header->sectionSizeHint(column), rows);
        if (column < samples.size() && !samples.at(column).isEmpty()) {
            const QString &sample = samples.at(column);
            int text = metrics.horizontalAdvance(sample);
            if (column == boldColumn) {
                // Measured as the data delegate paints: group by group, each
                // rounded on its own, the last one possibly bold.
                const QStringList groups = sample.split(QLatin1Char(' '));
                text = 1 + boldMetrics.horizontalAdvance(groups.last());
                for (int i = 0; i + 1 < groups.size(); ++i)
                    text += metrics.horizontalAdvance(groups.at(i) + QLatin1Char(' '));
            }
            width = qMax(width, text + padding);
        }
        view->setColumnWidth(column, width);
    }
}

void MainWindow::fitAllColumns()
{
    // The symbol column gets the longest symbol name, within reason; without
    // symbols it is hidden now but may be shown later (a file given on the
    // command line is loaded after the first show).
    QString symbol = QStringLiteral("Symbolname");
    if (m_symbols) {
        for (const SymMessage &message : m_symbols->messages) {
            const QString name = message.displayName().left(20);
            if (name.size() > symbol.size())
                symbol = name;
        }
    }
    // Changed bytes of the receive list are painted bold, so wider.
    if (!m_restoredColumns.contains(ui->rxView))
        fitColumns(ui->rxView, {idSample, symbol, kindSample, QStringLiteral("8"), dataSample,
                                QStringLiteral("99999.9"), QStringLiteral("9999999")}, 4);
    if (!m_restoredColumns.contains(ui->txView))
        fitColumns(ui->txView, {idSample, symbol, kindSample, QStringLiteral("8"), dataSample,
                                QStringLiteral("3600000"), QStringLiteral("9999999")});
    if (!m_restoredColumns.contains(ui->traceView))
        fitColumns(ui->traceView, {QStringLiteral("999999"), QStringLiteral("99999.999"), QStringLiteral("Rx"),
                                   idSample, symbol, kindSample, QStringLiteral("8"), dataSample});
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_layoutFitted && !event->spontaneous()) {
        m_layoutFitted = true;
        for (QDockWidget *dock : layoutDocks()) {
            dock->installEventFilter(this);
            // Another dock of the group brought forward may need more room.
            connect(dock, &QDockWidget::visibilityChanged, this, [this, dock](bool visible) {
                if (!visible)
                    return;
                m_frontDock = dock;
                QMetaObject::invokeMethod(this, &MainWindow::applyDockWidth, Qt::QueuedConnection);
            });
        }
        applyDockWidth();
        fitAllColumns();
    }
}

QList<QDockWidget *> MainWindow::layoutDocks() const
{
    return {ui->signalDock, ui->sdoDock, ui->markerDock};
}

void MainWindow::applyDockWidth()
{
    m_seenWindowWidth = width();
    // The dock last brought forward, else the first one in view.
    QDockWidget *shown = m_frontDock && m_frontDock->isVisible() ? m_frontDock.data() : nullptr;
    for (QDockWidget *dock : layoutDocks()) {
        if (shown)
            break;
        if (dock->isVisible() && !dock->isFloating() && dockWidgetArea(dock) != Qt::NoDockWidgetArea) {
            shown = dock;
            break;
        }
    }
    if (!shown)
        return;
    // The lists need the room more than the panels; a panel's minimum
    // width still wins over the quarter.
    int wanted = m_dockWidth > 0 ? std::min(m_dockWidth, width() - 200) : width() / 4;
    // The docks share one width; the SDO panel needs more than the signals.
    if (QWidget *panel = shown->widget())
        wanted = std::max(wanted, panel->minimumSizeHint().width() + std::max(shown->width() - panel->width(), 0));
    m_applyingDockWidth = true;
    resizeDocks({shown}, {wanted}, Qt::Horizontal);
    // At once, so that the docks' resizing is known as ours.
    if (layout() && isVisible())
        layout()->activate();
    m_applyingDockWidth = false;
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (m_layoutFitted && event->size().width() != event->oldSize().width())
        applyDockWidth();
    m_seenWindowWidth = width();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // A dock that changes its width under the pressed mouse while the window
    // keeps its own was dragged by the user: that width is kept from now on.
    if (event->type() == QEvent::Resize && !m_applyingDockWidth && isVisible() && width() == m_seenWindowWidth
        && (QGuiApplication::mouseButtons() & Qt::LeftButton)) {
        auto *dock = qobject_cast<QDockWidget *>(watched);
        const auto *resize = static_cast<QResizeEvent *>(event);
        if (dock && layoutDocks().contains(dock) && resize->oldSize().isValid()
            && resize->oldSize().width() != resize->size().width() && !dock->isFloating() && dock->isVisible()
            && resize->oldSize().height() == resize->size().height())
            m_dockWidth = resize->size().width();
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::saveLayout() const
{
    QSettings settings;
    settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
    settings.setValue(QStringLiteral("window/state"), saveState());
    if (m_dockWidth > 0)
        settings.setValue(QStringLiteral("window/dockWidth"), m_dockWidth);
    for (const QTableView *view : layoutTables()) {
        // Hidden columns (the symbol columns without symbols) report no width.
        QVariantList widths;
        for (int column = 0; column < view->model()->columnCount(); ++column)
            widths.append(view->isColumnHidden(column) ? -1 : view->columnWidth(column));
        settings.setValue(columnsKey(view), widths);
    }
}

void MainWindow::restoreLayout()
{
    QSettings settings;
    const QByteArray geometry = settings.value(QStringLiteral("window/geometry")).toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    const QByteArray state = settings.value(QStringLiteral("window/state")).toByteArray();
    if (!state.isEmpty())
        restoreState(state);
    m_dockWidth = std::max(settings.value(QStringLiteral("window/dockWidth"), 0).toInt(), 0);
    for (QTableView *view : layoutTables()) {
        const QVariantList widths = settings.value(columnsKey(view)).toList();
        if (widths.isEmpty())
            continue;
        for (int column = 0; column < widths.size() && column < view->model()->columnCount(); ++column) {
            const int width = widths.at(column).toInt();
            if (width > 0)
                view->setColumnWidth(column, width);
        }
        m_restoredColumns.insert(view);
    }
}

void MainWindow::makeRoomForMessage(const QString &message)
{
    // Given up first to last; the bus state stays.
    const QList<QLabel *> yielding = {m_symbolsLabel, m_txLabel, m_rxLabel, m_loadLabel};
    for (QLabel *label : yielding)
        label->setVisible(true);
    if (message.isEmpty())
        return;
    QStatusBar *bar = statusBar();
    const int spacing = 8;
    int free = bar->width() - 2 * spacing - (bar->isSizeGripEnabled() ? 16 : 0);
    for (QLabel *label : {m_symbolsLabel, m_busLabel, m_rxLabel, m_txLabel, m_loadLabel})
        free -= std::max(label->width(), label->minimumSizeHint().width()) + spacing;
    const int needed = bar->fontMetrics().horizontalAdvance(message) + 2 * spacing;
    for (QLabel *label : yielding) {
        if (free >= needed)
            break;
        label->setVisible(false);
        free += std::max(label->width(), label->minimumSizeHint().width()) + spacing;
    }
}
