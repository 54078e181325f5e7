#include "plotwidget.h"
#include "ui_plotwidget.h"

#include "flowlayout.h"
#include "plotchart.h"
#include "plotcsv.h"
#include "plotimage.h"
#include "plotlegend.h"
#include "plotstats.h"
#include "symbolfile.h"

#include <QAction>
#include <QColorDialog>
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
#include <QScrollBar>
#include <QSettings>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cfloat>
#include <cmath>

namespace {

const QString Dash = QStringLiteral("–");

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
    // The width a zoom left; chosen by zooming, or to keep the width shown.
    ui->windowCombo->addItem(tr("frei"), -1);
    ui->windowCombo->setItemData(FreeWindowIndex, tr("Die gezoomte Breite des Zeitfensters"), Qt::ToolTipRole);
    ui->windowCombo->setCurrentIndex(1);
    ui->timeBaseCombo->addItem(tr("seit Start"));
    ui->timeBaseCombo->addItem(tr("Trace-Zeit"));

    m_legend = new PlotLegend(ui->legendTable, ui->actionRemoveSignal, this);
    connect(m_legend, &PlotLegend::shownChanged, this, [this](int row, bool shown) {
        PlotStyle style = traceStyle(row);
        style.shown = shown;
        setTraceStyle(row, style);
    });
    connect(m_legend, &PlotLegend::modeChosen, this, [this](int row, PlotStyle::Mode mode) {
        PlotStyle style = traceStyle(row);
        style.mode = mode;
        setTraceStyle(row, style);
    });
    connect(m_legend, &PlotLegend::colorRequested, this, &PlotWidget::chooseTraceColor);
    connect(m_legend, &PlotLegend::axisChosen, this, [this](int row, int axis) {
        // Choosing the right axis in the menu is how many find the second axis.
        if (axis == 1 && !axis2Enabled())
            setSecondAxisEnabled(true);
        setTraceAxis(row, axis);
    });
    ui->splitter->setStretchFactor(0, 4);
    ui->splitter->setStretchFactor(1, 1);
    ui->splitter->setSizes({4000, 1000});
    // The tool groups wrap into further rows where the tab is narrow (next
    // to the docks), so that every control stays in view without scrolling.
    delete ui->toolBox->layout();
    auto *flow = new FlowLayout(ui->toolBox, 8);
    for (QWidget *group : {ui->signalGroup, ui->windowGroup, ui->yGroup, ui->cursorGroup, ui->actionGroup,
                           ui->traceGroup, ui->y2Group, ui->zoomGroup})
        flow->addWidget(group);

