#pragma once

#include "canframe.h"
#include "markerrow.h"
#include "plotdata.h"
#include "plotsignalref.h"
#include "plotstyle.h"
#include "plotzoom.h"
#include "signalrecorder.h"

#include <QImage>
#include <QPointer>
#include <QQuickItem>
#include <QHash>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class PlotChart;
class PlotLegend;
class QMenu;
class SymbolDatabase;

namespace Ui {
class PlotWidget;
}

// The "Plotter" tab: the recorded signals over time in a QML chart, with a
// legend table, time window, Y ranges, a second Y axis, pause, scrolling,
// zooming and panning, two cursors, image and data export. Owns the signal
// recorder; GUI thread only.
//
// Mouse in the chart: a click places cursor A (the marker, when it is on),
// Shift + click cursor B; dragging a cursor moves it, dragging elsewhere
// draws a box to zoom into; the middle button (or Space + left button)
// pans. Wheel: time zoom around the mouse, Ctrl + wheel: value zoom, Shift +
// wheel or a sideways wheel: scrolling through the history. Keys: arrows
// move cursor A (Shift: B) by one sample, Backspace steps back, Home shows all.
class PlotWidget : public QWidget
{
    Q_OBJECT

public:
    // Hands the frames of the trace to plot with "Aus Trace" to the sink,
    // in time order and in batches (a trace may hold millions): those of the
    // entries numbered above `afterNumber` (0: all).
    using FrameSink = std::function<void(const QList<CanFrame> &)>;
    using TraceSource = std::function<void(quint64 afterNumber, const FrameSink &sink)>;
    // What the trace holds now: the numbers of its first and last entry (0
    // when empty) and the time stamp its time column counts from.
    struct TraceInfo
    {
        quint64 first = 0;
        quint64 last = 0;
        qint64 startUs = 0;
        bool known = false;   // false: no trace to go by
    };
    using TraceProbe = std::function<TraceInfo()>;

    explicit PlotWidget(QWidget *parent = nullptr);
    ~PlotWidget() override;

    void handleFrames(const QList<CanFrame> &frames);
    void setSymbols(std::shared_ptr<const SymbolDatabase> symbols);
    bool addSignal(const PlotSignalRef &ref);
    void clearData();
    void scrollTo(double seconds);

    bool markerEnabled() const;
    double markerTime() const { return m_markerTime; }
    void setMarker(bool enabled, double t);
    QList<MarkerRow> markerRows() const;
    // Cursor B, only shown together with the marker (cursor A).
    bool cursorBEnabled() const;
    double cursorBTime() const { return m_cursorBTime; }
    void setCursorB(bool enabled, double t);
    // Both cursors with their rows and times in the time base shown.
    MarkerState markerState() const;
    // Statistics of a trace as the legend shows them, and the trace's line
    // in the legend of a saved picture.
    PlotStats::Stats statistics(int index) const;
    QString legendText(int index) const;
    // Moves cursor 0 (A) or 1 (B) to the next (steps > 0) or previous sample
    // of the signal it last snapped to (else the legend's current one).
    void moveCursor(int cursor, int steps);

    void setSecondAxisEnabled(bool enabled);
    bool axis2Enabled() const;
    void setTraceAxis(int index, int axis);
    // Seconds of the time window shown: the preset's (0 for "Alles") or
    // the zoomed width.
    double windowSeconds() const;
    bool zoomed() const { return m_free; }
    bool canZoomBack() const { return !m_history.isEmpty(); }

    // Drawing of each signal, by its place in the legend.
    PlotStyle traceStyle(int index) const;
    // Whether signal `index` is drawn as steps in the automatic mode.
    bool prefersSteps(int index) const;
    void setTraceStyle(int index, const PlotStyle &style);
    QColor traceColor(int index) const;
    // The mode drawn: Auto resolved to line or steps.
    PlotStyle::Mode drawMode(int index) const;
    // 0 "seit Start", 1 "Trace-Zeit"; timeOffset() is what is added to the
    // recorder's times for it.
    int timeBase() const;
    void setTimeBase(int base);
    double timeOffset() const;

    // Plotting a trace instead of the live frames: the source is asked for
    // the frames whenever the trace is (re)plotted, the probe at every
    // refresh, so that the trace view follows a growing trace. The live
    // recording goes on meanwhile in a buffer of its own.
    void setTraceSource(TraceSource source, TraceProbe probe = TraceProbe());
    void setTraceMode(bool on);
    bool traceMode() const { return m_traceMode; }
    // Plots the trace again, after the trace itself changed (loaded, cleared).
    void reloadTrace();
    // Seconds to add to the recorder's times for the time base "Trace-Zeit":
    // the times of the trace list ("Zeit [ms]" / 1000), or the bus time
    // stamps when there is no trace to go by.
    double traceTimeOffset() const;
    // Points kept per signal of the live recording ("plot/maxPoints").
    void setMaxPoints(int maxPoints);

    QImage renderImage() const;
    bool saveImage(const QString &path, QString *error) const;
    void chooseAndSaveImage();
    // The shown signals as CSV: the window shown, or everything recorded.
    bool exportData(const QString &path, bool windowOnly, QString *error) const;
    void chooseAndExportData();
    // The legend's context menu of a row (the caller owns it).
    QMenu *createLegendMenu(int row, QWidget *parent);

    void saveSettings() const;
    void loadSettings();

