// Cost of one plot refresh with 10 traces of 200,000 points each:
//   data path: window query + reduction + QXYSeries::replace (no drawing);
//   full refresh of the plot widget including Qt Charts' drawing offscreen,
//   for the windows "Alles" and "10 s".
// Figures are wall-clock milliseconds per refresh (drawing happens partly
// outside this process's own CPU accounting, in the render loop).
#include "../views/benchutil.h"
#include "plotdata.h"
#include "plotwidget.h"
#include "signalrecorder.h"
#include "symbolfile.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QQuickWidget>
#include <QtCharts/QLineSeries>

#include <cmath>
#include <cstdio>

namespace {

constexpr int Traces = 10;
constexpr int Points = 200000;

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

// 200,000 points per trace over 2,000 s: a noisy sine each.
template<typename Feed>
void feed(Feed &&handle)
{
    QList<CanFrame> batch;
    for (int i = 0; i < Points; ++i) {
        for (int s = 0; s < Traces; ++s) {
            CanFrame frame;
            frame.id = quint32(0x100 + s);
            frame.dlc = 2;
            const int value = int(10000 * std::sin(i * 0.001 + s) + (i * 7919 % 400) - 200);
            frame.data[0] = quint8(value);
            frame.data[1] = quint8(value >> 8);
            frame.timestampUs = qint64(i) * 10000 + s;
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
        recorder.setSymbols(db);
        for (int s = 0; s < Traces; ++s)
            recorder.add({QStringLiteral("Sig%1").arg(s), QString(), QStringLiteral("V")});
        feed([&recorder](const QList<CanFrame> &frames) { recorder.handleFrames(frames); });
        QList<QLineSeries *> series;
        for (int s = 0; s < Traces; ++s)
            series.append(new QLineSeries(&app));

        PlotData::WindowData data;
        const int rounds = 50;
        const double cpuStart = BenchUtil::cpuSeconds();
        qint64 handed = 0;
        for (int r = 0; r < rounds; ++r) {
            const SignalRecorder::TimeWindow w = SignalRecorder::visibleWindow(recorder.latest(), 0, true, 0);
            PlotData::collect(recorder, w, w.end, false, &data);
            for (int s = 0; s < Traces; ++s) {
                series.at(s)->replace(data.points.at(s));
                handed += data.points.at(s).size();
            }
        }
        const double cpuSpent = BenchUtil::cpuSeconds() - cpuStart;
        std::printf("Refresh data path, %d traces x %d points, window \"Alles\": %.2f ms CPU "
                    "(%lld points per refresh handed to the series)\n",
                    Traces, int(recorder.traces().at(0).points.size()), cpuSpent * 1e3 / rounds, handed / rounds);
        {
            const double cpu = BenchUtil::cpuSeconds();
            for (int r = 0; r < rounds; ++r) {
                const SignalRecorder::TimeWindow w = SignalRecorder::visibleWindow(recorder.latest(), 0, true, 0);
                PlotData::collect(recorder, w, w.end, false, &data);
            }
            std::printf("  of which window query and reduction: %.2f ms CPU\n", (BenchUtil::cpuSeconds() - cpu) * 1e3 / rounds);
        }
        {
            // The same reduction reading every point instead of the summaries.
            QList<QPointF> out;
            const double cpu = BenchUtil::cpuSeconds();
            for (int r = 0; r < rounds; ++r) {
                for (const SignalRecorder::Trace &trace : recorder.traces()) {
                    out.resize(0);
                    PlotData::reduce(trace.points, 0, int(trace.points.size()), 0, recorder.latest(), &out);
                }
            }
            std::printf("  (reduction without block summaries: %.2f ms CPU)\n", (BenchUtil::cpuSeconds() - cpu) * 1e3 / rounds);
        }
    }

    if (qEnvironmentVariableIsSet("BENCH_DATA_ONLY"))   // the drawing part needs a scene: skip it
        return 0;
    PlotWidget plot;
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
    for (int choice : {5, 1}) {
        windowCombo->setCurrentIndex(choice);
        plot.refresh();
        quick->grabFramebuffer();
        const int rounds = 20;
        QElapsedTimer clock;
        clock.start();
        for (int r = 0; r < rounds; ++r) {
            plot.refresh();
            quick->grabFramebuffer();   // forces the scene to be drawn now
        }
        qint64 points = 0;
        for (const QList<QPointF> &list : plot.shownData().points)
            points += list.size();
        std::printf("Full refresh with drawing (Qt Charts offscreen, antialiased), window \"%s\": %.1f ms "
                    "(%lld points drawn)\n",
                    qPrintable(windowCombo->currentText()), clock.nsecsElapsed() / 1e6 / rounds, points);
    }
    return 0;
}
