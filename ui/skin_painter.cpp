#include "ui/skin_painter.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <functional>

#include "ui/skin_ids.h"

namespace {

// The window's colours: warm dark browns around the list's own row colours.
const QColor kCaption(38, 26, 24);
const QColor kPanel(45, 33, 31);
const QColor kPanelEdge(76, 57, 54);
const QColor kGlyph(214, 187, 170);
const QColor kListRow(63, 46, 44);

enum class Face { Normal, Pressed, Hover, Disabled };

// Hover about a tenth lighter, pressed darker, disabled drained of colour.
QColor FaceColour(const QColor &base, Face face)
{
    switch (face) {
    case Face::Normal:
        return base;
    case Face::Pressed:
        return base.darker(125);
    case Face::Hover:
        return base.lighter(110);
    case Face::Disabled: {
        const int grey = qGray(base.rgb());
        return QColor(grey, grey, grey).lighter(115);
    }
    }
    return base;
}

QImage Canvas(QSize size, qreal dpr, const QColor &fill)
{
    QImage image(size * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(fill);
    return image;
}

// Pixels outside a quarter circle of radius r in each chosen corner take the
// key colour exactly, so the outline cut from them is the same at any scale.
void KeyCorners(QImage &image, qreal radius, bool top, bool bottom)
{
    const qreal dpr = image.devicePixelRatio();
    const int w = image.width(), h = image.height();
    const qreal r = radius * dpr;
    const int span = static_cast<int>(std::ceil(r));
    const QRgb key = skin::kKeyColour.rgb();
    auto cut = [&](int x, int y, qreal cx, qreal cy) {
        const qreal dx = x + 0.5 - cx, dy = y + 0.5 - cy;
        if (dx * dx + dy * dy > r * r)
            image.setPixel(x, y, key);
    };
    for (int y = 0; y < span && y < h; ++y) {
        for (int x = 0; x < span && x < w; ++x) {
            if (top) {
                cut(x, y, r, r);
                cut(w - 1 - x, y, w - r, r);
            }
            if (bottom) {
                cut(x, h - 1 - y, r, h - r);
                cut(w - 1 - x, h - 1 - y, w - r, h - r);
            }
        }
    }
}

void PaintScene(QPainter &p, int height, bool folded)
{
    const int width = 411;
    // Caption band: the drag area.
    p.fillRect(QRect(0, 0, width, 38), kCaption);
    // Banner: a dusk sky over layered ridges.
    QLinearGradient sky(0, 38, 0, 196);
    sky.setColorAt(0, QColor(70, 36, 30));
    sky.setColorAt(1, QColor(168, 84, 44));
    p.fillRect(QRect(0, 38, width, 158), sky);
    p.setRenderHint(QPainter::Antialiasing, true);
    const struct {
        QColor colour;
        int base;
        int peaks[6];
    } ridges[] = {
        {QColor(112, 58, 40), 150, {110, 80, 120, 70, 100, 90}},
        {QColor(80, 44, 34), 170, {140, 115, 150, 105, 135, 125}},
        {QColor(52, 34, 30), 196, {175, 160, 180, 150, 170, 165}},
    };
    for (const auto &ridge : ridges) {
        QPainterPath path(QPointF(0, 196));
        for (int i = 0; i < 6; ++i)
            path.lineTo(QPointF(i * width / 5.0, ridge.peaks[i]));
        path.lineTo(QPointF(width, 196));
        path.closeSubpath();
        p.fillPath(path, ridge.colour);
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    // Calm panel behind the texts and the bar.
    p.fillRect(QRect(0, 196, width, 111), kPanel);
    p.fillRect(QRect(0, 196, width, 1), kPanelEdge);
    p.fillRect(QRect(0, 238, width, 1), kPanelEdge.darker(130));
    // Fold tab: a small raised plate with the arrow of what a click does.
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(kPanelEdge);
    p.drawRoundedRect(QRectF(186, 283, 31, 20), 4, 4);
    QPainterPath arrow;
    if (folded) {
        arrow.moveTo(195, 289);
        arrow.lineTo(208, 289);
        arrow.lineTo(201.5, 297);
    } else {
        arrow.moveTo(195, 297);
        arrow.lineTo(208, 297);
        arrow.lineTo(201.5, 289);
    }
    arrow.closeSubpath();
    p.fillPath(arrow, kGlyph);
    p.setRenderHint(QPainter::Antialiasing, false);
    if (height > 307)
        p.fillRect(QRect(0, 307, width, height - 307), kListRow);
}

QImage Background(bool folded, qreal dpr)
{
    const int height = folded ? 307 : 385;
    QImage image = Canvas(QSize(411, height), dpr, kPanel);
    {
        QPainter p(&image);
        PaintScene(p, height, folded);
    }
    if (folded)
        KeyCorners(image, 8, false, true);
    return image;
}

QImage Bar(const QColor &from, const QColor &to, bool groove, qreal dpr)
{
    QImage image = Canvas(QSize(286, 12), dpr, Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    QLinearGradient fill(0, 0, groove ? 0 : 286, groove ? 12 : 0);
    fill.setColorAt(0, from);
    fill.setColorAt(1, to);
    p.setPen(groove ? QPen(QColor(90, 70, 64), 1) : Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(0.5, 0.5, 285, 11), 3, 3);
    return image;
}

QImage MainFace(const QColor &base, Face face, qreal dpr)
{
    QImage image = Canvas(QSize(85, 32), dpr, Qt::transparent);
    {
        QPainter p(&image);
        const QColor colour = FaceColour(base, face);
        QLinearGradient fill(0, 0, 0, 32);
        fill.setColorAt(0, colour.lighter(112));
        fill.setColorAt(1, colour.darker(112));
        p.fillRect(QRect(0, 0, 85, 32), fill);
        p.setPen(colour.darker(150));
        p.drawRect(QRect(0, 0, 84, 31));
    }
    KeyCorners(image, 6, true, true);
    return image;
}

// A small round plate for the glyph buttons, lit only under the mouse or
// the press; the glyph itself carries the state.
QImage GlyphButton(int side, Face face, const std::function<void(QPainter &, const QColor &)> &glyph, qreal dpr)
{
    QImage image = Canvas(QSize(side, side), dpr, Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    if (face == Face::Hover || face == Face::Pressed) {
        p.setPen(Qt::NoPen);
        p.setBrush(face == Face::Hover ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 70));
        p.drawRoundedRect(QRectF(0.5, 0.5, side - 1, side - 1), 5, 5);
    }
    glyph(p, FaceColour(kGlyph, face));
    return image;
}

void Folder(QPainter &p, const QColor &c)
{
    QPainterPath path;
    path.moveTo(5, 8);
    path.lineTo(11, 8);
    path.lineTo(13, 10);
    path.lineTo(21, 10);
    path.lineTo(21, 19);
    path.lineTo(5, 19);
    path.closeSubpath();
    p.fillPath(path, c);
}

void Gear(QPainter &p, const QColor &c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.translate(12.5, 12.5);
    for (int i = 0; i < 8; ++i) {
        p.drawRect(QRectF(-1.5, -9, 3, 4));
        p.rotate(45);
    }
    p.drawEllipse(QPointF(0, 0), 6, 6);
    p.setBrush(kCaption);
    p.drawEllipse(QPointF(0, 0), 2.5, 2.5);
}

void Minimise(QPainter &p, const QColor &c) { p.fillRect(QRectF(7, 15, 11, 2), c); }

void Cross(QPainter &p, const QColor &c)
{
    p.setPen(QPen(c, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 8), QPointF(17, 17));
    p.drawLine(QPointF(17, 8), QPointF(8, 17));
}

QImage EmblemImage(int side, qreal dpr)
{
    QImage image = Canvas(QSize(side, side), dpr, Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.scale(side / 16.0, side / 16.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(168, 64, 24));
    p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
    QPainterPath ridge(QPointF(2, 12));
    ridge.lineTo(6, 5);
    ridge.lineTo(8.5, 9);
    ridge.lineTo(10.5, 6.5);
    ridge.lineTo(14, 12);
    ridge.closeSubpath();
    p.fillPath(ridge, QColor(255, 222, 196));
    return image;
}

struct TFaceEntry {
    int id;
    Face face;
};

// Which face an id is within its button's set, by the order of TFaceIds.
bool FindFace(int id, const skin::TFaceIds &ids, Face &face)
{
    const TFaceEntry entries[] = {{ids.normal, Face::Normal},
                                  {ids.pressed, Face::Pressed},
                                  {ids.hover, Face::Hover},
                                  {ids.disabled, Face::Disabled}};
    for (const TFaceEntry &entry : entries) {
        if (entry.id == id) {
            face = entry.face;
            return true;
        }
    }
    return false;
}

} // namespace

QSize CSkinPainter::ImageSize(int id)
{
    return Image(id).size();
}

QImage CSkinPainter::Image(int id, qreal dpr)
{
    switch (id) {
    case skin::kUnfoldedBackground:
        return Background(false, dpr);
    case skin::kFoldedBackground:
        return Background(true, dpr);
    case skin::kBarEmpty:
        return Bar(QColor(24, 18, 16), QColor(40, 30, 28), true, dpr);
    case skin::kBarDownload:
        return Bar(QColor(150, 50, 20), QColor(255, 140, 0), false, dpr);
    case skin::kBarCheck:
        return Bar(QColor(120, 116, 30), QColor(212, 175, 55), false, dpr);
    case skin::kScrollTrack:
        return Canvas(QSize(3, 1), dpr, QColor(40, 30, 28));
    case skin::kScrollThumb: {
        QImage image = Canvas(QSize(3, 49), dpr, Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(153, 144, 93));
        p.drawRoundedRect(QRectF(0, 0, 3, 49), 1.5, 1.5);
        return image;
    }
    case skin::kEmblem:
        return EmblemImage(16, dpr);
    }
    const struct {
        skin::TFaceIds ids;
        QColor base;
    } mains[] = {{skin::kStartFaces, QColor(168, 64, 24)},
                 {skin::kPauseFaces, QColor(122, 84, 28)},
                 {skin::kContinueFaces, QColor(46, 104, 64)},
                 {skin::kInstallFaces, QColor(150, 40, 30)}};
    Face face = Face::Normal;
    for (const auto &main : mains) {
        if (FindFace(id, main.ids, face))
            return MainFace(main.base, face, dpr);
    }
    if (FindFace(id, skin::kFolderFaces, face))
        return GlyphButton(26, face, Folder, dpr);
    if (FindFace(id, skin::kSettingsFaces, face))
        return GlyphButton(25, face, Gear, dpr);
    if (FindFace(id, skin::kMinimiseFaces, face))
        return GlyphButton(25, face, Minimise, dpr);
    if (FindFace(id, skin::kCloseFaces, face))
        return GlyphButton(25, face, Cross, dpr);
    return QImage();
}

QIcon CSkinPainter::Emblem()
{
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(EmblemImage(side, 1.0)));
    return icon;
}

std::vector<int> CSkinPainter::Ids()
{
    std::vector<int> ids;
    for (int id = 100; id < 300; ++id) {
        if (!Image(id).isNull())
            ids.push_back(id);
    }
    return ids;
}
