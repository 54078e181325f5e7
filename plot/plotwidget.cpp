#include "plotwidget.h"
#include "ui_plotwidget.h"

#include "plotchart.h"
#include "plotimage.h"
#include "symbolfile.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHeaderView>
#include <QImageWriter>
#include <QLineEdit>
#include <QMessageBox>
#include <QQmlError>
#include <QQuickItem>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

const QString Dash = QStringLiteral("–");

enum LegendColumn { ColSwatch, ColName, ColValue, ColMin, ColMax, ColUnit, ColAxis };

void setCellText(QTableWidget *table, int row, int column, const QString &text)
{
    QTableWidgetItem *item = table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        table->setItem(row, column, item);
    }
    if (item->text() != text)
        item->setText(text);
}

} // namespace

PlotWidget::PlotWidget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::PlotWidget)
{
    ui->setupUi(this);
    m_liveRecorder.setMaxPoints(SignalRecorder::DefaultMaxPoints);
    // A trace is plotted whole, like the command line does.
    m_traceRecorder.setMaxPoints(INT_MAX);

    const struct
    {
        const char *text;
        int seconds;
    } windows[] = {{"5 s", 5}, {"10 s", 10}, {"30 s", 30}, {"1 min", 60}, {"5 min", 300}, {"Alles", 0}};
    for (const auto &choice : windows)
        ui->windowCombo->addItem(tr(choice.text), choice.seconds);
    ui->windowCombo->setCurrentIndex(1);

    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    QTableWidget *legend = ui->legendTable;
    legend->setFont(fixed);
    legend->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    legend->verticalHeader()->setDefaultSectionSize(QFontMetrics(fixed).height() + 6);
    legend->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    int column = 0;
    for (int width : {24, 320, 110, 110, 110, 80})
        legend->setColumnWidth(column++, width);
    legend->addAction(ui->actionRemoveSignal);
    legend->setContextMenuPolicy(Qt::ActionsContextMenu);
    ui->splitter->setStretchFactor(0, 4);
    ui->splitter->setStretchFactor(1, 1);
    ui->splitter->setSizes({4000, 1000});
    // The two tool rows scroll sideways rather than widen the window beyond
    // what the plotter tab next to the docks can give.
    ui->toolArea->setFixedHeight(ui->toolBox->sizeHint().height()
                                 + ui->toolArea->horizontalScrollBar()->sizeHint().height());

    connect(ui->actionRemoveSignal, &QAction::triggered, this, &PlotWidget::removeSelectedSignal);
    connect(ui->addButton, &QPushButton::clicked, this, &PlotWidget::addSelectedSignal);
    connect(ui->signalCombo->lineEdit(), &QLineEdit::returnPressed, this, &PlotWidget::addSelectedSignal);
    connect(ui->autoYCheck, &QCheckBox::toggled, this, [this] {
        updateYControls();
        refresh();
    });
    connect(ui->axis2Check, &QCheckBox::toggled, this, &PlotWidget::onSecondAxisToggled);
    connect(ui->markerCheck, &QCheckBox::toggled, this, &PlotWidget::onMarkerToggled);
    connect(ui->traceCheck, &QCheckBox::toggled, this, &PlotWidget::setTraceMode);
    connect(ui->clearButton, &QPushButton::clicked, this, &PlotWidget::clearData);
    connect(ui->saveImageButton, &QPushButton::clicked, this, &PlotWidget::chooseAndSaveImage);
    connect(ui->pauseButton, &QPushButton::toggled, this, [this](bool paused) {
        ui->pauseButton->setText(paused ? tr("Fortsetzen") : tr("Pause"));
        m_pausedAt = rec().latest();
        refresh();
    });
    connect(ui->timeScroll, &QScrollBar::valueChanged, this, [this](int value) {
        if (m_updatingScroll)
            return;
        m_scrollStart = value / 100.0;
        m_live = value >= ui->timeScroll->maximum();
        refresh();
    });
    connect(ui->liveButton, &QPushButton::clicked, this, [this] {
        m_live = true;
        refresh();
    });
    connect(ui->windowCombo, &QComboBox::currentIndexChanged, this, &PlotWidget::refresh);
    for (QDoubleSpinBox *spin : {ui->yMinSpin, ui->yMaxSpin, ui->y2MinSpin, ui->y2MaxSpin})
        connect(spin, &QDoubleSpinBox::editingFinished, this, &PlotWidget::refresh);

    ui->quickWidget->installEventFilter(this);
    ui->quickWidget->setClearColor(Qt::white);
    connect(ui->quickWidget, &QQuickWidget::statusChanged, this, &PlotWidget::onSceneStatus);
    ui->quickWidget->setSource(PlotChart::sceneUrl());

    m_refreshTimer.setInterval(100);
    connect(&m_refreshTimer, &QTimer::timeout, this, &PlotWidget::refresh);
    m_refreshTimer.start();

    updateYControls();
    setSymbols(nullptr);
}

