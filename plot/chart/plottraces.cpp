#include "plottraces.h"

#include <QPainter>
#include <QQuickWindow>

#include <algorithm>
#include <cmath>

namespace {

// Pixel coordinates far beyond the picture are cut to this, so that they
// stay finite and convert to integers safely; the geometry of what is seen
// changes only for values beyond any plausible axis.
constexpr double Far = 1e12;

double limited(double v)
{
    return v < -Far ? -Far : v > Far ? Far : v;
}

// Cuts the segment to [left, right] × [top, bottom] (Liang–Barsky); false
// when nothing of it lies inside.
bool clipSegment(double &x0, double &y0, double &x1, double &y1, double left, double top, double right, double bottom)
{
    const double dx = x1 - x0;
    const double dy = y1 - y0;
    double t0 = 0.0;
    double t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x0 - left, right - x0, y0 - top, bottom - y0};
    for (int k = 0; k < 4; ++k) {
        if (p[k] == 0.0) {
            if (q[k] < 0.0)
                return false;
            continue;
        }
        const double t = q[k] / p[k];
        if (p[k] < 0.0) {
            if (t > t1)
                return false;
            t0 = std::max(t0, t);
        } else {
            if (t < t0)
                return false;
            t1 = std::min(t1, t);
        }
    }
    const double sx = x0;
    const double sy = y0;
    x0 = sx + t0 * dx;
    y0 = sy + t0 * dy;
    x1 = sx + t1 * dx;
    y1 = sy + t1 * dy;
    return true;
}

} // namespace

PlotTraces::PlotTraces(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setRenderTarget(QQuickPaintedItem::Image);
    setAntialiasing(false);   // the picture is made at pixel size: no smoothing when it is shown
}

void PlotTraces::setCurveCount(int count)
{
    m_curves.resize(std::max(count, 0));
    changed();
}

void PlotTraces::setPoints(int index, const QList<QPointF> &points)
{
    setList(index, &Curve::points, points);
}

void PlotTraces::setDots(int index, const QList<QPointF> &points)
{
    setList(index, &Curve::dots, points);
}

void PlotTraces::setList(int index, QList<QPointF> Curve::*list, const QList<QPointF> &points)
{
    if (index < 0 || index >= m_curves.size())
        return;
    QList<QPointF> &kept = m_curves[index].*list;
    if (points.isEmpty() && kept.isEmpty())
        return;   // an empty curve stays empty: nothing to draw anew
    kept = points;
    changed();
}

void PlotTraces::setColor(int index, const QColor &color)
{
    if (index < 0 || index >= m_curves.size() || m_curves.at(index).color == color)
        return;
    m_curves[index].color = color;
    m_curves[index].dot = QImage();
    changed();
}

void PlotTraces::setRightAxis(int index, bool right)
{
    if (index < 0 || index >= m_curves.size() || m_curves.at(index).right == right)
        return;
    m_curves[index].right = right;
    changed();
}

void PlotTraces::setCurveShown(int index, bool shown)
{
    if (index < 0 || index >= m_curves.size() || m_curves.at(index).shown == shown)
        return;
    m_curves[index].shown = shown;
    changed();
}

void PlotTraces::clearPoints()
{
    for (Curve &curve : m_curves) {
        curve.points.clear();
        curve.dots.clear();
    }
    changed();
}

int PlotTraces::pointCount(int index) const
{
    return index >= 0 && index < m_curves.size() ? int(m_curves.at(index).points.size()) : 0;
}

int PlotTraces::dotCount(int index) const
{
    return index >= 0 && index < m_curves.size() ? int(m_curves.at(index).dots.size()) : 0;
}

void PlotTraces::setXRange(double min, double max)
{
    if (min == m_xMin && max == m_xMax)
        return;
    m_xMin = min;
    m_xMax = max;
    changed();
}