    connect(ui->actionRemoveSignal, &QAction::triggered, this, &PlotWidget::removeSelectedSignal);
    connect(ui->addButton, &QPushButton::clicked, this, &PlotWidget::addSelectedSignal);
    connect(ui->signalCombo->lineEdit(), &QLineEdit::returnPressed, this, &PlotWidget::addSelectedSignal);
    connect(ui->autoYCheck, &QCheckBox::toggled, this, [this] {
        updateYControls();
        refresh();
    });
    connect(ui->axis2Check, &QCheckBox::toggled, this, &PlotWidget::onSecondAxisToggled);
    connect(ui->markerCheck, &QCheckBox::toggled, this, &PlotWidget::onMarkerToggled);
    connect(ui->cursorBCheck, &QCheckBox::toggled, this, &PlotWidget::onCursorBToggled);
    connect(ui->traceCheck, &QCheckBox::toggled, this, &PlotWidget::setTraceMode);
    connect(ui->clearButton, &QPushButton::clicked, this, &PlotWidget::clearData);
    connect(ui->saveImageButton, &QPushButton::clicked, this, &PlotWidget::chooseAndSaveImage);
    connect(ui->exportButton, &QPushButton::clicked, this, &PlotWidget::chooseAndExportData);
    ui->zoomBackButton->setDefaultAction(ui->actionZoomBack);
    ui->showAllButton->setDefaultAction(ui->actionShowAll);
    addAction(ui->actionZoomBack);
    addAction(ui->actionShowAll);
    ui->actionZoomBack->setEnabled(false);
    connect(ui->actionZoomBack, &QAction::triggered, this, &PlotWidget::zoomBack);
    connect(ui->actionShowAll, &QAction::triggered, this, &PlotWidget::showAll);
    connect(ui->timeBaseCombo, &QComboBox::currentIndexChanged, this, &PlotWidget::refresh);
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
        m_wheelZooming = false;
        refresh();
    });
    connect(ui->liveButton, &QPushButton::clicked, this, [this] {
        m_live = true;
        refresh();
    });
    connect(ui->windowCombo, &QComboBox::currentIndexChanged, this, &PlotWidget::onWindowChosen);
    for (QDoubleSpinBox *spin : {ui->yMinSpin, ui->yMaxSpin, ui->y2MinSpin, ui->y2MaxSpin})
        connect(spin, &QDoubleSpinBox::editingFinished, this, &PlotWidget::refresh);

    ui->quickWidget->installEventFilter(this);
    ui->quickWidget->setFocusPolicy(Qt::StrongFocus);   // arrow keys move the cursors
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
    connect(m_root, SIGNAL(cursorPointed(int,double,double)), this, SLOT(onCursorPointed(int,double,double)),
            Qt::UniqueConnection);
    connect(m_root, SIGNAL(boxZoomed(double,double,double,double)), this,
            SLOT(onBoxZoomed(double,double,double,double)), Qt::UniqueConnection);
    connect(m_root, SIGNAL(panStarted()), this, SLOT(onPanStarted()), Qt::UniqueConnection);
    connect(m_root, SIGNAL(panned(double,double)), this, SLOT(onPanned(double,double)), Qt::UniqueConnection);
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
        specs.append({traces.at(i).ref.displayName(), traceColor(i), axis2 && traces.at(i).axis == 1});
    m_chart->setSeries(specs);
    m_cursorTrace[0] = m_cursorTrace[1] = -1;   // places may have moved
    for (int i = 0; i < traces.size(); ++i)
        m_chart->setSeriesVisible(i, traceStyle(i).shown);
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
    clampCursors();
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
    return m_free ? m_freeWidth : ui->windowCombo->currentData().toDouble();
}

void PlotWidget::refresh()
{
    if (m_traceMode)
        followTrace(false);
    if (!m_graph || !m_chart || !isVisible()) {
        // The legend's values stay current while the chart rests.
        updateLegendValues();
        return;
    }

    const bool paused = ui->pauseButton->isChecked();
    const double latest = paused ? m_pausedAt : rec().latest();
    const SignalRecorder::TimeWindow w = currentWindow(latest);
    const double dataEnd = paused ? std::min(w.end, m_pausedAt) : w.end;
    if (!m_live)
        m_scrollStart = w.start;
    updateScrollBar(w, windowSeconds());

    const bool axis2 = ui->axis2Check->isChecked();
    PlotData::collect(rec(), w, dataEnd, axis2, &m_shown);
    m_dataEnd = dataEnd;
    drawSeries(dataEnd);

    const double offset = timeOffset();
    m_chart->setXRange(w.start + offset, w.end + offset);
    m_chart->setXTitle(timeBase() == 1 ? tr("Trace-Zeit [s]") : tr("Zeit [s]"));
    m_winStart = w.start;
    m_winEnd = w.end;
    updateMarker();
    m_chart->setY2Visible(axis2);
    updateAxisTitles();

    PlotData::Range left;
    PlotData::Range right{m_yShown[1].min, m_yShown[1].max};
    if (ui->autoYCheck->isChecked()) {
        left = PlotData::autoRange(m_shown.min[0], m_shown.max[0]);
        ui->yMinSpin->setValue(left.min);
        ui->yMaxSpin->setValue(left.max);
        if (axis2) {
            right = PlotData::autoRange(m_shown.min[1], m_shown.max[1]);
            ui->y2MinSpin->setValue(right.min);
            ui->y2MaxSpin->setValue(right.max);
        }
    } else {
        left = PlotData::manualRange(ui->yMinSpin->value(), ui->yMaxSpin->value());
        if (axis2)
            right = PlotData::manualRange(ui->y2MinSpin->value(), ui->y2MaxSpin->value());
    }
    m_chart->setYRange(left.min, left.max);
    m_yShown[0] = {left.min, left.max};
    if (axis2) {
        m_chart->setY2Range(right.min, right.max);
        m_yShown[1] = {right.min, right.max};
    }
    // Statistics of the window just shown.
    updateLegendValues();
}

