#pragma once
// A push button drawn from per-state images instead of the style's look.
// Its label, when it has one, is drawn over the image at run time.
#include <QAbstractButton>

class CPictureButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Face { Normal, Pressed, Hover, AfterClick, Disabled };

    explicit CPictureButton(QWidget *parent = nullptr);

    // Image ids by state; 0 for hover, after-click or disabled falls back to
    // normal. With fit set the button takes the normal image's size.
    void SetBitmaps(int normal, int pressed, int hover, int afterClick, int disabled, bool fit);
    // The face the next paint draws and the id it draws it from.
    Face CurrentFace() const;
    int CurrentBitmap() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    int ids[5] = {};
    bool hovering = false;
    bool clicked = false;
};
