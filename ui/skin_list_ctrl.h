#pragma once
// The file list: a tree widget used as a flat report list, drawn cell by
// cell in the window's dark colours, with stripes continuing below the last
// row and a thin scroll bar of its own instead of the style's.
#include <QTreeWidget>

class CSkinVerticleScrollbar;

class CSkinListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CSkinListCtrl(QWidget *parent = nullptr);

    // Makes the skinned bar, a child of the list's parent, along the list's
    // right edge. Call after the list is placed.
    void AttachScrollbar();
    CSkinVerticleScrollbar *Scrollbar() const { return scrollbar; }
    // Height of one row in pixels.
    int RowHeight() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void PlaceScrollbar();
    void PaintStripes();

    CSkinVerticleScrollbar *scrollbar = nullptr;
};
