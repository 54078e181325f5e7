#include "plotwidget.h"
#include "ui_plotwidget.h"

#include "flowlayout.h"
#include "plotchart.h"
#include "plotlegend.h"
#include "symbolfile.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QQmlError>
#include <QQuickItem>
#include <QScrollBar>
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
    // Each source keeps its cursors: a short trace must not pull the live
    // cursors to its end (or an empty one to 0).
    m_cursorsOf[m_traceMode ? 1 : 0] = {{m_markerPlaced, m_cursorBPlaced}, {m_markerTime, m_cursorBTime}};
    const CursorPlaces &kept = m_cursorsOf[on ? 1 : 0];
    if (kept.placed[0]) {
        m_markerPlaced = true;
        m_markerTime = kept.time[0];
    }
    if (kept.placed[1]) {
        m_cursorBPlaced = true;
        m_cursorBTime = kept.time[1];
    }
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
    updateHint();
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
    measureShown(dataEnd);

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

    const double offset = timeOffset();
    m_chart->setY2Visible(axis2);
    m_chart->setXRange(w.start + offset, w.end + offset);
    m_chart->setYRange(left.min, left.max);
    m_yShown[0] = {left.min, left.max};
    if (axis2) {
        m_chart->setY2Range(right.min, right.max);
        m_yShown[1] = {right.min, right.max};
    }
    m_chart->setXTitle(timeBase() == 1 ? tr("Trace-Zeit [s]") : tr("Zeit [s]"));
    updateAxisTitles();
    drawSeries();

    m_winStart = w.start;
    m_winEnd = w.end;
    updateMarker();
    // Statistics of the window just shown.
    updateLegendValues();
}

void PlotWidget::measureShown(double dataEnd)
{
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    const int count = std::min(int(m_shown.points.size()), int(traces.size()));
    const bool axis2 = ui->axis2Check->isChecked();
    // Hidden signals do not stretch an automatic axis.
    m_shown.min[0] = m_shown.min[1] = DBL_MAX;
    m_shown.max[0] = m_shown.max[1] = -DBL_MAX;
    for (int i = 0; i < count; ++i) {
        if (!traceStyle(i).shown)
            continue;
        const int axis = axis2 && traces.at(i).axis == 1 ? 1 : 0;
        PlotData::extend(m_shown.points.at(i), m_shown.window.start, dataEnd, &m_shown.min[axis], &m_shown.max[axis]);
    }
}

void PlotWidget::drawSeries()
{
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    const int count = std::min({int(m_shown.points.size()), m_chart->seriesCount(), int(traces.size())});
    const double offset = timeOffset();
    const double plotWidth = m_graph->property("plotArea").toRectF().width();
    for (int i = 0; i < count; ++i) {
        const PlotStyle style = traceStyle(i);
        if (!style.shown) {
            m_chart->replace(i, {});
            m_chart->replaceDots(i, {});
            continue;
        }
        const QList<QPointF> &points = m_shown.points.at(i);
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
        if (mode == PlotStyle::Points
            || PlotDraw::dotsOnLine(points, m_shown.window.end - m_shown.window.start, plotWidth)) {
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
