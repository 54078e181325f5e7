// PlotWidget: zooming, panning and the cursors.
#include "plotwidget.h"
#include "ui_plotwidget.h"

#include <QAction>
#include <QSignalBlocker>

#include <algorithm>
#include <cmath>

namespace {

// How near (pixels) a sample must be drawn to the mouse to catch a cursor.
constexpr double SnapPixels = 8.0;
// Boxes flatter than this fraction of the plot's height zoom time only.
constexpr double MinBoxHeight = 0.02;
constexpr double MinBoxWidth = 0.005;

} // namespace

SignalRecorder::TimeWindow PlotWidget::currentWindow(double latest) const
{
    if (m_free)
        return PlotZoom::freeWindow(latest, m_freeWidth, m_live, m_scrollStart);
    return SignalRecorder::visibleWindow(latest, ui->windowCombo->currentData().toDouble(), m_live, m_scrollStart);
}

PlotZoom::View PlotWidget::currentView() const
{
    PlotZoom::View view;
    view.windowIndex = m_free ? m_presetIndex : ui->windowCombo->currentIndex();
    view.free = m_free;
    view.freeWidth = m_freeWidth;
    view.live = m_live;
    view.start = m_live ? m_winStart : m_scrollStart;
    view.autoY = ui->autoYCheck->isChecked();
    view.left = {ui->yMinSpin->value(), ui->yMaxSpin->value()};
    view.right = {ui->y2MinSpin->value(), ui->y2MaxSpin->value()};
    return view;
}

void PlotWidget::applyView(const PlotZoom::View &view)
{
    m_free = view.free;
    m_freeWidth = view.freeWidth;
    m_presetIndex = view.windowIndex;
    {
        const QSignalBlocker blocker(ui->windowCombo);
        ui->windowCombo->setCurrentIndex(view.free ? FreeWindowIndex : view.windowIndex);
    }
    m_live = view.live;
    m_scrollStart = view.start;
    {
        const QSignalBlocker blocker(ui->autoYCheck);
        ui->autoYCheck->setChecked(view.autoY);
    }
    if (!view.autoY) {
        ui->yMinSpin->setValue(view.left.min);
        ui->yMaxSpin->setValue(view.left.max);
        ui->y2MinSpin->setValue(view.right.min);
        ui->y2MaxSpin->setValue(view.right.max);
    }
    updateYControls();
    ui->actionZoomBack->setEnabled(!m_history.isEmpty());
    refresh();
}

void PlotWidget::pushView()
{
    m_history.push(currentView());
    ui->actionZoomBack->setEnabled(true);
}

void PlotWidget::setFreeWindow(double start, double width)
{
    if (!m_free)
        m_presetIndex = ui->windowCombo->currentIndex();
    m_free = true;
    m_freeWidth = std::max(width, PlotZoom::MinTimeSpan);
    m_live = false;
    m_scrollStart = std::max(start, 0.0);
    const QSignalBlocker blocker(ui->windowCombo);
    ui->windowCombo->setCurrentIndex(FreeWindowIndex);
}

void PlotWidget::setManualY(const PlotZoom::Range &left, const PlotZoom::Range &right)
{
    {
        const QSignalBlocker blocker(ui->autoYCheck);
        ui->autoYCheck->setChecked(false);
    }
    ui->yMinSpin->setValue(left.min);
    ui->yMaxSpin->setValue(left.max);
    if (axis2Enabled()) {
        ui->y2MinSpin->setValue(right.min);
        ui->y2MaxSpin->setValue(right.max);
    }
    updateYControls();
}

void PlotWidget::onWindowChosen(int index)
{
    m_wheelZooming = false;
    if (index == FreeWindowIndex) {
        // "frei" chosen by hand keeps the width now shown.
        if (!m_free)
            setFreeWindow(m_winStart, m_winEnd - m_winStart);
    } else if (m_free) {
        pushView();
        m_free = false;
    }
    if (index != FreeWindowIndex)
        m_presetIndex = index;
    refresh();
}

// --- zoom and pan --------------------------------------------------------------