PlotWidget::~PlotWidget() = default;

// --- scene -----------------------------------------------------------------

void PlotWidget::onSceneStatus()
{
    const QQuickWidget::Status status = ui->quickWidget->status();
    if (status == QQuickWidget::Error) {
        QStringList texts;
        for (const QQmlError &error : ui->quickWidget->errors())
            texts << error.toString();
        m_sceneError = tr("Plotter konnte nicht geladen werden:\n%1").arg(texts.join(QLatin1Char('\n')));
        rebuildLegend();
        return;
    }
    if (status != QQuickWidget::Ready)
        return;

    m_root = ui->quickWidget->rootObject();
    QQuickItem *graph = m_root ? m_root->findChild<QQuickItem *>(QStringLiteral("graph")) : nullptr;
    if (!m_chart)
        m_chart = new PlotChart(ui->quickWidget);   // dies after the scene, whose chart owns the axes
    if (!graph || !m_chart->attach(graph)) {
        m_graph = nullptr;
        m_sceneError = tr("Plotter konnte nicht geladen werden: Diagramm nicht gefunden.");
        rebuildLegend();
        return;
    }
    m_graph = graph;
    m_sceneError.clear();
    m_chart->setY2Visible(ui->axis2Check->isChecked());
    connect(m_root, SIGNAL(markerDragged(double)), this, SLOT(onMarkerDragged(double)), Qt::UniqueConnection);
    m_root->setProperty("markerEnabled", ui->markerCheck->isChecked());
    rebuildSeries();
    rebuildLegend();
}

void PlotWidget::rebuildSeries()
{
    if (!m_graph || !m_chart)
        return;
    QList<PlotChart::SeriesSpec> specs;
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    const bool axis2 = ui->axis2Check->isChecked();
    for (int i = 0; i < traces.size(); ++i)
        specs.append({traces.at(i).ref.displayName(), PlotData::color(i), axis2 && traces.at(i).axis == 1});
    m_chart->setSeries(specs);
    refresh();
}

// --- frames and signals ------------------------------------------------------

void PlotWidget::handleFrames(const QList<CanFrame> &frames)
{
    // Recorded live also while the trace is shown, in a buffer of its own.
        m_liveRecorder.handleFrames(frames);
}

void PlotWidget::setSymbols(std::shared_ptr<const SymbolDatabase> symbols)
{
    m_liveRecorder.setSymbols(symbols);
    m_traceRecorder.setSymbols(symbols);
    const QString typed = ui->signalCombo->currentText();
    ui->signalCombo->clear();
    if (symbols) {
        for (const PlotSignalRef &ref : SignalRecorder::availableSignals(*symbols))
            ui->signalCombo->addItem(ref.displayName(), ref.toString());
    }
    ui->signalCombo->setEditText(typed);
    ui->signalCombo->setEnabled(bool(symbols));
    ui->addButton->setEnabled(bool(symbols));
    if (m_traceMode)
        reloadTrace();
    rebuildLegend();
}

bool PlotWidget::addSignal(const PlotSignalRef &ref)
{
    if (!ref.isUsable() || !m_liveRecorder.add(ref))
        return false;
    m_traceRecorder.add(ref);
    if (m_traceMode)
        reloadTrace();
    rebuildSeries();
    rebuildLegend();
    return true;
}