void PlotWidget::drawSeries(double dataEnd)
{
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    const int count = std::min({int(m_shown.points.size()), m_chart->seriesCount(), int(traces.size())});
    const double offset = timeOffset();
    const bool axis2 = ui->axis2Check->isChecked();
    // Hidden signals neither draw nor stretch an automatic axis.
    m_shown.min[0] = m_shown.min[1] = DBL_MAX;
    m_shown.max[0] = m_shown.max[1] = -DBL_MAX;
    for (int i = 0; i < count; ++i) {
        const PlotStyle style = traceStyle(i);
        if (!style.shown) {
            m_chart->replace(i, {});
            m_chart->replaceDots(i, {});
            continue;
        }
        const QList<QPointF> &points = m_shown.points.at(i);
        const int axis = axis2 && traces.at(i).axis == 1 ? 1 : 0;
        PlotData::extend(points, m_shown.window.start, dataEnd, &m_shown.min[axis], &m_shown.max[axis]);
        const PlotStyle::Mode mode = style.effectiveMode(prefersSteps(i));
        if (mode == PlotStyle::Points) {
            m_chart->replace(i, {});
        } else if (mode == PlotStyle::Line && offset == 0.0) {
            m_chart->replace(i, points);
        } else {
            PlotDraw::toDisplay(points, offset, mode == PlotStyle::Step, &m_drawn);
            m_chart->replace(i, m_drawn);
        }
        // Few samples in view: each one is shown as a dot on the line.
        if (mode == PlotStyle::Points || points.size() < PlotDraw::DotsBelow) {
            PlotDraw::toDisplay(points, offset, false, &m_drawn);
            m_chart->replaceDots(i, m_drawn);
        } else {
            m_chart->replaceDots(i, {});
        }
    }
}

void PlotWidget::updateAxisTitles()
{
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    const bool axis2 = ui->axis2Check->isChecked();
    QStringList parts[2];
    for (int i = 0; i < traces.size(); ++i) {
        const SignalRecorder::Trace &trace = traces.at(i);
        if (!traceStyle(i).shown)
            continue;
        const QString text = trace.unit.isEmpty() ? trace.ref.variable : trace.unit;
        const QString part = QStringLiteral("<span style=\"color:%1\">%2</span>")
                                 .arg(traceColor(i).name(), text.toHtmlEscaped());
        QStringList &axisParts = parts[axis2 && trace.axis == 1 ? 1 : 0];
        if (!axisParts.contains(part))
            axisParts.append(part);
    }
    m_chart->setYTitles(parts[0].join(QStringLiteral(", ")), parts[1].join(QStringLiteral(", ")));
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
    if (watched != ui->quickWidget)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Wheel: {
        const auto *wheel = static_cast<QWheelEvent *>(event);
        const QPoint delta = wheel->angleDelta();
        // Sideways wheels and Shift scroll through the history as before;
        // the plain wheel zooms.
        if (delta.x() != 0 || (wheel->modifiers() & Qt::ShiftModifier))
            return scrollByWheel(delta) || QWidget::eventFilter(watched, event);
        if (!m_graph || delta.y() == 0)
            break;
        wheelZoom(plotFraction(wheel->position()), delta.y(), wheel->modifiers());
        return true;
    }
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Space && !key->isAutoRepeat()) {
            if (m_root)
                m_root->setProperty("panMode", event->type() == QEvent::KeyPress);
            return true;
        }
        if (event->type() == QEvent::KeyPress && (key->key() == Qt::Key_Left || key->key() == Qt::Key_Right)) {
            const int cursor = key->modifiers() & Qt::ShiftModifier ? 1 : 0;
            moveCursor(cursor, key->key() == Qt::Key_Right ? 1 : -1);
            return true;
        }
        break;
    }
    case QEvent::FocusOut:
        if (m_root)
            m_root->setProperty("panMode", false);
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

