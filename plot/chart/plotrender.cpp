#include "plotrender.h"

#include "plotchart.h"
#include "plotdata.h"
#include "signalrecorder.h"

#include <QApplication>
#include <QQmlError>
#include <QQuickItem>
#include <QQuickView>

QCoreApplication *PlotRender::createApplication(int &argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
}

QImage PlotRender::renderChart(const SignalRecorder &recorder, const QSize &size, QString *error)
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

    const SignalRecorder::TimeWindow w = SignalRecorder::visibleWindow(recorder.latest(), 0, true, 0);
    PlotData::WindowData data;
    PlotData::collect(recorder, w, w.end, false, &data);
    for (int i = 0; i < data.points.size(); ++i)
        chart->replace(i, data.points.at(i));
    chart->setXRange(w.start, w.end);
    const PlotData::Range y = PlotData::autoRange(data.min[0], data.max[0]);
    chart->setYRange(y.min, y.max);
    chart->setY2Visible(false);

    QImage image = view.grabWindow();
    if (image.isNull() && error)
        *error = QCoreApplication::translate("PlotRender", "Das Diagramm konnte nicht gezeichnet werden.");
    return image;
}
