#include "ui/skin_verticle_scrollbar.h"

#include <QAbstractItemView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "ui/skin_ids.h"
#include "ui/skin_painter.h"

CSkinVerticleScrollbar::CSkinVerticleScrollbar(QAbstractItemView *list, QWidget *parent)
    : QWidget(parent), list(list)
{
    setFixedWidth(kWidth);
}

bool CSkinVerticleScrollbar::CanScroll() const
{
    return list->verticalScrollBar()->maximum() > 0;
}

double CSkinVerticleScrollbar::Ratio() const
{
    const int largest = list->verticalScrollBar()->maximum();
    return largest > 0 ? static_cast<double>(height() - kThumbHeight) / largest : 0.0;
}

int CSkinVerticleScrollbar::LowestThumbTop() const
{
    return std::max(0, height() - kThumbHeight);
}

bool CSkinVerticleScrollbar::OnThumb(int y) const
{
    return CanScroll() && y >= thumbTop && y < thumbTop + kThumbHeight;
}

void CSkinVerticleScrollbar::UpdateThumb()
{
    if (!dragging) {
        const int top = static_cast<int>(Ratio() * list->verticalScrollBar()->value());
        thumbTop = std::clamp(top, 0, LowestThumbTop());
    }
    update();
}

void CSkinVerticleScrollbar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const qreal dpr = painter.device()->devicePixelRatioF();
    painter.drawImage(rect(), CSkinPainter::Image(skin::kScrollTrack, dpr));
    if (CanScroll())
        painter.drawImage(QPoint(0, thumbTop), CSkinPainter::Image(skin::kScrollThumb, dpr));
}

void CSkinVerticleScrollbar::mousePressEvent(QMouseEvent *event)
{
    dragging = event->button() == Qt::LeftButton && OnThumb(event->position().toPoint().y());
}

// The thumb follows the mouse by its middle and the list follows the thumb,
// a whole row at a time.
void CSkinVerticleScrollbar::mouseMoveEvent(QMouseEvent *event)
{
    if (!dragging)
        return;
    const double ratio = Ratio();
    if (ratio <= 0)
        return;
    thumbTop = std::clamp(event->position().toPoint().y() - kThumbHeight / 2, 0, LowestThumbTop());
    QScrollBar *bar = list->verticalScrollBar();
    bar->setValue(static_cast<int>((thumbTop + 1) / ratio));
    update();
}

void CSkinVerticleScrollbar::mouseReleaseEvent(QMouseEvent *event)
{
    const int y = event->position().toPoint().y();
    if (!dragging && CanScroll() && !OnThumb(y)) {
        list->verticalScrollBar()->triggerAction(y < thumbTop ? QAbstractSlider::SliderPageStepSub
                                                              : QAbstractSlider::SliderPageStepAdd);
    }
    dragging = false;
    UpdateThumb();
}
