#pragma once
// The window's two backgrounds and the outline cut from the folded one.
// res/bg.bmp (unfolded) and res/bg2.bmp (folded) may replace the painted
// ones; they are anybody's files, so one that does not decode or has the
// wrong size is ignored.
#include <QImage>
#include <QRegion>
#include <QString>

class CWindowBackground {
public:
    // folder: where res/bg*.bmp would be; empty for the painted ones only.
    explicit CWindowBackground(const QString &folder);

    // The image to draw at the device pixel ratio.
    QImage Folded(qreal dpr) const;
    QImage Unfolded(qreal dpr) const;
    // The folded window's region: the key colour's pixels in the outline
    // rows of the one-to-one image are left out.
    QRegion FoldedRegion() const;
    bool UsesFile(bool folded) const { return !(folded ? foldedFile : unfoldedFile).isNull(); }

private:
    QImage foldedFile;
    QImage unfoldedFile;
};

// The region of image (one image pixel to one logical pixel) without the
// pixels of key in rows first to last; rows outside the image are skipped.
QRegion RegionWithoutKey(const QImage &image, const QColor &key, int first, int last);
