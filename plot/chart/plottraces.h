#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QQuickPaintedItem>

// The curves of the plot, drawn over the chart's plot area. The chart's own
// series lay out and paint every point through the graphics scene at each
// refresh, tens of milliseconds for ten curves of a few thousand points;
// this item maps the points to pixels itself: a curve with more points than
// the area has pixel columns becomes one vertical span per column, written
// straight into the picture, a sparser one an antialiased polyline, sample
// dots a small picture stamped per point.
//
// Points are in axis units; each curve is placed by the X range and its Y
// axis (left or right). The item covers exactly the plot area.
class PlotTraces : public QQuickPaintedItem
{
    Q_OBJECT

public:
    explicit PlotTraces(QQuickItem *parent = nullptr);

    void setCurveCount(int count);
    int curveCount() const { return int(m_curves.size()); }
    void setPoints(int index, const QList<QPointF> &points);
    void setDots(int index, const QList<QPointF> &points);
    void setColor(int index, const QColor &color);
    void setRightAxis(int index, bool right);
    void setCurveShown(int index, bool shown);
    void clearPoints();
    int pointCount(int index) const;
    int dotCount(int index) const;

    void setXRange(double min, double max);
    void setYRange(bool right, double min, double max);

    void paint(QPainter *painter) override;

    // The curves as drawn, for checks: transparent where nothing is.
    QImage picture();

private:
    struct Curve
    {
        QList<QPointF> points;
        QList<QPointF> dots;
        QColor color = Qt::black;
        QImage dot;            // the sample dot in the curve's colour
        bool right = false;
        bool shown = true;
    };

    void setList(int index, QList<QPointF> Curve::*list, const QList<QPointF> &points);
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;
    void changed();
    void render();
    void drawColumns(const Curve &curve, double xScale, double yScale, double yMax);
    void drawPolyline(QPainter &painter, const Curve &curve, double xScale, double yScale, double yMax);
    void drawDots(QPainter &painter, Curve &curve, double xScale, double yScale, double yMax);
    // Device pixels written straight into the picture, clipped to it.
    void line(double x0, double y0, double x1, double y1, quint32 pixel);
    void span(int column, double low, double high, quint32 pixel);

    QList<Curve> m_curves;
    double m_xMin = 0.0;
    double m_xMax = 1.0;
    double m_yMin[2] = {0.0, 0.0};
    double m_yMax[2] = {1.0, 1.0};
    QImage m_canvas;            // device pixels
    qreal m_ratio = 1.0;        // device pixels per item unit
    uchar *m_bits = nullptr;    // m_canvas's memory while it is drawn
    qsizetype m_bytesPerLine = 0;
    bool m_dirty = true;
    QList<QPointF> m_polyline;   // reused: no allocation per refresh
};
