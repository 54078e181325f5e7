#include "plotrender.h"

#include "plotchart.h"
#include "plotdata.h"
#include "signalrecorder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QQmlError>
#include <QQuickItem>
#include <QQuickView>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>

namespace {

bool onlyWhite(const QImage &image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            if ((line[x] & 0xFFFFFF) != 0xFFFFFF)
                return false;
        }
    }
    return true;
}

} // namespace

QCoreApplication *PlotRender::createApplication(int &argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#ifndef Q_OS_WIN
    // Without a session (cron, ssh, CI) Qt would make up a runtime directory
    // and warn about it on stderr; a private one of our own is quiet.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        static QTemporaryDir runtimeDir;
        if (runtimeDir.isValid())
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
    }
#endif
    return new QApplication(argc, argv);
}

QImage PlotRender::renderChart(const SignalRecorder &recorder, const QSize &size, QString *error, double from,
                               double to)
{
    QQuickView view;
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.setColor(Qt::white);
    view.setSource(PlotChart::sceneUrl());
    QQuickItem *root = view.rootObject();
    QQuickItem *graph = root ? root->findChild<QQuickItem *>(QStringLiteral("graph")) : nullptr;
    auto *chart = new PlotChart(&view);
    if (!graph || !chart->attach(graph)) {
        if (error) {
            QStringList texts;
            for (const QQmlError &qmlError : view.errors())
                texts << qmlError.toString();
            *error = texts.isEmpty() ? QCoreApplication::translate("PlotRender", "Diagramm nicht gefunden.")
                                     : texts.join(QLatin1Char('\n'));
        }
        return QImage();
    }
    view.resize(size);
    view.show();

    QList<PlotChart::SeriesSpec> specs;
    const QList<SignalRecorder::Trace> &traces = recorder.traces();
    for (int i = 0; i < traces.size(); ++i)
        specs.append({traces.at(i).ref.displayName(), PlotData::color(i), false});
    chart->setSeries(specs);

    SignalRecorder::TimeWindow w = SignalRecorder::visibleWindow(recorder.latest(), 0, true, 0);
    if (from <= to) {
        w.start = from;
        w.end = std::max(to, from + 1e-6);
    }
    PlotData::WindowData data;
    PlotData::collect(recorder, w, w.end, false, &data);
    for (int i = 0; i < data.points.size(); ++i)
        chart->replace(i, data.points.at(i));
    chart->setXRange(w.start, w.end);
    const PlotData::Range y = PlotData::autoRange(data.min[0], data.max[0]);
    chart->setYRange(y.min, y.max);
    chart->setY2Visible(false);

    // The chart draws its scene asynchronously: let the event loop run until
    // the picture holds more than the white background (at most 5 s).
    QImage image;
    QElapsedTimer clock;
    clock.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        image = view.grabWindow();
    } while (clock.elapsed() < 5000 && (image.isNull() || onlyWhite(image)));
    if (image.isNull() && error)
        *error = QCoreApplication::translate("PlotRender", "Das Diagramm konnte nicht gezeichnet werden.");
    return image;
}