    // The recording shown: the live one, or the trace's with "Aus Trace".
    const SignalRecorder &recorder() const { return m_traceMode ? m_traceRecorder : m_liveRecorder; }
    const SignalRecorder &liveRecorder() const { return m_liveRecorder; }
    // The chart's data of the last refresh, for checks and the export.
    const PlotData::WindowData &shownData() const { return m_shown; }
    QQuickItem *sceneRoot() const { return m_root; }
    // The chart of the scene, for checks; null until the scene is ready.
    PlotChart *chart() const { return m_graph ? m_chart : nullptr; }

public slots:
    void refresh();
    // Zooming and panning, as the mouse does it; positions are fractions of
    // the plot area, x from the left, y from the top. Each ends with a refresh.
    // A box narrower than a few pixels' height zooms time only.
    void zoomToBox(const QRectF &box);
    // One notch is 120; Ctrl zooms the values around the mouse, Shift scrolls.
    void wheelZoom(const QPointF &at, int angleDelta, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void panBy(double dx, double dy);
    void zoomBack();
    void showAll();

signals:
    void markerChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    // The scene's markerDragged(real): a fraction of the plot area's width.
    void onMarkerDragged(double fraction);
    // The scene's gestures (see PlotView.qml).
    void onCursorPointed(int cursor, double x, double y);
    void onBoxZoomed(double x0, double y0, double x1, double y1);
    void onPanStarted();
    void onPanned(double dx, double dy);

private:
    void onSceneStatus();
    void rebuildSeries();
    void rebuildLegend();
    // The line above the chart: what to do first, an empty trace, a full buffer.
    void updateHint();
    void updateLegendValues();
    void updateYControls();
    void updateScrollBar(const SignalRecorder::TimeWindow &w, double window);
    void updateMarker();
    void onSecondAxisToggled();
    void onMarkerToggled(bool on);
    void onCursorBToggled(bool on);
    void addSelectedSignal();
    void removeSelectedSignal();
    SignalRecorder &rec() { return m_traceMode ? m_traceRecorder : m_liveRecorder; }
    const SignalRecorder &rec() const { return recorder(); }
    // Brings the trace view up to the trace: new entries only, or all of it.
    void followTrace(bool full);
    // The shown data changed its source: view state and marker fit the new data.
    void onSourceChanged();

    // Drawing.
    // The extents of the shown signals' points, for the automatic axes.
    void measureShown(double dataEnd);
    void drawSeries();
    void updateAxisTitles();
    QString valueText(int index, double value) const;
    QString numberText(int index, double value) const;
    void chooseTraceColor(int index);

    // Navigation (plotwidgetnavigation.cpp).
    SignalRecorder::TimeWindow currentWindow(double latest) const;
    PlotZoom::View currentView() const;
    void applyView(const PlotZoom::View &view);
    void pushView();
    void setFreeWindow(double start, double width);
    void setManualY(const PlotZoom::Range &left, const PlotZoom::Range &right);
    void onWindowChosen(int index);
    bool scrollByWheel(QPoint angleDelta);
    // The fraction of the plot area under a point of the quick widget.
    QPointF plotFraction(const QPointF &at) const;
    // The time under the fraction x, snapped to the nearest sample of a
    // shown signal drawn within a few pixels of (x, y); `trace` gets its index.
    double snappedTime(double x, double y, int *trace) const;
    // The cursor's time moved into view when it lies outside the window.
    void bringIntoView(double t);
    void clampCursors();

    // The window combo's entry "frei", after the six presets.
    static constexpr int FreeWindowIndex = 6;

    std::unique_ptr<Ui::PlotWidget> ui;
    SignalRecorder m_liveRecorder;
    SignalRecorder m_traceRecorder;   // "Aus Trace": every point of the trace
    PlotChart *m_chart = nullptr;
    QPointer<QQuickItem> m_root;
    QPointer<QQuickItem> m_graph;
    PlotLegend *m_legend = nullptr;
    PlotData::WindowData m_shown;
    double m_dataEnd = 1.0;                 // end of the data range of the last refresh
    PlotZoom::Range m_yShown[2];            // the Y ranges last set, left and right
    QHash<QString, PlotStyle> m_styles;     // by the reference's text form
    QList<QPointF> m_drawn;                 // scratch list of the points handed to a series
    QTimer m_refreshTimer;

    bool m_markerPlaced = false;
    double m_markerTime = 0.0;
    double m_winStart = 0.0;
    double m_winEnd = 1.0;
    bool m_live = true;
    double m_scrollStart = 0.0;
    double m_pausedAt = 0.0;
    int m_wheelRemainder = 0;
    bool m_updatingScroll = false;

    // Zoom: a free window width instead of the combo's preset.
    bool m_free = false;
    double m_freeWidth = 10.0;
    int m_presetIndex = 1;          // the preset chosen before zooming
    PlotZoom::History m_history;
    bool m_wheelZooming = false;    // wheel notches in a row count as one step back

    // Cursor B, and the signal each cursor last snapped to (-1: none).
    bool m_cursorBPlaced = false;
    double m_cursorBTime = 0.0;
    int m_cursorTrace[2] = {-1, -1};

    QString m_sceneError;   // shown instead of the hint while the scene is unusable
    bool m_traceMode = false;
    TraceSource m_traceSource;
    TraceProbe m_traceProbe;
    TraceInfo m_traceFed;   // what the trace view was built from
    // Cursors A and B of the other source, kept while this one is shown.
    struct CursorPlaces
    {
        bool placed[2] = {false, false};
        double time[2] = {0.0, 0.0};
    };
    CursorPlaces m_cursorsOf[2];   // live, trace
};