bool PlotWidget::scrollByWheel(QPoint angleDelta)
{
    if (!ui->timeScroll->isEnabled())
        return false;
    const int delta = angleDelta.x() != 0 ? angleDelta.x() : angleDelta.y();
    const int total = m_wheelRemainder + delta;
    const int steps = total / 120;
    m_wheelRemainder = total % 120;
    if (steps != 0)
        ui->timeScroll->setValue(ui->timeScroll->value() - steps * ui->timeScroll->singleStep());
    return true;
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
    rebuildLegend();
    refresh();
}

// --- signal styles -----------------------------------------------------------

PlotStyle PlotWidget::traceStyle(int index) const
{
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    if (index < 0 || index >= traces.size())
        return PlotStyle();
    return m_styles.value(traces.at(index).ref.toString());
}

void PlotWidget::setTraceStyle(int index, const PlotStyle &style)
{
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    if (index < 0 || index >= traces.size())
        return;
    m_styles.insert(traces.at(index).ref.toString(), style);
    if (m_chart) {
        m_chart->setSeriesColor(index, traceColor(index));
        m_chart->setSeriesVisible(index, style.shown);
    }
    rebuildLegend();
    refresh();
}

QColor PlotWidget::traceColor(int index) const
{
    const QColor chosen = traceStyle(index).color;
    return chosen.isValid() ? chosen : PlotData::color(index);
}

PlotStyle::Mode PlotWidget::drawMode(int index) const
{
    return traceStyle(index).effectiveMode(prefersSteps(index));
}

bool PlotWidget::prefersSteps(int index) const
{
    const SignalRecorder::Trace *trace = index >= 0 && index < rec().traces().size() ? &rec().traces().at(index)
                                                                                      : nullptr;
    return trace && trace->variable && rec().symbols() && PlotData::prefersSteps(*rec().symbols(), *trace->variable);
}

QString PlotWidget::valueText(int index, double value) const
{
    return PlotData::valueText(rec().symbols().get(), rec().traces().at(index).variable, value);
}

QString PlotWidget::numberText(int index, double value) const
{
    return PlotData::numberText(rec().symbols().get(), rec().traces().at(index).variable, value);
}

void PlotWidget::chooseTraceColor(int index)
{
    if (index < 0 || index >= rec().traces().size())
        return;
    const QColor color = QColorDialog::getColor(traceColor(index), this,
                                                tr("Farbe von %1").arg(rec().traces().at(index).ref.displayName()));
    if (!color.isValid())
        return;
    PlotStyle style = traceStyle(index);
    style.color = color;
    setTraceStyle(index, style);
}

QMenu *PlotWidget::createLegendMenu(int row, QWidget *parent)
{
    return m_legend->createMenu(row, parent);
}

int PlotWidget::timeBase() const
{
    return ui->timeBaseCombo->currentIndex();
}

void PlotWidget::setTimeBase(int base)
{
    ui->timeBaseCombo->setCurrentIndex(std::clamp(base, 0, 1));
}

double PlotWidget::timeOffset() const
{
    return timeBase() == 1 ? traceTimeOffset() : 0.0;
}

// --- marker and cursor B -----------------------------------------------------

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
    // Cursor B measures against A: it goes with it.
    if (!on)
        ui->cursorBCheck->setChecked(false);
    updateMarker();
    updateLegendValues();
}

void PlotWidget::onCursorBToggled(bool on)
{
    if (on && !m_cursorBPlaced) {
        m_cursorBTime = m_winStart + (m_winEnd - m_winStart) * 0.75;
        m_cursorBPlaced = true;
    }
    if (on && !markerEnabled())
        ui->markerCheck->setChecked(true);
    updateMarker();
    updateLegendValues();
}

bool PlotWidget::cursorBEnabled() const
{
    return ui->cursorBCheck->isChecked();
}

