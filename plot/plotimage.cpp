#include "plotimage.h"

#include <QFontMetrics>
#include <QPainter>

QImage PlotImage::compose(const QImage &chart, const QString &title, const QList<LegendLine> &legend,
                          const QFont &font)
{
    const qreal ratio = chart.devicePixelRatio() > 0 ? chart.devicePixelRatio() : 1.0;
    const int width = int(chart.width() / ratio);
    const int chartHeight = int(chart.height() / ratio);
    const int lineHeight = QFontMetrics(font).height();
    const int rowHeight = lineHeight + 6;
    const int legendHeight = legend.isEmpty() ? 0 : rowHeight * int(legend.size()) + 20;
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
    for (const LegendLine &line : legend) {
        const int middle = y + rowHeight / 2;
        painter.setPen(QPen(line.color, 3));
        painter.drawLine(14, middle, 44, middle);
        painter.setPen(ink);
        painter.drawText(QRect(54, y, std::max(width - 64, 1), rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         line.text);
        y += rowHeight;
    }
    return image;
}
