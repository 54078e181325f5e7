#pragma once

#include "canframe.h"
#include "plotpyramid.h"
#include "plotsignalref.h"

#include <QList>
#include <QPointF>
#include <QString>
#include <QVarLengthArray>

#include <memory>
#include <utility>
#include <vector>

class SymbolDatabase;
struct SymVariable;

// Time series of the physical values of the plotted signals, fed with the
// received frames. Plain object owned by the plot; GUI thread only.
class SignalRecorder
{
public:
    struct Trace
    {
        PlotSignalRef ref;
        QString unit;
        bool resolved = false;
        // x: seconds since the time origin, y: physical value; in arrival order,
        // so x may go backwards when clocks are mixed: search with the
        // functions below, which keep working then.
        QList<QPointF> points;
        double last = 0.0;
        double min = 0.0;
        double max = 0.0;
        qint64 count = 0;        // values since the last clear, not reduced by thinning
        int axis = 0;            // 0 left, 1 right
        PlotPyramid pyramid;     // summary of `points`, for reduction, statistics and searches
        const SymVariable *variable = nullptr;   // in the recorder's database; null when unresolved
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
    // Traces holding more lose their oldest points at once.
    void setMaxPoints(int maxPoints);
    // Points dropped for the limit since the last clear, over all traces.
    qint64 droppedPoints() const { return m_droppedPoints; }
    // The points kept per signal that the setting "plot/maxPoints" may ask for.
    static constexpr int DefaultMaxPoints = 200000;
    static constexpr int MinMaxPoints = 1000;
    static constexpr int MaxMaxPoints = 20000000;
    // Bus time stamp (µs) of the first recorded frame, the time origin.
    bool started() const { return m_started; }
    qint64 origin() const { return m_origin; }
    // Bytes held by the points and their summaries.
    qint64 memoryBytes() const;

    static TimeWindow visibleWindow(double latest, double windowSeconds, bool live, double scrollStart);
    // [first, last) of the points inside [from, to], plus one neighbour on each
    // side, for a list in time order.
    static std::pair<int, int> visibleRange(const QList<QPointF> &points, double from, double to);
    // Sample and hold: the last value at or before t, for a list in time order.
    static bool valueAt(const QList<QPointF> &points, double t, double *out);

    // The same and the cursor's searches on a trace. They search the running
    // maximum of the time, so points after a step back in time count as
    // following the latest time before them; for points in time order this
    // is the plain meaning. Indexes into trace.points, -1 for none.
    static std::pair<int, int> visibleRange(const Trace &trace, double from, double to);
    static bool valueAt(const Trace &trace, double t, double *out);
    static int indexAtOrBefore(const Trace &trace, double t);   // the sample shown at t
    static int nearestIndex(const Trace &trace, double t);      // the sample closest in time
    static int nextIndex(const Trace &trace, double t);         // first sample later than t
    static int previousIndex(const Trace &trace, double t);     // last sample earlier than t

    // Only numbers can be plotted: strings and raw bytes cannot.
    static bool isPlottable(const SymVariable &variable);
    // False with a German message when the signal is unknown or no number.
    static bool checkPlottable(const SymbolDatabase &db, const PlotSignalRef &ref, QString *error);
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

    std::shared_ptr<const SymbolDatabase> m_symbols;
    QList<Trace> m_traces;
    // Indexed by the position of a symbol in the database's message list;
    // rebuilt by resolve(), never per frame.
    std::vector<QVarLengthArray<Slot, 2>> m_lookup;
    bool m_hasLookup = false;
    bool m_started = false;
    qint64 m_origin = 0;
    double m_latest = 0.0;
    int m_maxPoints = DefaultMaxPoints;
    qint64 m_droppedPoints = 0;
};
