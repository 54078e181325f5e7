#pragma once

#include "signalrecorder.h"

#include <QList>

// The arithmetic of zooming and panning the plot, apart from any widget:
// ranges are [min, max] pairs of one axis, positions are fractions of the
// plot area (0 at the left or bottom edge, 1 at the right or top edge).
namespace PlotZoom {

struct Range
{
    double min = 0.0;
    double max = 1.0;
    double span() const { return max - min; }
};

// The narrowest time window zooming reaches: a few bus time stamps.
constexpr double MinTimeSpan = 1e-4;
// Factor of the shown span per wheel notch (120 eighths of a degree) forward.
constexpr double WheelFactor = 0.8;

// The part [from, to] (fractions, in any order) of a range.
Range part(const Range &range, double from, double to);

// The range scaled by `factor` around the position `at` (a fraction), which
// stays where it is on screen.
Range around(const Range &range, double at, double factor);

// Factor of `angleDelta` eighths of a degree of wheel rotation: forward
// zooms in (factor < 1), backward out.
double wheelFactor(int angleDelta);

// A time window of free width, as the window combo's presets are computed
// by SignalRecorder::visibleWindow: following `latest` when live, else
// starting at `start`, never before 0. The scroll bar may reach past the
// newest values when the user put the window there.
SignalRecorder::TimeWindow freeWindow(double latest, double width, bool live, double start);

// One view of the plot, remembered for "Zoom zurück".
struct View
{
    int windowIndex = 1;      // preset of the window combo box
    bool free = false;        // a zoomed width instead of the preset
    double freeWidth = 10.0;
    bool live = true;
    double start = 0.0;       // window start when not live
    bool autoY = true;
    Range left;
    Range right{0.0, 10.0};

    bool operator==(const View &other) const;
};

// Views the user can step back to, newest last, at most Depth of them.
class History
{
public:
    static constexpr int Depth = 50;

    // Remembers a view unless it equals the newest one remembered.
    void push(const View &view);
    bool isEmpty() const { return m_views.isEmpty(); }
    int size() const { return int(m_views.size()); }
    View pop();
    void clear() { m_views.clear(); }

private:
    QList<View> m_views;
};

} // namespace PlotZoom
