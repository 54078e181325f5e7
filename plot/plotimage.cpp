#include "plotimage.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

QImage PlotImage::compose(const QImage &chart, const QString &title, const QList<LegendLine> &legend,
                          const QFont &font)
{
    const qreal ratio = chart.devicePixelRatio() > 0 ? chart.devicePixelRatio() : 1.0;
    const int width = int(chart.width() / ratio);
    const int chartHeight = int(chart.height() / ratio);
    const int lineHeight = QFontMetrics(font).height();
    const int rowHeight = lineHeight + 6;
    // A line longer than the picture is wide wraps onto further lines.
    const QFontMetrics metrics(font);
    const int textWidth = std::max(width - 64, 1);
    QList<int> rowHeights;
    int legendHeight = legend.isEmpty() ? 0 : 20;
    for (const LegendLine &line : legend) {
        const int height = metrics.boundingRect(QRect(0, 0, textWidth, 1 << 20), Qt::TextWordWrap, line.text).height();
        rowHeights.append(std::max(rowHeight, height + 6));
        legendHeight += rowHeights.last();
    }
    const int titleHeight = lineHeight + 12;

    QImage image(QSize(width, chartHeight + legendHeight + titleHeight) * ratio,
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    const QColor ink(0x30, 0x30, 0x30);
    painter.setPen(ink);
    painter.drawText(QRect(QPoint(10, 0), QPoint(width - 11, lineHeight + 11)), Qt::AlignLeft | Qt::AlignVCenter,
                     title);
    painter.drawImage(QPointF(0, titleHeight), chart);

    int y = chartHeight + titleHeight + 12;
    for (int i = 0; i < legend.size(); ++i) {
        const LegendLine &line = legend.at(i);
        const int middle = y + rowHeight / 2;
        painter.setPen(QPen(line.color, 3));
        painter.drawLine(14, middle, 44, middle);
        painter.setPen(ink);
        painter.drawText(QRect(54, y, textWidth, rowHeights.at(i)),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, line.text);
        y += rowHeights.at(i);
    }
    return image;
}