void PlotWidget::zoomToBox(const QRectF &box)
{
    const QRectF area = box.normalized();
    if (area.width() < MinBoxWidth)
        return;
    m_wheelZooming = false;
    pushView();
    PlotZoom::Range time = PlotZoom::part({m_winStart, m_winEnd}, area.left(), area.right());
    if (time.span() < PlotZoom::MinTimeSpan)
        time = PlotZoom::around(time, 0.5, PlotZoom::MinTimeSpan / std::max(time.span(), 1e-12));
    setFreeWindow(time.min, time.span());
    if (area.height() >= MinBoxHeight) {
        // y runs down the screen, values up.
        setManualY(PlotZoom::part(m_yShown[0], 1 - area.bottom(), 1 - area.top()),
                   PlotZoom::part(m_yShown[1], 1 - area.bottom(), 1 - area.top()));
    }
    refresh();
}

void PlotWidget::wheelZoom(const QPointF &at, int angleDelta, Qt::KeyboardModifiers modifiers)
{
    if (modifiers & Qt::ShiftModifier) {
        scrollByWheel(QPoint(0, angleDelta));
        return;
    }
    if (angleDelta == 0)
        return;
    // Notches in a row are one step for "Zoom zurück".
    if (!m_wheelZooming)
        pushView();
    m_wheelZooming = true;
    const double factor = PlotZoom::wheelFactor(angleDelta);
    if (modifiers & Qt::ControlModifier) {
        const double y = 1 - std::clamp(at.y(), 0.0, 1.0);
        setManualY(PlotZoom::around(m_yShown[0], y, factor), PlotZoom::around(m_yShown[1], y, factor));
        refresh();
        return;
    }
    PlotZoom::Range time = PlotZoom::around({m_winStart, m_winEnd}, std::clamp(at.x(), 0.0, 1.0), factor);
    const double latest = ui->pauseButton->isChecked() ? m_pausedAt : rec().latest();
    if (factor > 1 && time.span() >= latest && latest > 0) {
        // Zoomed out beyond everything recorded: that is "Alles".
        m_free = false;
        m_live = true;
        const QSignalBlocker blocker(ui->windowCombo);
        ui->windowCombo->setCurrentIndex(FreeWindowIndex - 1);
        m_presetIndex = FreeWindowIndex - 1;
        refresh();
        return;
    }
    if (time.span() < PlotZoom::MinTimeSpan)
        time = PlotZoom::around(time, std::clamp(at.x(), 0.0, 1.0),
                                PlotZoom::MinTimeSpan / std::max(time.span(), 1e-12));
    if (time.min < 0)
        time = {0.0, time.span()};
    setFreeWindow(time.min, time.span());
    refresh();
}

void PlotWidget::panBy(double dx, double dy)
{
    m_wheelZooming = false;
    const double width = m_winEnd - m_winStart;
    if (dx != 0.0) {
        const double latest = ui->pauseButton->isChecked() ? m_pausedAt : rec().latest();
        // Dragging the curves right shows earlier times.
        double start = m_winStart - dx * width;
        start = std::clamp(start, 0.0, std::max({latest - width, m_winStart, 0.0}));
        if (m_free || windowSeconds() <= 0) {
            setFreeWindow(start, width);
        } else {
            m_live = false;
            m_scrollStart = start;
        }
    }
    if (dy != 0.0) {
        const auto shifted = [dy](const PlotZoom::Range &range) {
            return PlotZoom::Range{range.min + dy * range.span(), range.max + dy * range.span()};
        };
        setManualY(shifted(m_yShown[0]), shifted(m_yShown[1]));
    }
    refresh();
}

void PlotWidget::zoomBack()
{
    if (m_history.isEmpty())
        return;
    m_wheelZooming = false;
    applyView(m_history.pop());
}

void PlotWidget::showAll()
{
    m_wheelZooming = false;
    pushView();
    PlotZoom::View all;
    all.windowIndex = FreeWindowIndex - 1;   // "Alles"
    all.free = false;
    all.live = true;
    all.autoY = true;
    applyView(all);
}

void PlotWidget::onBoxZoomed(double x0, double y0, double x1, double y1)
{
    zoomToBox(QRectF(QPointF(x0, y0), QPointF(x1, y1)));
}

void PlotWidget::onPanStarted()
{
    m_wheelZooming = false;
    pushView();
}

void PlotWidget::onPanned(double dx, double dy)
{
    panBy(dx, dy);
}

// --- cursors -------------------------------------------------------------------

QPointF PlotWidget::plotFraction(const QPointF &at) const
{
    const QRectF area = m_graph ? m_graph->property("plotArea").toRectF() : QRectF();
    if (area.width() <= 0 || area.height() <= 0)
        return {0.5, 0.5};
    return {(at.x() - area.x()) / area.width(), (at.y() - area.y()) / area.height()};
}

