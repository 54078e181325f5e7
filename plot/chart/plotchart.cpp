#include "plotchart.h"

#include <QQuickItem>
#include <QUrl>
#include <QtCharts/QAbstractSeries>
#include <QtCharts/QValueAxis>
#include <QtCharts/QXYSeries>

#include <cmath>

namespace {

// Tick distance of 1, 2 or 5 times a power of ten, for about five ticks:
// labels such as 0.7, 1.5, 2.2 of evenly split ranges read badly.
double niceStep(double span)
{
    const double raw = span / 5;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double norm = raw / magnitude;
    return (norm < 1.5 ? 1 : norm < 3 ? 2 : norm < 7 ? 5 : 10) * magnitude;
}

void setAxisRange(QValueAxis *axis, double min, double max)
{
    // Never let the axis see a wide range with a fine interval, even for a
    // moment: it would lay out thousands of labels.
    const double step = niceStep(max - min);
    axis->setTickAnchor(0);
    if (step > axis->tickInterval()) {
        axis->setTickInterval(step);
        axis->setRange(min, max);
    } else {
        axis->setRange(min, max);
        axis->setTickInterval(step);
    }
}

void styleAxis(QValueAxis *axis)
{
    axis->setGridLineColor(QColor(0xd8, 0xd8, 0xd8));
    QPen grid = axis->gridLinePen();
    grid.setWidthF(1);
    axis->setGridLinePen(grid);
    axis->setMinorGridLineColor(QColor(0xee, 0xee, 0xee));
    axis->setLinePenColor(QColor(0x80, 0x80, 0x80));
    axis->setLabelsColor(QColor(0x30, 0x30, 0x30));
    axis->setTitleBrush(QColor(0x30, 0x30, 0x30));
    axis->setTickType(QValueAxis::TicksDynamic);
    setAxisRange(axis, axis->min(), axis->max());
}

// An axis range the chart can draw: finite and not empty.
bool usable(double min, double max)
{
    return std::isfinite(min) && std::isfinite(max) && min < max;
}

} // namespace

PlotChart::PlotChart(QObject *parent)
    : QObject(parent)
{
}

QUrl PlotChart::sceneUrl()
{
    return QUrl(QStringLiteral("qrc:/plot/PlotView.qml"));
}

bool PlotChart::attach(QQuickItem *graph)
{
    m_graph = nullptr;
    m_series.clear();
    if (!graph || graph->metaObject()->indexOfMethod("createSeries(int,QString,QAbstractAxis*,QAbstractAxis*)") < 0)
        return false;
    m_graph = graph;

    m_axisX = new QValueAxis(this);
    m_axisX->setTitleText(tr("Zeit [s]"));
    m_axisX->setRange(0, 10);
    m_axisX->setLabelFormat(QStringLiteral("%.1f"));
    m_axisY = new QValueAxis(this);
    m_axisY->setRange(0, 1);
    m_axisY->setLabelFormat(QStringLiteral("%g"));
    m_axisY2 = new QValueAxis(this);
    m_axisY2->setRange(0, 1);
    m_axisY2->setLabelFormat(QStringLiteral("%g"));
    m_axisY2->setGridLineVisible(false);
    m_axisY2->setMinorGridLineVisible(false);
    for (QValueAxis *axis : {m_axisX.data(), m_axisY.data(), m_axisY2.data()})
        styleAxis(axis);
    m_y2InChart = false;

    QMetaObject::invokeMethod(graph, "setAxisX", Q_ARG(QAbstractAxis *, m_axisX.data()),
                              Q_ARG(QAbstractSeries *, nullptr));
    QMetaObject::invokeMethod(graph, "setAxisY", Q_ARG(QAbstractAxis *, m_axisY.data()),
                              Q_ARG(QAbstractSeries *, nullptr));
    return true;
}

void PlotChart::setSeries(const QList<SeriesSpec> &specs)
{
    if (!m_graph)
        return;
    for (const QPointer<QXYSeries> &series : std::as_const(m_series)) {
        if (!series)
            continue;
        QMetaObject::invokeMethod(m_graph, "removeSeries", Q_ARG(QAbstractSeries *, series.data()));
        series->deleteLater();
    }
    m_series.clear();

    for (const SeriesSpec &spec : specs) {
        QAbstractSeries *created = nullptr;
        QMetaObject::invokeMethod(m_graph, "createSeries", Q_RETURN_ARG(QAbstractSeries *, created),
                                  Q_ARG(int, QAbstractSeries::SeriesTypeLine), Q_ARG(QString, spec.name),
                                  Q_ARG(QAbstractAxis *, m_axisX.data()), Q_ARG(QAbstractAxis *, m_axisY.data()));
        auto *series = qobject_cast<QXYSeries *>(created);
        m_series.append(series);
        if (!series)
            continue;
        QPen pen(spec.color);
        pen.setWidthF(2);
        series->setPen(pen);
        series->setColor(spec.color);
        if (spec.rightAxis)
            setSeriesAxis(int(m_series.size()) - 1, true);
    }
}

void PlotChart::setSeriesAxis(int index, bool rightAxis)
{
    QXYSeries *series = m_series.value(index);
    if (!series || !m_axisY || !m_axisY2)
        return;
    QValueAxis *wanted = rightAxis ? m_axisY2 : m_axisY;
    if (series->attachedAxes().contains(wanted))
        return;
    series->detachAxis(rightAxis ? m_axisY : m_axisY2);
    if (rightAxis && !m_y2InChart) {
        // The view puts an axis on the right only when it arrives through
        // this property; once it is in the chart, plain attaching will do.
        series->setProperty("axisYRight", QVariant::fromValue<QAbstractAxis *>(m_axisY2));
        m_y2InChart = true;
    } else {
        series->attachAxis(wanted);
    }
}

void PlotChart::replace(int index, const QList<QPointF> &points)
{
    if (QXYSeries *series = m_series.value(index))
        series->replace(points);
}

void PlotChart::clearPoints()
{
    for (const QPointer<QXYSeries> &series : std::as_const(m_series)) {
        if (series)
            series->clear();
    }
}

void PlotChart::setXRange(double min, double max)
{
    if (m_axisX && usable(min, max))
        setAxisRange(m_axisX, min, max);
}

void PlotChart::setYRange(double min, double max)
{
    if (m_axisY && usable(min, max))
        setAxisRange(m_axisY, min, max);
}

void PlotChart::setY2Range(double min, double max)
{
    if (m_axisY2 && usable(min, max))
        setAxisRange(m_axisY2, min, max);
}

void PlotChart::setY2Visible(bool visible)
{
    if (m_axisY2)
        m_axisY2->setVisible(visible);
}
