#include "plotchart.h"

#include <QQuickItem>
#include <QUrl>
#include <QtCharts/QAbstractSeries>
#include <QtCharts/QScatterSeries>
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
        axis->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
    }
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
    m_dots.clear();
    if (!graph || graph->metaObject()->indexOfMethod("createSeries(int,QString,QAbstractAxis*,QAbstractAxis*)") < 0)
        return false;
    m_graph = graph;

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
    return true;
}

void PlotChart::setSeries(const QList<SeriesSpec> &specs)
{
    if (!m_graph)
        return;
    for (const QPointer<QXYSeries> &series : m_series + m_dots) {
        if (!series)
            continue;
        QMetaObject::invokeMethod(m_graph, "removeSeries", Q_ARG(QAbstractSeries *, series.data()));
        series->deleteLater();
    }
    m_series.clear();
    m_dots.clear();

    const auto create = [this](int type, const QString &name) {
        QAbstractSeries *created = nullptr;
        QMetaObject::invokeMethod(m_graph, "createSeries", Q_RETURN_ARG(QAbstractSeries *, created),
                                  Q_ARG(int, type), Q_ARG(QString, name),
                                  Q_ARG(QAbstractAxis *, m_axisX.data()), Q_ARG(QAbstractAxis *, m_axisY.data()));
        return qobject_cast<QXYSeries *>(created);
    };
    for (const SeriesSpec &spec : specs)
        m_series.append(create(QAbstractSeries::SeriesTypeLine, spec.name));
    // Dots after every line, so that they lie above all of them.
    for (const SeriesSpec &spec : specs) {
        auto *dots = qobject_cast<QScatterSeries *>(create(QAbstractSeries::SeriesTypeScatter, spec.name));
        if (dots) {
            dots->setMarkerSize(6);
            dots->setBorderColor(Qt::transparent);
        }
        m_dots.append(dots);
    }
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
    for (QXYSeries *series : {m_series.value(index).data(), m_dots.value(index).data()}) {
        if (!series || series->attachedAxes().contains(wanted))
            continue;
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
    if (QXYSeries *series = m_series.value(index)) {
        QPen pen(color);
        pen.setWidthF(2);
        series->setPen(pen);
        series->setColor(color);
    }
    if (QXYSeries *dots = m_dots.value(index))
        dots->setColor(color);
}

void PlotChart::setSeriesVisible(int index, bool visible)
{
    for (QXYSeries *series : {m_series.value(index).data(), m_dots.value(index).data()}) {
        if (series)
            series->setVisible(visible);
    }
}

void PlotChart::replaceDots(int index, const QList<QPointF> &points)
{
    if (QXYSeries *dots = m_dots.value(index)) {
        if (!(points.isEmpty() && dots->count() == 0))
            dots->replace(points);
    }
}

int PlotChart::pointCount(int index) const
{
    const QXYSeries *series = m_series.value(index);
    return series ? series->count() : 0;
}

int PlotChart::dotCount(int index) const
{
    const QXYSeries *dots = m_dots.value(index);
    return dots ? dots->count() : 0;
}

void PlotChart::replace(int index, const QList<QPointF> &points)
{
    if (QXYSeries *series = m_series.value(index))
        series->replace(points);
}

void PlotChart::clearPoints()
{
    for (const QPointer<QXYSeries> &series : m_series + m_dots) {
        if (series)
            series->clear();
    }
}

bool PlotChart::rangesChange(double xMin, double xMax, double yMin, double yMax, double y2Min, double y2Max) const
{
    const auto moves = [](const QValueAxis *axis, double min, double max) {
        return axis && usable(min, max) && (axis->min() != min || axis->max() != max);
    };
    return moves(m_axisX, xMin, xMax) || moves(m_axisY, yMin, yMax)
        || (m_axisY2 && m_axisY2->isVisible() && moves(m_axisY2, y2Min, y2Max));
}

void PlotChart::setXRange(double min, double max)
{
    if (m_axisX && usable(min, max))
        setAxisRange(m_axisX, min, max, true);
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