void PlotWidget::addSelectedSignal()
{
    QComboBox *combo = ui->signalCombo;
    const QString typed = combo->currentText().trimmed();
    int index = -1;
    for (int i = 0; i < combo->count() && index < 0; ++i) {
        if (combo->itemText(i).compare(typed, Qt::CaseInsensitive) == 0)
            index = i;
    }
    for (int i = 0; i < combo->count() && index < 0; ++i) {
        if (combo->itemText(i).contains(typed, Qt::CaseInsensitive))
            index = i;
    }
    if (index < 0)
        return;
    addSignal(PlotSignalRef::fromString(combo->itemData(index).toString()));
    combo->setEditText(QString());
}

void PlotWidget::removeSelectedSignal()
{
    const int row = ui->legendTable->currentRow();
    if (row < 0)
        return;
    m_liveRecorder.remove(row);
    m_traceRecorder.remove(row);
    rebuildSeries();
    rebuildLegend();
}

void PlotWidget::clearData()
{
    // Clears the live recording; the trace view follows its trace.
    m_liveRecorder.clearData();
    if (m_traceMode)
        return;
    m_live = true;
    m_scrollStart = 0.0;
    m_pausedAt = 0.0;
    if (m_chart)
        m_chart->clearPoints();
    for (QList<QPointF> &points : m_shown.points)
        points.clear();
    updateLegendValues();
}

void PlotWidget::setTraceSource(TraceSource source, TraceProbe probe)
{
    m_traceSource = std::move(source);
    m_traceProbe = std::move(probe);
}

void PlotWidget::setTraceMode(bool on)
{
    if (ui->traceCheck->isChecked() != on) {
        ui->traceCheck->setChecked(on);   // comes back here
        return;
    }
    if (m_traceMode == on)
        return;
    m_traceMode = on;
    // Each source keeps its own data: switching shows the other buffer.
    if (on)
        followTrace(true);
    onSourceChanged();
    rebuildLegend();
    refresh();
}

void PlotWidget::reloadTrace()
{
    if (!m_traceMode)
        return;
    followTrace(true);
    refresh();
}

void PlotWidget::followTrace(bool full)
{
    const TraceInfo info = m_traceProbe ? m_traceProbe() : TraceInfo();
    // A trace that lost entries at its end or between (cleared, loaded
    // anew) is plotted again; one that grew gets its new entries only. The
    // oldest entries a full trace drops stay plotted, as in a live recording.
    if (info.known && !full)
        full = info.last < m_traceFed.last || info.startUs != m_traceFed.startUs
            || (info.first > m_traceFed.last + 1 && m_traceFed.last > 0);
    if (!full && info.known && info.last == m_traceFed.last)
        return;
    if (full || !info.known)
        m_traceRecorder.clearData();
    const quint64 after = full || !info.known ? 0 : m_traceFed.last;
    if (m_traceSource)
        m_traceSource(after, [this](const QList<CanFrame> &frames) { m_traceRecorder.handleFrames(frames); });
    m_traceFed = info;
}

void PlotWidget::onSourceChanged()
{
    m_live = true;
    m_scrollStart = 0.0;
    m_pausedAt = rec().latest();
    // A marker beyond the data now shown is brought inside it.
    if (m_markerPlaced) {
        const double end = rec().latest();
        if (m_markerTime > end || m_markerTime < 0)
            m_markerTime = std::clamp(m_markerTime, 0.0, end);
    }
    if (m_chart)
        m_chart->clearPoints();
}

double PlotWidget::traceTimeOffset() const
{
    const SignalRecorder &shown = rec();
    const TraceInfo info = m_traceProbe ? m_traceProbe() : TraceInfo();
    if (info.known && (info.last > 0 || m_traceMode))
        return double(shown.origin() - info.startUs) / 1e6;
    return double(shown.origin()) / 1e6;
}

void PlotWidget::setMaxPoints(int maxPoints)
{
    m_liveRecorder.setMaxPoints(std::clamp(maxPoints, SignalRecorder::MinMaxPoints, SignalRecorder::MaxMaxPoints));
}

// --- refresh -----------------------------------------------------------------

double PlotWidget::windowSeconds() const
{
    return ui->windowCombo->currentData().toDouble();
}