void PlotWidget::setCursorB(bool enabled, double t)
{
    if (t >= 0) {
        m_cursorBTime = t;
        m_cursorBPlaced = true;
    }
    if (enabled == ui->cursorBCheck->isChecked())
        updateMarker();
    else
        ui->cursorBCheck->setChecked(enabled);
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
    const auto fractionOf = [&](double t) { return width > 0 ? (t - m_winStart) / width : 0.5; };
    const double fraction = fractionOf(m_markerTime);
    const double fractionB = fractionOf(m_cursorBTime);
    if (m_root) {
        m_root->setProperty("markerFraction", std::clamp(fraction, 0.0, 1.0));
        m_root->setProperty("markerShown", fraction >= 0 && fraction <= 1 && ui->markerCheck->isChecked());
        m_root->setProperty("cursorBFraction", std::clamp(fractionB, 0.0, 1.0));
        m_root->setProperty("cursorBShown", fractionB >= 0 && fractionB <= 1 && cursorBEnabled());
    }
    emit markerChanged();
}

QList<MarkerRow> PlotWidget::markerRows() const
{
    QList<MarkerRow> rows;
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    const bool axis2 = ui->axis2Check->isChecked();
    const bool second = cursorBEnabled();
    for (int i = 0; i < traces.size(); ++i) {
        const SignalRecorder::Trace &trace = traces.at(i);
        MarkerRow row;
        row.name = trace.ref.displayName();
        row.color = traceColor(i);
        row.unit = trace.unit;
        row.rightAxis = axis2 && trace.axis == 1;
        double value = 0;
        const bool hasA = SignalRecorder::valueAt(trace, m_markerTime, &value);
        row.value = hasA ? valueText(i, value) : Dash;
        if (second) {
            double valueB = 0;
            const bool hasB = SignalRecorder::valueAt(trace, m_cursorBTime, &valueB);
            row.valueB = hasB ? valueText(i, valueB) : Dash;
            row.delta = hasA && hasB ? numberText(i, valueB - value) : Dash;
        }
        rows.append(row);
    }
    return rows;
}

MarkerState PlotWidget::markerState() const
{
    MarkerState state;
    state.enabled = markerEnabled();
    const double offset = timeOffset();
    state.time = m_markerTime + offset;
    state.second = state.enabled && cursorBEnabled();
    state.timeB = m_cursorBTime + offset;
    state.rows = markerRows();
    return state;
}

// --- legend ------------------------------------------------------------------

void PlotWidget::rebuildLegend()
{
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    QList<PlotLegend::Row> rows;
    for (int i = 0; i < traces.size(); ++i) {
        const SignalRecorder::Trace &trace = traces.at(i);
        PlotLegend::Row row;
        row.name = trace.resolved ? trace.ref.displayName()
                                  : tr("%1  (nicht in der Symboldatei)").arg(trace.ref.displayName());
        row.resolved = trace.resolved;
        row.color = traceColor(i);
        row.style = traceStyle(i);
        row.prefersSteps = prefersSteps(i);
        row.unit = trace.unit;
        row.axis = trace.axis;
        rows.append(row);
    }
    m_legend->setRows(rows, ui->axis2Check->isChecked());

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
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    // Statistics between the cursors when both are on, else over the window
    // shown (before the first refresh: everything recorded).
    const bool between = markerEnabled() && cursorBEnabled();
    m_legend->setStatisticsBetweenCursors(between);
    double from = m_winStart;
    double to = m_dataEnd;
    if (between) {
        from = std::min(m_markerTime, m_cursorBTime);
        to = std::max(m_markerTime, m_cursorBTime);
    } else if (!m_graph || !isVisible()) {
        from = -DBL_MAX;
        to = DBL_MAX;
    }
    for (int row = 0; row < traces.size(); ++row) {
        const SignalRecorder::Trace &trace = traces.at(row);
        const PlotStats::Stats stats = PlotStats::compute(trace, from, to);
        PlotLegend::Values values;
        values.value = trace.count > 0 ? valueText(row, trace.last) : Dash;
        values.min = stats.count > 0 ? valueText(row, stats.min) : Dash;
        values.max = stats.count > 0 ? valueText(row, stats.max) : Dash;
        values.mean = stats.count > 0 ? numberText(row, stats.mean) : Dash;
        values.count = QString::number(stats.count);
        values.nameTip = tr("%1 Werte aufgezeichnet").arg(trace.count);
        if (trace.count > 0) {
            values.rangeTip = tr("Seit dem Leeren: Min %1, Max %2")
                                  .arg(valueText(row, trace.min), valueText(row, trace.max));
        }
        m_legend->setValues(row, values);
    }
}

