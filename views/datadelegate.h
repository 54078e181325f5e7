#pragma once

#include <QStyledItemDelegate>

// Paints the data column of the receive list: the bytes whose bit is set in
// the model's change mask in bold red, everything else like a plain cell.
class DataDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
