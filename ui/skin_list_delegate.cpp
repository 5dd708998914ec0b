#include "ui/skin_list_delegate.h"

#include <QPainter>

#include "ui/skin_colours.h"

namespace {
constexpr int kTextInset = 10;
}

void CSkinListDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    // Selected rows keep their colour whether or not the list has the focus.
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const QRect cell = option.rect;
    painter->save();
    painter->fillRect(cell, selected ? skin::kRowSelected : skin::RowColour(index.row()));
    if (selected)
        painter->fillRect(QRect(cell.left(), cell.bottom(), cell.width(), 1), skin::kSelectedLine);
    const QVariant alignment = index.data(Qt::TextAlignmentRole);
    const Qt::Alignment horizontal =
        alignment.isValid() ? Qt::Alignment(alignment.toInt()) & Qt::AlignHorizontal_Mask : Qt::AlignLeft;
    const QRect textArea = cell.adjusted(kTextInset, 0, horizontal & Qt::AlignRight ? -kTextInset : 0, 0);
    painter->setFont(option.font);
    painter->setPen(skin::kListText);
    const QString text = option.fontMetrics.elidedText(index.data().toString(), Qt::ElideRight, textArea.width());
    painter->drawText(textArea, horizontal | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter->restore();
}
