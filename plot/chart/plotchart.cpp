#include "plotchart.h"

#include "plottraces.h"

#include <QQuickItem>
#include <QUrl>
#include <QtCharts/QAbstractSeries>
#include <QtCharts/QValueAxis>
#include <QtCharts/QXYSeries>

#include <algorithm>
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

void setAxisRange(QValueAxis *axis, double min, double max, bool adaptLabels = false)
{
    // Never let the axis see a wide range with a fine interval, even for a
    // moment: it would lay out thousands of labels.
    const double step = niceStep(max - min);
    if (adaptLabels) {
        // As many decimals as the ticks need: a zoomed time axis shows
        // milliseconds, not the same "12.3" five times.
        const int decimals = std::clamp(int(-std::floor(std::log10(step))), 1, 6);
        const QString format = QStringLiteral("%.%1f").arg(decimals);
        // Set only when it differs: the axis lays out its labels anew at
        // every call, which made each refresh redraw the whole chart.
        if (axis->labelFormat() != format)
            axis->setLabelFormat(format);
    }
    if (axis->tickAnchor() != 0)
        axis->setTickAnchor(0);
    if (step > axis->tickInterval()) {
        axis->setTickInterval(step);
        axis->setRange(min, max);
    } else {
        if (axis->min() != min || axis->max() != max)
            axis->setRange(min, max);
        if (axis->tickInterval() != step)
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
    // A child of the chart: above its plot area, below the scene's cursors.
    delete m_traces;
    m_traces = new PlotTraces(graph);
    connect(graph, SIGNAL(plotAreaChanged(QRectF)), this, SLOT(placeTraces()));
    placeTraces();

    m_axisX = new QValueAxis(this);
    m_axisX->setTitleText(tr("Zeit [s]"));
    m_axisX->setRange(0, 10);
    m_axisX->setLabelFormat(QStringLiteral("%.1f"));
    m_axisY = new QValueAxis(this);
    m_axisY->setRange(0, 1);
    m_axisY->setLabelFormat(QStringLiteral("%.10g"));
    m_axisY2 = new QValueAxis(this);
    m_axisY2->setRange(0, 1);
    m_axisY2->setLabelFormat(QStringLiteral("%.10g"));
    m_axisY2->setGridLineVisible(false);
    m_axisY2->setMinorGridLineVisible(false);
    for (QValueAxis *axis : {m_axisX.data(), m_axisY.data(), m_axisY2.data()})
        styleAxis(axis);
    m_y2InChart = false;

    QMetaObject::invokeMethod(graph, "setAxisX", Q_ARG(QAbstractAxis *, m_axisX.data()),
                              Q_ARG(QAbstractSeries *, nullptr));
    QMetaObject::invokeMethod(graph, "setAxisY", Q_ARG(QAbstractAxis *, m_axisY.data()),
                              Q_ARG(QAbstractSeries *, nullptr));
    m_traces->setXRange(m_axisX->min(), m_axisX->max());
    m_traces->setYRange(false, m_axisY->min(), m_axisY->max());
    m_traces->setYRange(true, m_axisY2->min(), m_axisY2->max());
    return true;
}

void PlotChart::placeTraces()
{
    if (!m_graph || !m_traces)
        return;
    const QRectF area = m_graph->property("plotArea").toRectF();
    m_traces->setPosition(area.topLeft());
    m_traces->setSize(area.size());
}

PlotTraces *PlotChart::traces() const
{
    return m_traces;
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
    if (m_traces)
        m_traces->setCurveCount(int(specs.size()));

    const auto create = [this](int type, const QString &name) {
        QAbstractSeries *created = nullptr;
        QMetaObject::invokeMethod(m_graph, "createSeries", Q_RETURN_ARG(QAbstractSeries *, created),
                                  Q_ARG(int, type), Q_ARG(QString, name),
                                  Q_ARG(QAbstractAxis *, m_axisX.data()), Q_ARG(QAbstractAxis *, m_axisY.data()));
        return qobject_cast<QXYSeries *>(created);
    };
    for (const SeriesSpec &spec : specs)
        m_series.append(create(QAbstractSeries::SeriesTypeLine, spec.name));
    for (int i = 0; i < specs.size(); ++i) {
        setSeriesColor(i, specs.at(i).color);
        if (specs.at(i).rightAxis)
            setSeriesAxis(i, true);
    }
}

void PlotChart::setSeriesAxis(int index, bool rightAxis)
{
    if (!m_axisY || !m_axisY2)
        return;
    QValueAxis *wanted = rightAxis ? m_axisY2 : m_axisY;
    if (m_traces)
        m_traces->setRightAxis(index, rightAxis);
    if (QXYSeries *series = m_series.value(index); series && !series->attachedAxes().contains(wanted)) {
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
}

void PlotChart::setSeriesColor(int index, const QColor &color)
{
    if (QXYSeries *series = m_series.value(index))
        series->setColor(color);
    if (m_traces)
        m_traces->setColor(index, color);
}

void PlotChart::setSeriesVisible(int index, bool visible)
{
    if (QXYSeries *series = m_series.value(index))
        series->setVisible(visible);
    if (m_traces)
        m_traces->setCurveShown(index, visible);
}

void PlotChart::replace(int index, const QList<QPointF> &points)
{
    if (m_traces)
        m_traces->setPoints(index, points);
}

void PlotChart::replaceDots(int index, const QList<QPointF> &points)
{
    if (m_traces)
        m_traces->setDots(index, points);
}

int PlotChart::pointCount(int index) const
{
    return m_traces ? m_traces->pointCount(index) : 0;
}

int PlotChart::dotCount(int index) const
{
    return m_traces ? m_traces->dotCount(index) : 0;
}

void PlotChart::clearPoints()
{
    if (m_traces)
        m_traces->clearPoints();
}

void PlotChart::setXRange(double min, double max)
{
    if (!m_axisX || !usable(min, max))
        return;
    setAxisRange(m_axisX, min, max, true);
    if (m_traces)
        m_traces->setXRange(min, max);
}

void PlotChart::setYRange(double min, double max)
{
    if (!m_axisY || !usable(min, max))
        return;
    setAxisRange(m_axisY, min, max);
    if (m_traces)
        m_traces->setYRange(false, min, max);
}

void PlotChart::setY2Range(double min, double max)
{
    if (!m_axisY2 || !usable(min, max))
        return;
    setAxisRange(m_axisY2, min, max);
    if (m_traces)
        m_traces->setYRange(true, min, max);
}

void PlotChart::setY2Visible(bool visible)
{
    if (m_axisY2)
        m_axisY2->setVisible(visible);
}

void PlotChart::setYTitles(const QString &left, const QString &right)
{
    if (m_axisY && m_axisY->titleText() != left)
        m_axisY->setTitleText(left);
    if (m_axisY2 && m_axisY2->titleText() != right)
        m_axisY2->setTitleText(right);
}

void PlotChart::setXTitle(const QString &title)
{
    if (m_axisX && m_axisX->titleText() != title)
        m_axisX->setTitleText(title);
}

QString PlotChart::yTitle(bool right) const
{
    const QValueAxis *axis = right ? m_axisY2 : m_axisY;
    return axis ? axis->titleText() : QString();
}
