#include "ui/picture_button.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/skin_painter.h"

CPictureButton::CPictureButton(QWidget *parent) : QAbstractButton(parent)
{
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
}

void CPictureButton::SetBitmaps(int normal, int pressed, int hover, int afterClick, int disabled, bool fit)
{
    ids[static_cast<int>(Face::Normal)] = normal;
    ids[static_cast<int>(Face::Pressed)] = pressed;
    ids[static_cast<int>(Face::Hover)] = hover;
    ids[static_cast<int>(Face::AfterClick)] = afterClick;
    ids[static_cast<int>(Face::Disabled)] = disabled;
    if (fit)
        resize(CSkinPainter::ImageSize(normal));
    update();
}

// First match wins: a press shows pressed, a finished click that left the
// mouse elsewhere shows after-click, then hover, then disabled.
CPictureButton::Face CPictureButton::CurrentFace() const
{
    if (!isEnabled())
        return Face::Disabled;
    const bool pressed = isDown();
    if (clicked && pressed)
        return Face::Pressed;
    if (clicked && !hovering)
        return Face::AfterClick;
    if (hovering && !pressed)
        return Face::Hover;
    return Face::Normal;
}

int CPictureButton::CurrentBitmap() const
{
    const int id = ids[static_cast<int>(CurrentFace())];
    return id != 0 ? id : ids[static_cast<int>(Face::Normal)];
}

QSize CPictureButton::sizeHint() const
{
    return CSkinPainter::ImageSize(ids[static_cast<int>(Face::Normal)]);
}

void CPictureButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QImage image = CSkinPainter::Image(CurrentBitmap(), painter.device()->devicePixelRatioF());
    if (!image.isNull())
        painter.drawImage(QPoint(0, 0), image, QRect(QPoint(0, 0), size() * image.devicePixelRatio()));
    if (!text().isEmpty()) {
        painter.setPen(isEnabled() ? QColor(255, 255, 255) : QColor(236, 236, 236));
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
}

void CPictureButton::enterEvent(QEnterEvent *event)
{
    hovering = true;
    update();
    QAbstractButton::enterEvent(event);
}

void CPictureButton::leaveEvent(QEvent *event)
{
    hovering = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void CPictureButton::mousePressEvent(QMouseEvent *event)
{
    clicked = true;
    QAbstractButton::mousePressEvent(event);
}

void CPictureButton::mouseReleaseEvent(QMouseEvent *event)
{
    clicked = true;
    QAbstractButton::mouseReleaseEvent(event);
}

// Losing the focus ends the after-click look, as a click elsewhere would.
void CPictureButton::focusOutEvent(QFocusEvent *event)
{
    clicked = false;
    update();
    QAbstractButton::focusOutEvent(event);
}