void PlotWidget::refresh()
{
    if (m_traceMode)
        followTrace(false);
    updateLegendValues();
    if (!m_graph || !m_chart || !isVisible())
        return;

    const bool paused = ui->pauseButton->isChecked();
    const double window = windowSeconds();
    const double latest = paused ? m_pausedAt : rec().latest();
    const SignalRecorder::TimeWindow w = SignalRecorder::visibleWindow(latest, window, m_live, m_scrollStart);
    const double dataEnd = paused ? std::min(w.end, m_pausedAt) : w.end;
    if (!m_live)
        m_scrollStart = w.start;
    updateScrollBar(w, window);

    const bool axis2 = ui->axis2Check->isChecked();
    PlotData::collect(rec(), w, dataEnd, axis2, &m_shown);
    const int count = std::min(int(m_shown.points.size()), m_chart->seriesCount());
    for (int i = 0; i < count; ++i)
        m_chart->replace(i, m_shown.points.at(i));

    m_chart->setXRange(w.start, w.end);
    m_winStart = w.start;
    m_winEnd = w.end;
    updateMarker();
    m_chart->setY2Visible(axis2);

    if (ui->autoYCheck->isChecked()) {
        const PlotData::Range left = PlotData::autoRange(m_shown.min[0], m_shown.max[0]);
        m_chart->setYRange(left.min, left.max);
        ui->yMinSpin->setValue(left.min);
        ui->yMaxSpin->setValue(left.max);
        if (axis2) {
            const PlotData::Range right = PlotData::autoRange(m_shown.min[1], m_shown.max[1]);
            m_chart->setY2Range(right.min, right.max);
            ui->y2MinSpin->setValue(right.min);
            ui->y2MaxSpin->setValue(right.max);
        }
    } else {
        const PlotData::Range left = PlotData::manualRange(ui->yMinSpin->value(), ui->yMaxSpin->value());
        m_chart->setYRange(left.min, left.max);
        if (axis2) {
            const PlotData::Range right = PlotData::manualRange(ui->y2MinSpin->value(), ui->y2MaxSpin->value());
            m_chart->setY2Range(right.min, right.max);
        }
    }
}

void PlotWidget::updateScrollBar(const SignalRecorder::TimeWindow &w, double window)
{
    QScrollBar *scroll = ui->timeScroll;
    m_updatingScroll = true;
    scroll->setRange(0, int(std::lround(100 * w.maxStart)));
    if (window > 0) {
        const int page = std::max(int(std::lround(100 * window)), 1);
        scroll->setPageStep(page);
        scroll->setSingleStep(page < 20 ? 1 : page / 10);
    }
    scroll->setValue(m_live ? scroll->maximum() : int(std::lround(100 * w.start)));
    m_updatingScroll = false;
    scroll->setEnabled(scroll->maximum() > 0);
    ui->liveButton->setEnabled(scroll->maximum() > 0 && !m_live);
    ui->liveButton->setToolTip(m_live ? tr("Die Anzeige läuft mit den neuesten Werten mit")
                                      : tr("Zurück zu den neuesten Werten (Live-Anzeige)"));
}

void PlotWidget::scrollTo(double seconds)
{
    m_live = false;
    m_scrollStart = seconds;
    refresh();
}

