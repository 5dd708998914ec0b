// The artwork: every image at its size and scale, the key colour only where
// the outline is cut, distinct button states and readable labels.
#include <QPainter>
#include <map>

#include "tests/ui/qt_test_support.h"
#include "ui/skin_ids.h"
#include "ui/skin_painter.h"

namespace {

int KeyPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += (image.pixel(x, y) & 0xFFFFFF) == (skin::kKeyColour.rgb() & 0xFFFFFF) ? 1 : 0;
    return count;
}

const std::map<int, QSize> kSizes = [] {
    std::map<int, QSize> sizes{{skin::kUnfoldedBackground, {411, 385}}, {skin::kFoldedBackground, {411, 307}},
                               {skin::kScrollTrack, {3, 1}},            {skin::kScrollThumb, {3, 49}},
                               {skin::kEmblem, {16, 16}}};
    for (int id = 170; id <= 172; ++id)
        sizes[id] = {286, 12};
    for (const skin::TFaceIds &ids : {skin::kStartFaces, skin::kPauseFaces, skin::kContinueFaces, skin::kInstallFaces})
        for (int id : {ids.normal, ids.pressed, ids.hover, ids.disabled})
            sizes[id] = {85, 32};
    for (int id : {214, 215, 216, 235})
        sizes[id] = {26, 26};
    for (int id : {218, 219, 220, 222, 223, 224, 228, 229, 230})
        sizes[id] = {25, 25};
    return sizes;
}();

} // namespace

TEST(SkinPainter, PaintsEveryIdAtItsSizeAndScale)
{
    std::vector<int> expected;
    for (const auto &[id, size] : kSizes)
        expected.push_back(id);
    EXPECT_EQ(CSkinPainter::Ids(), expected);
    for (const auto &[id, size] : kSizes) {
        EXPECT_EQ(CSkinPainter::ImageSize(id), size) << id;
        const QImage doubled = CSkinPainter::Image(id, 2.0);
        EXPECT_EQ(doubled.size(), size * 2) << id;
        EXPECT_EQ(doubled.deviceIndependentSize().toSize(), size) << id;
    }
    EXPECT_TRUE(CSkinPainter::Image(999).isNull());
    for (int side : {16, 32, 48, 256})
        EXPECT_EQ(CSkinPainter::Emblem().pixmap(side).width(), side);
}

TEST(SkinPainter, KeyColourOnlyInTheCutCorners)
{
    const QImage folded = CSkinPainter::Image(skin::kFoldedBackground);
    const int keyed = KeyPixels(folded);
    EXPECT_GT(keyed, 0);
    // Only the two bottom corners, within their 8-pixel radius.
    EXPECT_EQ(KeyPixels(folded.copy(0, 299, 8, 8)) + KeyPixels(folded.copy(403, 299, 8, 8)), keyed);
    const int keyedTwice = KeyPixels(CSkinPainter::Image(skin::kFoldedBackground, 2.0));
    EXPECT_GT(keyedTwice, keyed * 3);
    EXPECT_LT(keyedTwice, keyed * 5);
    EXPECT_EQ(KeyPixels(CSkinPainter::Image(skin::kUnfoldedBackground)), 0);
    for (int id : {170, 171, 172, 214, 218, 222, 228, 156, 163, 128})
        EXPECT_EQ(KeyPixels(CSkinPainter::Image(id)), 0) << id;
    const QImage face = CSkinPainter::Image(skin::kStartFaces.normal);
    EXPECT_EQ(face.pixel(0, 0), skin::kKeyColour.rgb());
    EXPECT_EQ(face.pixel(84, 31), skin::kKeyColour.rgb());
    EXPECT_NE(face.pixel(42, 16), skin::kKeyColour.rgb());
}

TEST(SkinPainter, ButtonStatesDifferAndLabelsStayReadable)
{
    for (const skin::TFaceIds &ids : {skin::kStartFaces, skin::kPauseFaces, skin::kContinueFaces, skin::kInstallFaces,
                                      skin::kFolderFaces}) {
        const QImage normal = CSkinPainter::Image(ids.normal);
        for (int other : {ids.pressed, ids.hover, ids.disabled})
            EXPECT_NE(CSkinPainter::Image(other), normal) << ids.normal << " vs " << other;
    }
    for (const skin::TFaceIds &ids : {skin::kStartFaces, skin::kPauseFaces, skin::kContinueFaces, skin::kInstallFaces}) {
        for (int id : {ids.normal, ids.pressed, ids.hover}) {
            const QColor middle = CSkinPainter::Image(id).pixelColor(42, 16);
            EXPECT_GE(Contrast(Qt::white, middle), 4.5) << id;
        }
        // The hover face is lighter than the normal one, the pressed darker.
        const int normal = qGray(CSkinPainter::Image(ids.normal).pixel(42, 16));
        EXPECT_GT(qGray(CSkinPainter::Image(ids.hover).pixel(42, 16)), normal);
        EXPECT_LT(qGray(CSkinPainter::Image(ids.pressed).pixel(42, 16)), normal);
        const QColor disabled = CSkinPainter::Image(ids.disabled).pixelColor(42, 16);
        EXPECT_LT(disabled.hsvSaturation(), 20) << ids.disabled;
    }
}

TEST(SkinPainter, ContactSheetKept)
{
    QImage sheet(900, 900, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::gray);
    QPainter painter(&sheet);
    int x = 4, y = 4, rowHeight = 0;
    for (int id : CSkinPainter::Ids()) {
        const QImage image = CSkinPainter::Image(id);
        if (x + image.width() > sheet.width()) {
            x = 4;
            y += rowHeight + 4;
            rowHeight = 0;
        }
        painter.drawImage(x, y, image);
        x += image.width() + 4;
        rowHeight = std::max(rowHeight, image.height());
    }
    painter.end();
    EXPECT_TRUE(QImage(KeepArtifact(sheet, "artwork-contact-sheet")).size() == sheet.size());
}
