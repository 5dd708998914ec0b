#include "ui/window_background.h"

#include <QFile>
#include <algorithm>

#include "ui/skin_ids.h"
#include "ui/skin_painter.h"
#include "ui/window_layout.h"

namespace {

QImage Override(const QString &folder, const char *name, int id)
{
    if (folder.isEmpty())
        return QImage();
    const QString path = folder + "/" + name;
    if (!QFile::exists(path))
        return QImage();
    QImage image(path);
    if (image.isNull() || image.size() != CSkinPainter::ImageSize(id))
        return QImage();
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace

CWindowBackground::CWindowBackground(const QString &folder)
    : foldedFile(Override(folder, "bg2.bmp", skin::kFoldedBackground)),
      unfoldedFile(Override(folder, "bg.bmp", skin::kUnfoldedBackground))
{
}

QImage CWindowBackground::Folded(qreal dpr) const
{
    return foldedFile.isNull() ? CSkinPainter::Image(skin::kFoldedBackground, dpr) : foldedFile;
}

QImage CWindowBackground::Unfolded(qreal dpr) const
{
    return unfoldedFile.isNull() ? CSkinPainter::Image(skin::kUnfoldedBackground, dpr) : unfoldedFile;
}

QRegion CWindowBackground::FoldedRegion() const
{
    return RegionWithoutKey(Folded(1.0), skin::kKeyColour, layout::kOutlineFirstRow, layout::kOutlineLastRow);
}

QRegion RegionWithoutKey(const QImage &image, const QColor &key, int first, int last)
{
    QRegion region(QRect(QPoint(0, 0), image.size()));
    const QRgb wanted = key.rgb() & 0xFFFFFF;
    const int from = std::max(first, 0);
    const int to = std::min(last, image.height() - 1);
    for (int y = from; y <= to; ++y) {
        int x = 0;
        while (x < image.width()) {
            if ((image.pixel(x, y) & 0xFFFFFF) != wanted) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < image.width() && (image.pixel(x, y) & 0xFFFFFF) == wanted)
                ++x;
            region -= QRect(start, y, x - start, 1);
        }
    }
    return region;
}