double PlotWidget::snappedTime(double x, double y, int *trace) const
{
    const double width = m_winEnd - m_winStart;
    const double t = m_winStart + std::clamp(x, 0.0, 1.0) * width;
    *trace = -1;
    const QRectF area = m_graph ? m_graph->property("plotArea").toRectF() : QRectF();
    if (area.width() <= 0 || area.height() <= 0 || width <= 0)
        return t;
    const bool axis2 = axis2Enabled();
    double best = SnapPixels;
    double snapped = t;
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    for (int i = 0; i < traces.size(); ++i) {
        if (!traceStyle(i).shown)
            continue;
        const SignalRecorder::Trace &candidate = traces.at(i);
        const PlotZoom::Range &values = m_yShown[axis2 && candidate.axis == 1 ? 1 : 0];
        const int nearest = SignalRecorder::nearestIndex(candidate, t);
        if (nearest < 0)
            continue;
        const auto pixelsAbove = [&](double value) {
            return values.span() > 0 ? ((1 - y) - (value - values.min) / values.span()) * area.height() : 0.0;
        };
        const QPointF &sample = candidate.points.at(nearest);
        double distance = std::hypot((sample.x() - t) / width * area.width(), pixelsAbove(sample.y()));
        // A step holds its value: the mouse may be anywhere on the run.
        if (drawMode(i) == PlotStyle::Step) {
            const int held = SignalRecorder::indexAtOrBefore(candidate, t);
            if (held >= 0)
                distance = std::min(distance, std::fabs(pixelsAbove(candidate.points.at(held).y())));
        }
        if (distance < best) {
            best = distance;
            snapped = sample.x();
            *trace = i;
        }
    }
    return snapped;
}

void PlotWidget::onCursorPointed(int cursor, double x, double y)
{
    int trace = -1;
    const double t = snappedTime(x, y, &trace);
    if (trace >= 0)
        m_cursorTrace[cursor == 1 ? 1 : 0] = trace;
    if (cursor == 1) {
        setCursorB(true, t);
    } else {
        m_markerTime = t;
        m_markerPlaced = true;
        updateMarker();
    }
    updateLegendValues();
}

void PlotWidget::moveCursor(int cursor, int steps)
{
    cursor = cursor == 1 ? 1 : 0;
    if (cursor == 0 ? !markerEnabled() : !cursorBEnabled())
        return;
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    int trace = m_cursorTrace[cursor];
    if (trace < 0 || trace >= traces.size() || !traceStyle(trace).shown)
        trace = ui->legendTable->currentRow();
    for (int i = 0; i < traces.size() && (trace < 0 || !traceStyle(trace).shown); ++i)
        trace = i;
    if (trace < 0 || trace >= traces.size())
        return;
    double t = cursor == 0 ? m_markerTime : m_cursorBTime;
    for (int step = 0; step < std::abs(steps); ++step) {
        const int index = steps > 0 ? SignalRecorder::nextIndex(traces.at(trace), t)
                                    : SignalRecorder::previousIndex(traces.at(trace), t);
        if (index < 0)
            break;
        t = traces.at(trace).points.at(index).x();
    }
    m_cursorTrace[cursor] = trace;
    if (cursor == 0)
        m_markerTime = t;
    else
        m_cursorBTime = t;
    bringIntoView(t);
    updateMarker();
    updateLegendValues();
}

void PlotWidget::bringIntoView(double t)
{
    if (t >= m_winStart && t <= m_winEnd)
        return;
    const double width = m_winEnd - m_winStart;
    m_live = false;
    if (windowSeconds() <= 0)
        setFreeWindow(t - width / 2, width);
    else
        m_scrollStart = std::max(t - width / 2, 0.0);
    refresh();
}

void PlotWidget::clampCursors()
{
    // Cursors beyond the data now shown are brought inside it.
    const double end = std::max(rec().latest(), 0.0);
    if (m_markerPlaced)
        m_markerTime = std::clamp(m_markerTime, 0.0, end);
    if (m_cursorBPlaced)
        m_cursorBTime = std::clamp(m_cursorBTime, 0.0, end);
    m_cursorTrace[0] = m_cursorTrace[1] = -1;
    // A zoom into the other source's data means nothing here.
    if (m_free) {
        m_free = false;
        const QSignalBlocker blocker(ui->windowCombo);
        ui->windowCombo->setCurrentIndex(m_presetIndex);
    }
    m_history.clear();
    ui->actionZoomBack->setEnabled(false);
    m_wheelZooming = false;
}
