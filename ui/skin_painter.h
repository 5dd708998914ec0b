#pragma once
// The window's artwork, painted by code at any device pixel ratio: every
// image id of skin_ids.h at its own logical size. Images carry no text;
// labels are drawn over them at run time.
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <vector>

class CSkinPainter {
public:
    // The image's size in logical pixels; empty for an unknown id.
    static QSize ImageSize(int id);
    // Painted at dpr device pixels per logical pixel; null for an unknown id.
    static QImage Image(int id, qreal dpr = 1.0);
    static QPixmap Pixmap(int id, qreal dpr = 1.0) { return QPixmap::fromImage(Image(id, dpr)); }
    // The emblem at 16 to 256 pixels, for the window and the tray.
    static QIcon Emblem();
    // Every id the painter knows, in id order.
    static std::vector<int> Ids();
};
