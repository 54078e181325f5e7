#include "sdopanellayout.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QStyle>
#include <QTableWidget>

#include <algorithm>

namespace {

void fitColumns(QTableWidget *table, const QStringList &samples)
{
    const QFontMetrics metrics(table->font());
    // The item delegate's text margins on both sides, and a little air.
    const int padding = 2 * (table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1) + 6;
    QHeaderView *header = table->horizontalHeader();
    for (int column = 0; column < samples.size() && column + 1 < table->columnCount(); ++column) {
        int width = header->sectionSizeHint(column);
        for (const QString &sample : samples.at(column).split(QLatin1Char('|')))
            width = std::max(width, metrics.horizontalAdvance(sample) + padding);
        table->setColumnWidth(column, width);
    }
}

} // namespace

void SdoPanelLayout::fitNodeColumns(QTableWidget *table)
{
    // Samples separated by "|": the widest of them counts.
    fitColumns(table, {QStringLiteral("127 (7Fh)"),
                       QCoreApplication::translate("SdoPanel", "keine Meldung mehr") + QLatin1Char('|') + QStringLiteral("Pre-operational"),
                       QStringLiteral("10000 ms"),
                       QCoreApplication::translate("SdoPanel", "gerade eben") + QLatin1Char('|') + QCoreApplication::translate("SdoPanel", "vor 59 min"),
                       QStringLiteral("Generic I/O (401) · Device")});
}

void SdoPanelLayout::fitLogColumns(QTableWidget *table)
{
    fitColumns(table, {QStringLiteral("00:00:00.000"), QStringLiteral("127"), QStringLiteral("1018:04"),
                       QStringLiteral("W")});
}
