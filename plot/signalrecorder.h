#pragma once

#include "canframe.h"
#include "plotsignalref.h"

#include <QList>
#include <QPointF>
#include <QString>
#include <QVarLengthArray>

#include <memory>
#include <utility>
#include <vector>

class SymbolDatabase;

// Time series of the physical values of the plotted signals, fed with the
// received frames. Plain object owned by the plot; GUI thread only.
class SignalRecorder
{
public:
    // Summary of a run of BlockPoints consecutive points, so that reducing a
    // long window reads one summary instead of every point of a run that lies
    // wholly inside one bucket. The extremes are the first points reaching the
    // lowest and highest y, ignoring NaN y (a per-point scan never picks those
    // up either); a run with only NaN y has NaN extremes.
    static constexpr int BlockPoints = 16;
    struct PointBlock
    {
        double maxX = 0.0;   // largest x of the run, +inf when an x is NaN
        double lowY = 0.0;
        double highY = 0.0;
        quint8 low = 0;      // offset of the lowest point in the run
        quint8 high = 0;     // offset of the highest point
    };

    struct Trace
    {
        PlotSignalRef ref;
        QString unit;
        bool resolved = false;
        QList<QPointF> points;   // x: seconds since the time origin, y: physical value
        double last = 0.0;
        double min = 0.0;
        double max = 0.0;
        qint64 count = 0;        // values since the last clear, not reduced by thinning
        int axis = 0;            // 0 left, 1 right
        QList<PointBlock> blocks;   // one per BlockPoints points, the last one possibly partial
    };

    struct TimeWindow
    {
        double start = 0.0;
        double end = 1.0;
        double maxStart = 0.0;
    };

    void setSymbols(std::shared_ptr<const SymbolDatabase> symbols);
    const std::shared_ptr<const SymbolDatabase> &symbols() const { return m_symbols; }

    bool add(const PlotSignalRef &ref);
    void remove(int index);
    void setAxis(int index, int axis);
    void clearData();
    void handleFrames(const QList<CanFrame> &frames);

    const QList<Trace> &traces() const { return m_traces; }
    double latest() const { return m_latest; }
    int maxPoints() const { return m_maxPoints; }
    void setMaxPoints(int maxPoints) { m_maxPoints = maxPoints; }

    static TimeWindow visibleWindow(double latest, double windowSeconds, bool live, double scrollStart);
    // [first, last) of the points inside [from, to], plus one neighbour on each side.
    static std::pair<int, int> visibleRange(const QList<QPointF> &points, double from, double to);
    // Sample and hold: the last value at or before t.
    static bool valueAt(const QList<QPointF> &points, double t, double *out);
    // Recomputes the block summaries of a point list.
    static void summarize(const QList<QPointF> &points, QList<PointBlock> *blocks);
    static QList<PlotSignalRef> availableSignals(const SymbolDatabase &db);
    // The plottable signals whose display names ("Motor.Drehzahl",
    // "Motor[Mux1].Temp") are given, in the given order; names that match
    // none go to `unknown`.
    static QList<PlotSignalRef> signalsNamed(const SymbolDatabase &db, const QStringList &names,
                                             QStringList *unknown);

private:
    struct Slot
    {
        int trace;
        int variable;
    };

    void resolve();
    void record(Trace &trace, double t, double value);
    // Adds point `index` (the next one of the list) to the block summaries.
    static void summarizePoint(qsizetype index, const QPointF &point, QList<PointBlock> *blocks);

    std::shared_ptr<const SymbolDatabase> m_symbols;
    QList<Trace> m_traces;
    // Indexed by the position of a symbol in the database's message list;
    // rebuilt by resolve(), never per frame.
    std::vector<QVarLengthArray<Slot, 2>> m_lookup;
    bool m_hasLookup = false;
    bool m_started = false;
    qint64 m_origin = 0;
    double m_latest = 0.0;
    int m_maxPoints = 200000;
};
