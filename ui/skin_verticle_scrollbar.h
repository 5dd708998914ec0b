#pragma once
// The list's thin scroll bar: a track image stretched to the bar's height
// and a thumb image placed by the list's scroll position. The thumb can be
// dragged; a click beside it pages the list.
#include <QWidget>

class QAbstractItemView;

class CSkinVerticleScrollbar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 3;
    static constexpr int kThumbHeight = 49;

    CSkinVerticleScrollbar(QAbstractItemView *list, QWidget *parent);

    // Whether the list has anything to scroll; the thumb shows only then.
    bool CanScroll() const;
    // Pixels of thumb travel per scroll step.
    double Ratio() const;
    int ThumbTop() const { return thumbTop; }

public slots:
    // Places the thumb after the list scrolled and redraws.
    void UpdateThumb();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    int LowestThumbTop() const;
    bool OnThumb(int y) const;

    QAbstractItemView *list;
    int thumbTop = 0;
    bool dragging = false;
};
