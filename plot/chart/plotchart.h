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

// The only place that talks to the chart library (the QML ChartView of Qt
// Charts): axes, line series, their points and ranges. Moving to another
// chart module touches this file pair and the scene alone.
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
    // order: a line and, above it, the sample dots of the same signal.
    void setSeries(const QList<SeriesSpec> &specs);
    int seriesCount() const { return int(m_series.size()); }
    void setSeriesAxis(int index, bool rightAxis);
    void setSeriesColor(int index, const QColor &color);
    void setSeriesVisible(int index, bool visible);
    // One call per refresh and series: the points are handed over as a whole.
    void replace(int index, const QList<QPointF> &points);
    void replaceDots(int index, const QList<QPointF> &points);
    void clearPoints();
    // Number of points a series holds, for checks.
    int pointCount(int index) const;
    int dotCount(int index) const;

    // True when setting these ranges would move an axis. Points already in
    // the series are laid out again at every axis move, so a caller that is
    // about to replace them all empties the series first.
    bool rangesChange(double xMin, double xMax, double yMin, double yMax, double y2Min, double y2Max) const;
    void setXRange(double min, double max);
    void setYRange(double min, double max);
    void setY2Range(double min, double max);
    void setY2Visible(bool visible);
    // Axis titles, rich text (the units in their signals' colours).
    void setYTitles(const QString &left, const QString &right);
    void setXTitle(const QString &title);
    QString yTitle(bool right) const;

private:
    QPointer<QQuickItem> m_graph;
    QPointer<QValueAxis> m_axisX;
    QPointer<QValueAxis> m_axisY;
    QPointer<QValueAxis> m_axisY2;
    bool m_y2InChart = false;
    QList<QPointer<QXYSeries>> m_series;
    QList<QPointer<QXYSeries>> m_dots;
};