bool PlotWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->quickWidget && event->type() == QEvent::Wheel && ui->timeScroll->isEnabled()) {
        const auto *wheel = static_cast<QWheelEvent *>(event);
        const int delta = wheel->angleDelta().x() != 0 ? wheel->angleDelta().x() : wheel->angleDelta().y();
        const int total = m_wheelRemainder + delta;
        const int steps = total / 120;
        m_wheelRemainder = total % 120;
        if (steps != 0)
            ui->timeScroll->setValue(ui->timeScroll->value() - steps * ui->timeScroll->singleStep());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// --- Y axes ------------------------------------------------------------------

void PlotWidget::updateYControls()
{
    const bool manual = !ui->autoYCheck->isChecked();
    const bool axis2 = ui->axis2Check->isChecked();
    ui->yMinSpin->setEnabled(manual);
    ui->yMaxSpin->setEnabled(manual);
    ui->y2MinSpin->setEnabled(manual && axis2);
    ui->y2MaxSpin->setEnabled(manual && axis2);
    ui->y2RangeLabel->setEnabled(axis2);
    ui->y2RangeSep->setEnabled(axis2);
}

void PlotWidget::onSecondAxisToggled()
{
    const bool axis2 = ui->axis2Check->isChecked();
    if (m_chart)
        m_chart->setY2Visible(axis2);
    updateYControls();
    if (m_chart) {
        const QList<SignalRecorder::Trace> &traces = rec().traces();
        for (int i = 0; i < traces.size(); ++i)
            m_chart->setSeriesAxis(i, axis2 && traces.at(i).axis == 1);
    }
    rebuildLegend();
    refresh();
}

void PlotWidget::setSecondAxisEnabled(bool enabled)
{
    ui->axis2Check->setChecked(enabled);
}

bool PlotWidget::axis2Enabled() const
{
    return ui->axis2Check->isChecked();
}

void PlotWidget::setTraceAxis(int index, int axis)
{
    m_liveRecorder.setAxis(index, axis);
    m_traceRecorder.setAxis(index, axis);
    if (m_chart)
        m_chart->setSeriesAxis(index, axis2Enabled() && rec().traces().value(index).axis == 1);
    if (QComboBox *combo = m_axisCombos.value(index)) {
        const QSignalBlocker blocker(combo);
        combo->setCurrentIndex(rec().traces().value(index).axis);
    }
    refresh();
}

// --- marker ------------------------------------------------------------------

bool PlotWidget::markerEnabled() const
{
    return ui->markerCheck->isChecked();
}

void PlotWidget::onMarkerToggled(bool on)
{
    if (on && !m_markerPlaced) {
        m_markerTime = (m_winStart + m_winEnd) / 2;
        m_markerPlaced = true;
    }
    if (m_root)
        m_root->setProperty("markerEnabled", on);
    updateMarker();
}

void PlotWidget::onMarkerDragged(double fraction)
{
    m_markerTime = m_winStart + std::clamp(fraction, 0.0, 1.0) * (m_winEnd - m_winStart);
    m_markerPlaced = true;
    updateMarker();
}

void PlotWidget::setMarker(bool enabled, double t)
{
    if (t >= 0) {
        m_markerTime = t;
        m_markerPlaced = true;
    }
    if (enabled == ui->markerCheck->isChecked())
        updateMarker();
    else
        ui->markerCheck->setChecked(enabled);
}

void PlotWidget::updateMarker()
{
    const double width = m_winEnd - m_winStart;
    const double fraction = width > 0 ? (m_markerTime - m_winStart) / width : 0.5;
    if (m_root) {
        m_root->setProperty("markerFraction", std::clamp(fraction, 0.0, 1.0));
        m_root->setProperty("markerShown", fraction >= 0 && fraction <= 1 && ui->markerCheck->isChecked());
    }
    emit markerChanged();
}

QList<MarkerRow> PlotWidget::markerRows() const
{
    QList<MarkerRow> rows;
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    const bool axis2 = ui->axis2Check->isChecked();
    for (int i = 0; i < traces.size(); ++i) {
        const SignalRecorder::Trace &trace = traces.at(i);
        MarkerRow row;
        row.name = trace.ref.displayName();
        row.color = PlotData::color(i);
        row.unit = trace.unit;
        row.rightAxis = axis2 && trace.axis == 1;
        double value = 0;
        row.value = SignalRecorder::valueAt(trace, m_markerTime, &value)
            ? PlotData::valueText(rec().symbols().get(), trace.variable, value)
            : Dash;
        rows.append(row);
    }
    return rows;
}

// --- legend ------------------------------------------------------------------

void PlotWidget::rebuildLegend()
{
    QTableWidget *legend = ui->legendTable;
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    const bool axis2 = ui->axis2Check->isChecked();
    legend->setRowCount(int(traces.size()));
    while (m_axisCombos.size() > traces.size())
        m_axisCombos.takeLast();
    for (int row = 0; row < traces.size(); ++row) {
        const SignalRecorder::Trace &trace = traces.at(row);
        setCellText(legend, row, ColSwatch, QString());
        legend->item(row, ColSwatch)->setBackground(PlotData::color(row));
        const QString name = trace.resolved ? trace.ref.displayName()
                                            : tr("%1  (nicht in der Symboldatei)").arg(trace.ref.displayName());
        setCellText(legend, row, ColName, name);
        legend->item(row, ColName)->setForeground(
            palette().color(trace.resolved ? QPalette::Normal : QPalette::Disabled, QPalette::Text));
        setCellText(legend, row, ColUnit, trace.unit);

        if (row >= m_axisCombos.size() || !m_axisCombos.at(row)) {
            auto *combo = new QComboBox(legend);
            combo->addItem(tr("links"));
            combo->addItem(tr("rechts"));
            connect(combo, &QComboBox::activated, this, [this, combo](int axis) {
                const int index = int(m_axisCombos.indexOf(combo));
                if (index >= 0)
                    setTraceAxis(index, axis);
            });
            legend->setCellWidget(row, ColAxis, combo);
            if (row < m_axisCombos.size())
                m_axisCombos[row] = combo;
            else
                m_axisCombos.append(combo);
        }
        QComboBox *combo = m_axisCombos.at(row);
        const QSignalBlocker blocker(combo);
        combo->setCurrentIndex(trace.axis);
        combo->setEnabled(axis2);
    }

    QString hint;
    if (!rec().symbols())
        hint = tr("Zuerst eine Symboldatei laden (Symboldatei → Laden…), dann Signale auswählen.");
    else if (traces.isEmpty())
        hint = tr("Signal oben auswählen und „Hinzufügen“ klicken – oder in der Signal-Ansicht per Doppelklick "
                  "bzw. Kontextmenü „Im Plotter anzeigen“.");
    if (!m_sceneError.isEmpty())
        hint = m_sceneError;
    ui->hintLabel->setText(hint);
    ui->hintLabel->setVisible(!hint.isEmpty());
    updateLegendValues();
}

void PlotWidget::updateLegendValues()
{
    QTableWidget *legend = ui->legendTable;
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    const int rows = std::min(int(traces.size()), legend->rowCount());
    for (int row = 0; row < rows; ++row) {
        const SignalRecorder::Trace &trace = traces.at(row);
        const bool any = trace.count > 0;
        const SymbolDatabase *db = rec().symbols().get();
        setCellText(legend, row, ColValue, any ? PlotData::valueText(db, trace.variable, trace.last) : Dash);
        setCellText(legend, row, ColMin, any ? PlotData::valueText(db, trace.variable, trace.min) : Dash);
        setCellText(legend, row, ColMax, any ? PlotData::valueText(db, trace.variable, trace.max) : Dash);
        const QString tip = tr("%1 Werte aufgezeichnet").arg(trace.count);
        if (QTableWidgetItem *item = legend->item(row, ColName); item && item->toolTip() != tip)
            item->setToolTip(tip);
    }
}

// --- image export ----------------------------------------------------------

QString PlotWidget::legendText(int index) const
{
    const SignalRecorder::Trace &trace = rec().traces().at(index);
    double value = 0;
    const bool atMarker = markerEnabled() && SignalRecorder::valueAt(trace, m_markerTime, &value);
    return PlotData::legendText(trace, axis2Enabled() && trace.axis == 1, atMarker ? &value : nullptr,
                                rec().symbols().get());
}

QImage PlotWidget::renderImage() const
{
    if (!m_graph)
        return QImage();
    QImage grab = ui->quickWidget->grabFramebuffer();
    if (grab.isNull())
        return QImage();
    if (grab.devicePixelRatio() == 1.0 && devicePixelRatioF() > 1.0)
        grab.setDevicePixelRatio(devicePixelRatioF());

    QString title = tr("Busvista – Plotter   %1   Zeitfenster: %2")
                        .arg(QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")),
                             ui->windowCombo->currentText());
    if (markerEnabled())
        title += tr("   Marker: t = %1 s").arg(m_markerTime, 0, 'f', 3);
    QList<PlotImage::LegendLine> legend;
    for (int i = 0; i < rec().traces().size(); ++i)
        legend.append({PlotData::color(i), legendText(i)});
    return PlotImage::compose(grab, title, legend, font());
}

bool PlotWidget::saveImage(const QString &path, QString *error) const
{
    QImage image = renderImage();
    if (image.isNull()) {
        if (error)
            *error = tr("Das Diagramm ist noch nicht bereit.");
        return false;
    }
    if (!path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        image = image.convertToFormat(QImage::Format_RGB32);
    if (!image.save(path)) {
        if (error)
            *error = tr("Datei konnte nicht geschrieben werden: %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

void PlotWidget::chooseAndSaveImage()
{
    const QString dir = QSettings().value(QStringLiteral("plot/imageDir"), QDir::homePath()).toString();
    const QString proposed = QDir(dir).filePath(
        QStringLiteral("plotter_%1.png").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"))));
    QString filter;
    QString path = QFileDialog::getSaveFileName(
        this, tr("Diagramm als Bild speichern"), proposed,
        tr("PNG-Bild (*.png);;JPEG-Bild (*.jpg *.jpeg);;BMP-Bild (*.bmp)"), &filter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty()) {
        if (filter.startsWith(QLatin1String("JPEG")))
            path += QStringLiteral(".jpg");
        else if (filter.startsWith(QLatin1String("BMP")))
            path += QStringLiteral(".bmp");
        else
            path += QStringLiteral(".png");
    }
    QString error;
    if (saveImage(path, &error))
        QSettings().setValue(QStringLiteral("plot/imageDir"), QFileInfo(path).absolutePath());
    else
        QMessageBox::warning(this, tr("Bild speichern"), error);
}

// --- settings ----------------------------------------------------------------

void PlotWidget::saveSettings() const
{
    QSettings settings;
    QStringList all;
    QStringList right;
    for (const SignalRecorder::Trace &trace : rec().traces()) {
        all << trace.ref.toString();
        if (trace.axis == 1)
            right << trace.ref.toString();
    }
    settings.setValue(QStringLiteral("plot/signals"), all);
    settings.setValue(QStringLiteral("plot/timeWindow"), ui->windowCombo->currentIndex());
    settings.setValue(QStringLiteral("plot/autoY"), ui->autoYCheck->isChecked());
    settings.setValue(QStringLiteral("plot/yMin"), ui->yMinSpin->value());
    settings.setValue(QStringLiteral("plot/yMax"), ui->yMaxSpin->value());
    settings.setValue(QStringLiteral("plot/axis2"), ui->axis2Check->isChecked());
    settings.setValue(QStringLiteral("plot/y2Min"), ui->y2MinSpin->value());
    settings.setValue(QStringLiteral("plot/y2Max"), ui->y2MaxSpin->value());
    settings.setValue(QStringLiteral("plot/signalsRight"), right);
    settings.setValue(QStringLiteral("plot/maxPoints"), m_liveRecorder.maxPoints());
}

void PlotWidget::loadSettings()
{
    QSettings settings;
    const QStringList right = settings.value(QStringLiteral("plot/signalsRight")).toStringList();
    for (const QString &text : settings.value(QStringLiteral("plot/signals")).toStringList()) {
        const PlotSignalRef ref = PlotSignalRef::fromString(text);
        if (!ref.isUsable() || !m_liveRecorder.add(ref))
            continue;
        m_traceRecorder.add(ref);
        if (right.contains(text)) {
            m_liveRecorder.setAxis(int(m_liveRecorder.traces().size()) - 1, 1);
            m_traceRecorder.setAxis(int(m_traceRecorder.traces().size()) - 1, 1);
        }
    }
    const int fallback = settings.value(QStringLiteral("plot/window"), 1).toInt();
    const int window = settings.value(QStringLiteral("plot/timeWindow"), fallback).toInt();
    ui->windowCombo->setCurrentIndex(std::clamp(window, 0, ui->windowCombo->count() - 1));
    ui->autoYCheck->setChecked(settings.value(QStringLiteral("plot/autoY"), true).toBool());
    ui->yMinSpin->setValue(settings.value(QStringLiteral("plot/yMin"), 0.0).toDouble());
    ui->yMaxSpin->setValue(settings.value(QStringLiteral("plot/yMax"), 100.0).toDouble());
    {
        const QSignalBlocker blocker(ui->axis2Check);
        ui->axis2Check->setChecked(settings.value(QStringLiteral("plot/axis2"), false).toBool());
    }
    ui->y2MinSpin->setValue(settings.value(QStringLiteral("plot/y2Min"), 0.0).toDouble());
    ui->y2MaxSpin->setValue(settings.value(QStringLiteral("plot/y2Max"), 10.0).toDouble());
    updateYControls();
    rebuildSeries();
    rebuildLegend();
    setMaxPoints(settings.value(QStringLiteral("plot/maxPoints"), SignalRecorder::DefaultMaxPoints).toInt());
}
