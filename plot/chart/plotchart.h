#pragma once

#include <QColor>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QString>

class QAbstractAxis;
class QAbstractSeries;
class QQuickItem;
class QValueAxis;
class QXYSeries;
class PlotTraces;

// The only place that talks to the chart library (the QML ChartView of Qt
// Charts): axes, line series and their ranges. Moving to another chart
// module touches this file pair and the scene alone. The chart draws the
// axes, the grid and the plot area; the curves are drawn by PlotTraces over
// the plot area, and the chart's series stay empty: they only carry a
// signal's name and its axis.
//
// The chart owns what is attached to it; this object only points at it, so
// it never deletes a series or an axis the scene has already destroyed.
class PlotChart : public QObject
{
    Q_OBJECT

public:
    struct SeriesSpec
    {
        QString name;
        QColor color;
        bool rightAxis = false;
    };

    explicit PlotChart(QObject *parent = nullptr);

    // The scene's file, as a program resource.
    static QUrl sceneUrl();

    // Takes the scene's chart item and creates the three axes; false when
    // the item is no chart.
    bool attach(QQuickItem *graph);
    bool isReady() const { return !m_graph.isNull(); }

    // Removes every series and creates one for each entry of the list, in
    // order (later ones drawn above earlier ones).
    void setSeries(const QList<SeriesSpec> &specs);
    int seriesCount() const { return int(m_series.size()); }
    void setSeriesAxis(int index, bool rightAxis);
    void setSeriesColor(int index, const QColor &color);
    void setSeriesVisible(int index, bool visible);
    // One call per refresh and series: the points are handed over as a whole.
    void replace(int index, const QList<QPointF> &points);
    void replaceDots(int index, const QList<QPointF> &points);
    void clearPoints();
    // Number of points a curve holds, and of its sample dots, for checks.
    int pointCount(int index) const;
    int dotCount(int index) const;
    // The item that draws the curves (null before attach).
    PlotTraces *traces() const;
    void setXRange(double min, double max);
    void setYRange(double min, double max);
    void setY2Range(double min, double max);
    void setY2Visible(bool visible);
    // Axis titles, rich text (the units in their signals' colours).
    void setYTitles(const QString &left, const QString &right);
    void setXTitle(const QString &title);
    QString yTitle(bool right) const;

private slots:
    void placeTraces();

private:
    QPointer<QQuickItem> m_graph;
    QPointer<PlotTraces> m_traces;
    QPointer<QValueAxis> m_axisX;
    QPointer<QValueAxis> m_axisY;
    QPointer<QValueAxis> m_axisY2;
    bool m_y2InChart = false;
    QList<QPointer<QXYSeries>> m_series;
};