void PlotTraces::setYRange(bool right, double min, double max)
{
    const int axis = right ? 1 : 0;
    if (min == m_yMin[axis] && max == m_yMax[axis])
        return;
    m_yMin[axis] = min;
    m_yMax[axis] = max;
    changed();
}

void PlotTraces::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size())
        changed();
}

void PlotTraces::changed()
{
    m_dirty = true;
    update();
}

QImage PlotTraces::picture()
{
    if (m_dirty)
        render();
    return m_canvas;
}

void PlotTraces::paint(QPainter *painter)
{
    if (m_dirty)
        render();
    painter->setCompositionMode(QPainter::CompositionMode_Source);
    painter->drawImage(QRectF(0, 0, width(), height()), m_canvas);
}

void PlotTraces::render()
{
    m_dirty = false;
    m_ratio = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    const QSize size(std::max(0, int(std::lround(width() * m_ratio))),
                     std::max(0, int(std::lround(height() * m_ratio))));
    if (m_canvas.size() != size)
        m_canvas = QImage(size, QImage::Format_ARGB32_Premultiplied);
    m_canvas.fill(Qt::transparent);
    if (size.isEmpty() || !(m_xMax > m_xMin))
        return;
    m_bits = m_canvas.bits();
    m_bytesPerLine = m_canvas.bytesPerLine();

    QPainter painter(&m_canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    const double xScale = size.width() / (m_xMax - m_xMin);
    if (!std::isfinite(xScale))
        return;   // a range too narrow to divide by: nothing can be placed
    for (Curve &curve : m_curves) {
        const int axis = curve.right ? 1 : 0;
        if (!curve.shown || !(m_yMax[axis] > m_yMin[axis]))
            continue;
        const double yScale = size.height() / (m_yMax[axis] - m_yMin[axis]);
        if (!std::isfinite(yScale))
            continue;
        // More points than columns: per column the span they cover is all
        // that can be seen, and far cheaper than stroking every segment.
        if (curve.points.size() > size.width())
            drawColumns(curve, xScale, yScale, m_yMax[axis]);
        else if (curve.points.size() > 1)
            drawPolyline(painter, curve, xScale, yScale, m_yMax[axis]);
        if (!curve.dots.isEmpty())
            drawDots(painter, curve, xScale, yScale, m_yMax[axis]);
    }
}

void PlotTraces::drawColumns(const Curve &curve, double xScale, double yScale, double yMax)
{
    const quint32 pixel = qPremultiply(curve.color.rgba());
    const int width = m_canvas.width();
    bool have = false;
    int column = 0;
    double low = 0.0;
    double high = 0.0;
    double lastX = 0.0;
    double lastY = 0.0;
    for (const QPointF &point : curve.points) {
        if (!std::isfinite(point.x()) || !std::isfinite(point.y())) {
            // No number: the curve is broken here, as a line series breaks it.
            if (have)
                span(column, low, high, pixel);
            have = false;
            continue;
        }
        const double x = limited((point.x() - m_xMin) * xScale);
        const double y = limited((yMax - point.y()) * yScale);
        const int c = x < 0.0 ? -1 : x >= width ? width : int(x);
        if (have && c == column) {
            low = std::min(low, y);
            high = std::max(high, y);
        } else {
            if (have) {
                span(column, low, high, pixel);
                if (c == column + 1 && column >= 0 && c < width) {
                    // The next column starts where this one ended.
                    low = std::min(lastY, y);
                    high = std::max(lastY, y);
                } else {
                    // A gap, a point outside or time going back: a plain line.
                    line(lastX, lastY, x, y, pixel);
                    low = high = y;
                }
            } else {
                low = high = y;
            }
            column = c;
            have = true;
        }
        lastX = x;
        lastY = y;
    }
    if (have)
        span(column, low, high, pixel);
}

void PlotTraces::span(int column, double low, double high, quint32 pixel)
{
    const int height = m_canvas.height();
    if (column < 0 || column >= m_canvas.width() || high < -1.0 || low > height + 1.0)
        return;
    // Two pixels high at least, as thick as the lines.
    const int top = std::max(0, int(std::floor(std::max(low, -2.0) - 0.5)));
    const int bottom = std::min(height - 1, int(std::floor(std::min(high, height + 2.0) + 0.5)));
    uchar *at = m_bits + qsizetype(top) * m_bytesPerLine + qsizetype(column) * 4;
    for (int row = top; row <= bottom; ++row, at += m_bytesPerLine)
        *reinterpret_cast<quint32 *>(at) = pixel;
}

void PlotTraces::line(double x0, double y0, double x1, double y1, quint32 pixel)
{
    const int width = m_canvas.width();
    const int height = m_canvas.height();
    if (!clipSegment(x0, y0, x1, y1, 0.0, -1.0, width - 1e-9, height))
        return;
    const int steps = int(std::ceil(std::max(std::fabs(x1 - x0), std::fabs(y1 - y0)))) + 1;
    for (int k = 0; k <= steps; ++k) {
        const double t = double(k) / steps;
        const int column = int(x0 + t * (x1 - x0));
        const double y = y0 + t * (y1 - y0);
        span(column, y, y, pixel);
    }
}

void PlotTraces::drawPolyline(QPainter &painter, const Curve &curve, double xScale, double yScale, double yMax)
{
    QPen pen(curve.color, 2.0 * m_ratio);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    // Segments are cut to the picture (with a margin for the pen) before the
    // painter sees them: coordinates far outside distort its stroking.
    const double left = -4.0;
    const double top = -4.0;
    const double right = m_canvas.width() + 4.0;
    const double bottom = m_canvas.height() + 4.0;
    const auto flush = [&] {
        if (m_polyline.size() > 1)
            painter.drawPolyline(m_polyline.constData(), int(m_polyline.size()));
        m_polyline.resize(0);
    };
    bool have = false;
    double lastX = 0.0;
    double lastY = 0.0;
    for (const QPointF &point : curve.points) {
        if (!std::isfinite(point.x()) || !std::isfinite(point.y())) {
            flush();
            have = false;
            continue;
        }
        const double x = limited((point.x() - m_xMin) * xScale);
        const double y = limited((yMax - point.y()) * yScale);
        if (have) {
            double x0 = lastX;
            double y0 = lastY;
            double x1 = x;
            double y1 = y;
            if (clipSegment(x0, y0, x1, y1, left, top, right, bottom)) {
                if (m_polyline.isEmpty() || x0 != lastX || y0 != lastY) {
                    flush();
                    m_polyline.append(QPointF(x0, y0));
                }
                m_polyline.append(QPointF(x1, y1));
                if (x1 != x || y1 != y)
                    flush();   // left the picture: the next piece starts anew
            } else {
                flush();
            }
        }
        have = true;
        lastX = x;
        lastY = y;
    }
    flush();
}

void PlotTraces::drawDots(QPainter &painter, Curve &curve, double xScale, double yScale, double yMax)
{
    const int size = int(std::lround(6 * m_ratio)) + 2;
    if (curve.dot.isNull() || curve.dot.width() != size) {
        curve.dot = QImage(size, size, QImage::Format_ARGB32_Premultiplied);
        curve.dot.fill(Qt::transparent);
        QPainter dot(&curve.dot);
        dot.setRenderHint(QPainter::Antialiasing);
        dot.setPen(Qt::NoPen);
        dot.setBrush(curve.color);
        dot.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    }
    const double half = size / 2.0;
    const double right = m_canvas.width() + half;
    const double bottom = m_canvas.height() + half;
    for (const QPointF &point : std::as_const(curve.dots)) {
        const double x = (point.x() - m_xMin) * xScale;
        const double y = (yMax - point.y()) * yScale;
        // Also false for NaN.
        if (x >= -half && x <= right && y >= -half && y <= bottom)
            painter.drawImage(QPointF(std::round(x - half), std::round(y - half)), curve.dot);
    }
}
