#pragma once

#include "canframe.h"
#include "markerrow.h"
#include "plotdata.h"
#include "plotsignalref.h"
#include "signalrecorder.h"

#include <QImage>
#include <QPointer>
#include <QQuickItem>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class PlotChart;
class QComboBox;
class SymbolDatabase;

namespace Ui {
class PlotWidget;
}

// The "Plotter" tab: the recorded signals over time in a QML chart, with a
// legend table, time window, Y ranges, a second Y axis, pause, scrolling, a
// marker and image export. Owns the signal recorder; GUI thread only.
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

    void setSecondAxisEnabled(bool enabled);
    bool axis2Enabled() const;
    void setTraceAxis(int index, int axis);
    double windowSeconds() const;

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

    void saveSettings() const;
    void loadSettings();

    // The recording shown: the live one, or the trace's with "Aus Trace".
    const SignalRecorder &recorder() const { return m_traceMode ? m_traceRecorder : m_liveRecorder; }
    const SignalRecorder &liveRecorder() const { return m_liveRecorder; }
    // The chart's data of the last refresh, for checks and the export.
    const PlotData::WindowData &shownData() const { return m_shown; }
    QQuickItem *sceneRoot() const { return m_root; }

public slots:
    void refresh();

signals:
    void markerChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    // The scene's markerDragged(real): a fraction of the plot area's width.
    void onMarkerDragged(double fraction);

private:
    void onSceneStatus();
    void rebuildSeries();
    void rebuildLegend();
    void updateLegendValues();
    void updateYControls();
    void updateScrollBar(const SignalRecorder::TimeWindow &w, double window);
    void updateMarker();
    void onSecondAxisToggled();
    void onMarkerToggled(bool on);
    void addSelectedSignal();
    void removeSelectedSignal();
    QString legendText(int index) const;
    SignalRecorder &rec() { return m_traceMode ? m_traceRecorder : m_liveRecorder; }
    const SignalRecorder &rec() const { return recorder(); }
    // Brings the trace view up to the trace: new entries only, or all of it.
    void followTrace(bool full);
    // The shown data changed its source: view state and marker fit the new data.
    void onSourceChanged();

    std::unique_ptr<Ui::PlotWidget> ui;
    SignalRecorder m_liveRecorder;
    SignalRecorder m_traceRecorder;   // "Aus Trace": every point of the trace
    PlotChart *m_chart = nullptr;
    QPointer<QQuickItem> m_root;
    QPointer<QQuickItem> m_graph;
    QList<QPointer<QComboBox>> m_axisCombos;
    PlotData::WindowData m_shown;
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

    QString m_sceneError;   // shown instead of the hint while the scene is unusable
    bool m_traceMode = false;
    TraceSource m_traceSource;
    TraceProbe m_traceProbe;
    TraceInfo m_traceFed;   // what the trace view was built from
};
