#pragma once
// Draws each cell of the skinned list: the row's colour (selected or
// alternating), a line under a selected row, and the text on one line with
// an ellipsis, 10 pixels in, right-aligned where the column is.
#include <QStyledItemDelegate>

class CSkinListDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
