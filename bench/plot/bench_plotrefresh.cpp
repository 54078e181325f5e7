// Cost of one plot refresh with 10 traces of 2,000,000 points each (one
// every 100 µs, 200 s), a long recording read through its summaries:
//   data path: window query + reduction (what the curves are handed), at
//   "Alles" and at 1 s windows at five places of the data;
//   full refresh of the plot widget including the drawing offscreen and the
//   events the chart needs to lay out its axes, at "Alles", at the shortest
//   window choice and at a 1 s zoom, each at five places;
//   box zoom and wheel zoom: the handler (which refreshes) alone, and until
//   the new view is drawn.
// Data-path figures are CPU and wall-clock milliseconds (the traces are
// reduced on several threads), drawing figures wall-clock milliseconds.
#include "../views/benchutil.h"
#include "plotdata.h"
#include "plotwidget.h"
#include "signalrecorder.h"
#include "symbolfile.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QQuickWidget>

#include <algorithm>
#include <cmath>
#include <functional>
#include <cstdio>

namespace {

constexpr int Traces = 10;
constexpr int Points = 2000000;
constexpr qint64 StepUs = 100;

std::shared_ptr<const SymbolDatabase> database()
{
    QByteArray text = "FormatVersion=6.0\n{RECEIVE}\n";
    for (int s = 0; s < Traces; ++s) {
        text += "[Sig" + QByteArray::number(s) + "]\nID=" + QByteArray::number(0x100 + s, 16)
            + "h\nLen=2\nVar=V signed 0,16 /f:0.01\n";
    }
    auto db = std::make_shared<SymbolDatabase>();
    db->loadData(text, QStringLiteral("bench.sym"));
    return db;
}

// Points per trace one every 100 µs: a noisy sine each.
template<typename Feed>
void feed(Feed &&handle)
{
    QList<CanFrame> batch;
    for (int i = 0; i < Points; ++i) {
        for (int s = 0; s < Traces; ++s) {
            CanFrame frame;
            frame.id = quint32(0x100 + s);
            frame.dlc = 2;
            // 64-bit: i * 7919 passes the int range, and overflow there
            // let the compiler turn this loop into one that never ends.
            const int value = int(10000 * std::sin(i * 0.0001 + s) + int(qint64(i) * 7919 % 400) - 200);
            frame.data[0] = quint8(value);
            frame.data[1] = quint8(value >> 8);
            frame.timestampUs = qint64(i) * StepUs + s;
            batch.append(frame);
        }
        if (batch.size() >= 100000) {
            handle(batch);
            batch.clear();
        }
    }
    handle(batch);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const auto db = database();

    {
        SignalRecorder recorder;
        recorder.setMaxPoints(Points);
        recorder.setSymbols(db);
        for (int s = 0; s < Traces; ++s)
            recorder.add({QStringLiteral("Sig%1").arg(s), QString(), QStringLiteral("V")});
        feed([&recorder](const QList<CanFrame> &frames) { recorder.handleFrames(frames); });
        PlotData::WindowData data;
        const double latest = recorder.latest();
        // "Alles", then 1 s windows at the start, a quarter, the middle, three quarters, the end.
        QList<std::pair<double, double>> windows{{0.0, 0.0}};
        for (double place : {0.0, 0.25, 0.5, 0.75, 1.0})
            windows.append({place * (latest - 1.0), 1.0});
        for (const auto &[start, width] : windows) {
            SignalRecorder::TimeWindow w = SignalRecorder::visibleWindow(latest, 0, true, 0);
            if (width > 0) {
                w.start = start;
                w.end = start + width;
            }
            const int rounds = 50;
            qint64 handed = 0;
            const double cpuStart = BenchUtil::cpuSeconds();
            QElapsedTimer wall;
            wall.start();
            for (int r = 0; r < rounds; ++r) {
                PlotData::collect(recorder, w, w.end, false, &data);
                for (const QList<QPointF> &points : std::as_const(data.points))
                    handed += points.size();
            }
            const double wallMs = wall.nsecsElapsed() / 1e6 / rounds;
            const double cpuMs = (BenchUtil::cpuSeconds() - cpuStart) * 1e3 / rounds;
            const QString name = width > 0 ? QStringLiteral("1 s at %1 s").arg(start, 0, 'f', 1) : QStringLiteral("\"Alles\"");
            std::printf("Refresh data path, %d traces x %d points, window %s: %.2f ms wall, %.2f ms CPU "
                        "(%lld points per refresh handed to the curves)\n",
                        Traces, int(recorder.traces().at(0).points.size()), qPrintable(name), wallMs, cpuMs,
                        handed / rounds);
        }
        {
            // The same reduction reading every point instead of the summaries.
            QList<QPointF> out;
            const int rounds = 5;
            const double cpu = BenchUtil::cpuSeconds();
            for (int r = 0; r < rounds; ++r) {
                for (const SignalRecorder::Trace &trace : recorder.traces()) {
                    out.resize(0);
                    PlotData::reduce(trace.points, 0, int(trace.points.size()), 0, recorder.latest(), &out);
                }
            }
            std::printf("  (\"Alles\" reduced without the summaries: %.2f ms CPU)\n", (BenchUtil::cpuSeconds() - cpu) * 1e3 / rounds);
        }
    }

    if (qEnvironmentVariableIsSet("BENCH_DATA_ONLY"))   // the drawing part needs a scene: skip it
        return 0;
    PlotWidget plot;
    plot.setMaxPoints(Points);
    plot.resize(1200, 700);
    plot.show();
    auto *quick = plot.findChild<QQuickWidget *>(QStringLiteral("quickWidget"));
    QElapsedTimer wait;
    wait.start();
    while (!plot.sceneRoot() && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    plot.setSymbols(db);
    for (int s = 0; s < Traces; ++s)
        plot.addSignal({QStringLiteral("Sig%1").arg(s), QString(), QStringLiteral("V")});
    feed([&plot](const QList<CanFrame> &frames) { plot.handleFrames(frames); });

    auto *windowCombo = plot.findChild<QComboBox *>(QStringLiteral("windowCombo"));
    const double latest = plot.recorder().latest();
    // What a refresh of the running program comes to: the chart lays out
    // moved axes in posted events, then the scene is drawn.
    const auto drawNow = [&] {
        for (int k = 0; k < 3; ++k)
            QCoreApplication::processEvents();
        quick->grabFramebuffer();
    };
    const auto report = [](const QString &what, const QList<qint64> &spentNs, const char *extra = "") {
        qint64 total = 0;
        qint64 worst = 0;
        for (qint64 spent : spentNs) {
            total += spent;
            worst = std::max(worst, spent);
        }
        std::printf("%s: %.1f ms mean, %.1f ms worst of %d%s\n", qPrintable(what), total / 1e6 / spentNs.size(),
                    worst / 1e6, int(spentNs.size()), extra);
    };
    const auto timeRefresh = [&](const QString &name) {
        plot.refresh();
        drawNow();
        QList<qint64> spent;
        for (int r = 0; r < 20; ++r) {
            QElapsedTimer clock;
            clock.start();
            plot.refresh();
            drawNow();
            spent.append(clock.nsecsElapsed());
        }
        qint64 points = 0;
        for (const QList<QPointF> &list : plot.shownData().points)
            points += list.size();
        report(QStringLiteral("Full refresh with drawing, window %1 (%2 points drawn)").arg(name).arg(points), spent);
    };
    windowCombo->setCurrentIndex(windowCombo->findText(QStringLiteral("Alles")));
    timeRefresh(QStringLiteral("\"Alles\""));
    windowCombo->setCurrentIndex(0);
    const double shortest = plot.windowSeconds();
    for (double place : {0.0, 0.25, 0.5, 0.75, 1.0}) {
        const double start = place * (latest - shortest);
        plot.scrollTo(start);
        timeRefresh(QStringLiteral("%1 s at %2 s").arg(shortest).arg(start, 0, 'f', 1));
    }
    windowCombo->setCurrentIndex(windowCombo->findText(QStringLiteral("Alles")));
    for (double place : {0.0, 0.25, 0.5, 0.75, 1.0}) {
        plot.showAll();
        const double start = place * (latest - 1.0);
        plot.zoomToBox(QRectF(start / latest, 0.0, 1.0 / latest, 1.0));
        timeRefresh(QStringLiteral("zoomed to 1 s at %1 s").arg(start, 0, 'f', 1));
    }

    // What the user waits for after a gesture, from "Alles" each time: the
    // handler (which refreshes), and until the new view is drawn.
    const auto timeGesture = [&](const char *name, const std::function<void()> &gesture) {
        QList<qint64> handler;
        QList<qint64> drawn;
        for (int r = 0; r < 20; ++r) {
            plot.showAll();
            drawNow();
            QElapsedTimer clock;
            clock.start();
            gesture();
            handler.append(clock.nsecsElapsed());
            drawNow();
            drawn.append(clock.nsecsElapsed());
        }
        report(QStringLiteral("%1 from \"Alles\", handler and refresh").arg(QLatin1String(name)), handler);
        report(QStringLiteral("%1 from \"Alles\", until drawn with its axes").arg(QLatin1String(name)), drawn);
    };
    timeGesture("Box zoom to the middle fifth", [&] { plot.zoomToBox(QRectF(0.4, 0.2, 0.2, 0.6)); });
    timeGesture("Wheel zoom one notch", [&] { plot.wheelZoom(QPointF(0.5, 0.5), 120); });
    timeGesture("Box zoom to 1 s", [&] { plot.zoomToBox(QRectF(0.5, 0.0, 1.0 / latest, 1.0)); });
    return 0;
}
