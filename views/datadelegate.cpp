#include "datadelegate.h"

#include <QApplication>
#include <QPainter>

#include <algorithm>

namespace {

constexpr int ChangeMaskRole = Qt::UserRole + 2;
const QColor HighlightColor(208, 16, 16);

} // namespace

void DataDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const int mask = index.data(ChangeMaskRole).toInt();
    if (mask == 0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }

    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget *widget = opt.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    // The text rectangle is laid out for the real text: without it, styles
    // shrink the rectangle to an empty string's size.
    QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    // Styles size that rectangle to the normal text, which would cut off the
    // wider bold bytes: it reaches to the cell's right edge instead. The
    // style's text margin keeps the groups where a plain cell draws them.
    textRect.setRight(std::max(textRect.right(), opt.rect.right()));
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    textRect.adjust(margin, 0, -margin, 0);
    const QString text = opt.text;
    opt.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const bool selected = opt.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
        : (opt.state & QStyle::State_Active)                                ? QPalette::Active
                                                                            : QPalette::Inactive;
    const QColor normalColor = opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    const QColor changedColor = selected ? normalColor : HighlightColor;
    QFont boldFont = opt.font;
    boldFont.setWeight(QFont::Bold);
    // Advances use the normal font so that byte groups line up with unchanged rows.
    const QFontMetrics metrics(opt.font);

    painter->save();
    painter->setClipRect(textRect);
    const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    int x = textRect.left();
    for (int i = 0; i < parts.size(); ++i) {
        const bool changed = i < 31 && (mask & (1 << i));
        painter->setFont(changed ? boldFont : opt.font);
        painter->setPen(changed ? changedColor : normalColor);
        const QString drawn = i + 1 < parts.size() ? parts.at(i) + QLatin1Char(' ') : parts.at(i);
        const QRect area(QPoint(x, textRect.top()), QPoint(textRect.right() - 1, textRect.bottom()));
        painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter, drawn);
        x += metrics.horizontalAdvance(drawn);
    }
    painter->restore();
}
