#include "ui/skin_list_ctrl.h"

#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include "ui/skin_colours.h"
#include "ui/skin_list_delegate.h"
#include "ui/skin_verticle_scrollbar.h"

CSkinListCtrl::CSkinListCtrl(QWidget *parent) : QTreeWidget(parent)
{
    setItemDelegate(new CSkinListDelegate(this));
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    // Only the skinned bar shows.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    header()->setSectionsMovable(true);
    header()->setStretchLastSection(false);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::white);
    setPalette(colours);
}

void CSkinListCtrl::AttachScrollbar()
{
    if (scrollbar == nullptr) {
        scrollbar = new CSkinVerticleScrollbar(this, parentWidget());
        connect(verticalScrollBar(), &QScrollBar::valueChanged, scrollbar, &CSkinVerticleScrollbar::UpdateThumb);
        connect(verticalScrollBar(), &QScrollBar::rangeChanged, scrollbar, &CSkinVerticleScrollbar::UpdateThumb);
    }
    PlaceScrollbar();
}

int CSkinListCtrl::RowHeight() const
{
    return topLevelItemCount() > 0 ? rowHeight(indexFromItem(topLevelItem(0))) : fontMetrics().height();
}

void CSkinListCtrl::PlaceScrollbar()
{
    if (scrollbar == nullptr)
        return;
    scrollbar->setGeometry(x() + width() - CSkinVerticleScrollbar::kWidth, y() + header()->height(),
                           CSkinVerticleScrollbar::kWidth, height() - header()->height());
    scrollbar->setVisible(isVisible());
    scrollbar->raise();
    scrollbar->UpdateThumb();
}

void CSkinListCtrl::paintEvent(QPaintEvent *event)
{
    QTreeWidget::paintEvent(event);
    PaintStripes();
}

// Below the last row the row colours go on in 17-pixel stripes, so a short
// list still looks like one striped table.
void CSkinListCtrl::PaintStripes()
{
    QPainter painter(viewport());
    int top = 0;
    int row = 0;
    if (topLevelItemCount() > 0) {
        QTreeWidgetItem *last = topLevelItem(topLevelItemCount() - 1);
        const QRect lastRect = visualItemRect(last);
        top = lastRect.bottom() + 1;
        row = topLevelItemCount();
    }
    for (; top < viewport()->height(); top += skin::kStripeHeight, ++row) {
        for (int column = 0; column < columnCount(); ++column) {
            const int left = header()->sectionViewportPosition(column);
            painter.fillRect(QRect(left, top, header()->sectionSize(column), skin::kStripeHeight),
                             skin::RowColour(row));
        }
    }
}

// One line per notch, whatever the system's wheel step.
void CSkinListCtrl::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta != 0) {
        QScrollBar *bar = verticalScrollBar();
        bar->setValue(bar->value() + (delta > 0 ? -1 : 1));
    }
    event->accept();
    if (scrollbar != nullptr)
        scrollbar->UpdateThumb();
}

void CSkinListCtrl::keyPressEvent(QKeyEvent *event)
{
    QTreeWidget::keyPressEvent(event);
    if (scrollbar != nullptr)
        scrollbar->UpdateThumb();
}

void CSkinListCtrl::keyReleaseEvent(QKeyEvent *event)
{
    QTreeWidget::keyReleaseEvent(event);
    if (scrollbar != nullptr)
        scrollbar->UpdateThumb();
}

void CSkinListCtrl::resizeEvent(QResizeEvent *event)
{
    QTreeWidget::resizeEvent(event);
    PlaceScrollbar();
}

void CSkinListCtrl::moveEvent(QMoveEvent *event)
{
    QTreeWidget::moveEvent(event);
    PlaceScrollbar();
}

void CSkinListCtrl::showEvent(QShowEvent *event)
{
    QTreeWidget::showEvent(event);
    PlaceScrollbar();
}

void CSkinListCtrl::hideEvent(QHideEvent *event)
{
    QTreeWidget::hideEvent(event);
    if (scrollbar != nullptr)
        scrollbar->hide();
}