// --- image and data export -----------------------------------------------------

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
        title += tr("   Marker: t = %1 s").arg(m_markerTime + timeOffset(), 0, 'f', 3);
    if (markerEnabled() && cursorBEnabled())
        title += tr("   B: t = %1 s").arg(m_cursorBTime + timeOffset(), 0, 'f', 3);
    QList<PlotImage::LegendLine> legend;
    for (int i = 0; i < rec().traces().size(); ++i) {
        if (traceStyle(i).shown)
            legend.append({traceColor(i), legendText(i)});
    }
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

namespace {

// The folder a save dialog of the plotter starts in: the one last used for
// this kind of file, else for the other kind, else the last folder of the
// program's other save dialogs; a folder that no longer exists gives way to
// its nearest existing parent.
QString startFolder(const QString &key, const QString &otherKey)
{
    QSettings settings;
    QString folder;
    for (const QString &candidate : {key, otherKey, QStringLiteral("trace/lastDir"), QStringLiteral("transmit/lastDir")}) {
        folder = settings.value(candidate).toString();
        if (!folder.isEmpty())
            break;
    }
    if (folder.isEmpty())
        return QDir::homePath();
    QString existing = QDir(folder).absolutePath();
    while (!QDir(existing).exists()) {
        const QString parent = QFileInfo(existing).absolutePath();
        if (parent == existing)
            return QDir::homePath();
        existing = parent;
    }
    return existing;
}

QString timeStampedName(const char *pattern)
{
    return QString::fromLatin1(pattern).arg(
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss")));
}

} // namespace

void PlotWidget::chooseAndSaveImage()
{
    const QString proposed = QDir(startFolder(QStringLiteral("plot/imageDir"), QStringLiteral("plot/exportDir")))
                                 .filePath(timeStampedName("plotter_%1.png"));
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
    // The folder the user went to is where the next dialog starts, even
    // when this file could not be written.
    if (QFileInfo(path).absoluteDir().exists())
        QSettings().setValue(QStringLiteral("plot/imageDir"), QFileInfo(path).absolutePath());
    QString error;
    if (!saveImage(path, &error))
        QMessageBox::warning(this, tr("Bild speichern"), error);
}

bool PlotWidget::exportData(const QString &path, bool windowOnly, QString *error) const
{
    PlotCsv::Options options;
    if (windowOnly) {
        options.from = m_winStart;
        options.to = m_dataEnd;
    }
    for (int i = 0; i < rec().traces().size(); ++i) {
        if (traceStyle(i).shown)
            options.traces.append(i);
    }
    if (options.traces.isEmpty()) {
        if (error)
            *error = tr("Kein Signal wird gezeigt: nichts zu exportieren.");
        return false;
    }
    options.timeOffset = timeOffset();
    return PlotCsv::writeFile(rec(), path, options, error);
}

void PlotWidget::chooseAndExportData()
{
    QMessageBox ask(QMessageBox::Question, tr("Daten exportieren"),
                    tr("Welche Werte der gezeigten Signale sollen in die CSV-Datei?"), QMessageBox::Cancel, this);
    QPushButton *window = ask.addButton(tr("Sichtbares Zeitfenster"), QMessageBox::AcceptRole);
    QPushButton *all = ask.addButton(tr("Alles"), QMessageBox::AcceptRole);
    ask.setDefaultButton(window);
    ask.exec();
    if (ask.clickedButton() != window && ask.clickedButton() != all)
        return;
    const bool windowOnly = ask.clickedButton() == window;

    const QString proposed = QDir(startFolder(QStringLiteral("plot/exportDir"), QStringLiteral("plot/imageDir")))
                                 .filePath(timeStampedName("plotter_%1.csv"));
    QString path = QFileDialog::getSaveFileName(this, tr("Daten exportieren"), proposed,
                                                tr("CSV-Datei (*.csv);;Alle Dateien (*)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    if (QFileInfo(path).absoluteDir().exists())
        QSettings().setValue(QStringLiteral("plot/exportDir"), QFileInfo(path).absolutePath());
    QString error;
    if (!exportData(path, windowOnly, &error))
        QMessageBox::warning(this, tr("Daten exportieren"), error);
}

// --- settings ----------------------------------------------------------------

void PlotWidget::saveSettings() const
{
    QSettings settings;
    QStringList all;
    QStringList right;
    QStringList styles;
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    for (int i = 0; i < traces.size(); ++i) {
        all << traces.at(i).ref.toString();
        if (traces.at(i).axis == 1)
            right << traces.at(i).ref.toString();
        styles << traceStyle(i).toText();
    }
    settings.setValue(QStringLiteral("plot/signals"), all);
    // A zoomed width is not kept: the preset chosen before it is.
    settings.setValue(QStringLiteral("plot/timeWindow"), m_free ? m_presetIndex : ui->windowCombo->currentIndex());
    settings.setValue(QStringLiteral("plot/autoY"), ui->autoYCheck->isChecked());
    settings.setValue(QStringLiteral("plot/yMin"), ui->yMinSpin->value());
    settings.setValue(QStringLiteral("plot/yMax"), ui->yMaxSpin->value());
    settings.setValue(QStringLiteral("plot/axis2"), ui->axis2Check->isChecked());
    settings.setValue(QStringLiteral("plot/y2Min"), ui->y2MinSpin->value());
    settings.setValue(QStringLiteral("plot/y2Max"), ui->y2MaxSpin->value());
    settings.setValue(QStringLiteral("plot/signalsRight"), right);
    settings.setValue(QStringLiteral("plot/maxPoints"), m_liveRecorder.maxPoints());
    settings.setValue(QStringLiteral("plot/signalStyles"), styles);
    settings.setValue(QStringLiteral("plot/timeBase"), timeBase());
}

void PlotWidget::loadSettings()
{
    QSettings settings;
    const QStringList right = settings.value(QStringLiteral("plot/signalsRight")).toStringList();
    const QStringList signalTexts = settings.value(QStringLiteral("plot/signals")).toStringList();
    const QStringList styles = settings.value(QStringLiteral("plot/signalStyles")).toStringList();
    for (int i = 0; i < signalTexts.size(); ++i) {
        const QString &text = signalTexts.at(i);
        const PlotSignalRef ref = PlotSignalRef::fromString(text);
        if (!ref.isUsable() || !m_liveRecorder.add(ref))
            continue;
        m_traceRecorder.add(ref);
        if (right.contains(text)) {
            m_liveRecorder.setAxis(int(m_liveRecorder.traces().size()) - 1, 1);
            m_traceRecorder.setAxis(int(m_traceRecorder.traces().size()) - 1, 1);
        }
        if (i < styles.size())
            m_styles.insert(text, PlotStyle::fromText(styles.at(i)));
    }
    const int fallback = settings.value(QStringLiteral("plot/window"), 1).toInt();
    const int window = settings.value(QStringLiteral("plot/timeWindow"), fallback).toInt();
    ui->windowCombo->setCurrentIndex(std::clamp(window, 0, FreeWindowIndex - 1));
    ui->autoYCheck->setChecked(settings.value(QStringLiteral("plot/autoY"), true).toBool());
    ui->yMinSpin->setValue(settings.value(QStringLiteral("plot/yMin"), 0.0).toDouble());
    ui->yMaxSpin->setValue(settings.value(QStringLiteral("plot/yMax"), 100.0).toDouble());
    {
        const QSignalBlocker blocker(ui->axis2Check);
        ui->axis2Check->setChecked(settings.value(QStringLiteral("plot/axis2"), false).toBool());
    }
    ui->y2MinSpin->setValue(settings.value(QStringLiteral("plot/y2Min"), 0.0).toDouble());
    ui->y2MaxSpin->setValue(settings.value(QStringLiteral("plot/y2Max"), 10.0).toDouble());
    setTimeBase(settings.value(QStringLiteral("plot/timeBase"), 0).toInt());
    updateYControls();
    rebuildSeries();
    rebuildLegend();
    setMaxPoints(settings.value(QStringLiteral("plot/maxPoints"), SignalRecorder::DefaultMaxPoints).toInt());
}
