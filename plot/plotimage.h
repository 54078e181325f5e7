#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QString>

// The exported picture of the plot: a title line, the chart and one legend
// line per signal below it. Used by the plot widget and busvista-cli.
namespace PlotImage {

struct LegendLine
{
    QColor color;
    QString text;
};

QImage compose(const QImage &chart, const QString &title, const QList<LegendLine> &legend, const QFont &font);

} // namespace PlotImage
