// The skinned button, list and scroll bar: images by state, the list's
// colours and stripes, one line per wheel notch, thumb placement and drag.
#include <QHeaderView>
#include <QScrollBar>

#include "tests/ui/qt_test_support.h"
#include "ui/picture_button.h"
#include "ui/skin_colours.h"
#include "ui/skin_ids.h"
#include "ui/skin_list_ctrl.h"
#include "ui/skin_verticle_scrollbar.h"

TEST(PictureButton, FacesByStateWithFallbackToNormal)
{
    QWidget parent;
    CPictureButton button(&parent);
    button.SetBitmaps(198, 200, 0, 0, 0, true);
    EXPECT_EQ(button.size(), QSize(85, 32));
    EXPECT_EQ(button.CurrentBitmap(), 198);

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&button, &enter);
    EXPECT_EQ(button.CurrentFace(), CPictureButton::Face::Hover);
    EXPECT_EQ(button.CurrentBitmap(), 198); // no hover image of its own

    SendMouse(&button, QEvent::MouseButtonPress, QPoint(5, 5));
    EXPECT_EQ(button.CurrentFace(), CPictureButton::Face::Pressed);
    EXPECT_EQ(button.CurrentBitmap(), 200);
    SendMouse(&button, QEvent::MouseButtonRelease, QPoint(5, 5));

    button.setEnabled(false);
    EXPECT_EQ(button.CurrentFace(), CPictureButton::Face::Disabled);
    EXPECT_EQ(button.CurrentBitmap(), 198);

    button.SetBitmaps(198, 200, 199, 0, 201, false);
    EXPECT_EQ(button.CurrentBitmap(), 201);
    button.setEnabled(true);
    EXPECT_EQ(button.CurrentBitmap(), 199);
}

namespace {

struct ListFixture : ::testing::Test {
    ListFixture()
    {
        window.resize(420, 200);
        list = new CSkinListCtrl(&window);
        list->setColumnCount(2);
        list->header()->resizeSection(0, 280);
        list->header()->resizeSection(1, 128);
        QFont font = list->font();
        font.setPixelSize(12);
        list->setFont(font);
    }
    void Fill(int rows, int height)
    {
        for (int i = 0; i < rows; ++i) {
            auto *item = new QTreeWidgetItem(list, {QString("file%1.v").arg(i), "45.50%    "});
            item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        }
        list->setGeometry(0, 0, 408, height);
        list->AttachScrollbar();
        window.show();
        QApplication::processEvents();
    }
    QImage Shot() { return list->viewport()->grab().toImage(); }

    QWidget window;
    CSkinListCtrl *list = nullptr;
};

} // namespace

TEST_F(ListFixture, RowsAlternateStripesContinueAndSelectionShowsWithoutFocus)
{
    Fill(3, 200);
    list->clearFocus();
    list->setCurrentItem(list->topLevelItem(1));
    const QImage shot = Shot();
    const int row = list->RowHeight();
    EXPECT_EQ(shot.pixelColor(2, row / 2), skin::kRowEven);
    EXPECT_EQ(shot.pixelColor(2, row + row / 2), skin::kRowSelected);
    EXPECT_EQ(shot.pixelColor(2, 2 * row - 1), skin::kSelectedLine);
    EXPECT_EQ(shot.pixelColor(2, 2 * row + row / 2), skin::kRowEven);
    // Below the third row the stripes go on: the fourth is odd, the fifth even.
    EXPECT_EQ(shot.pixelColor(2, 3 * row + 3), skin::kRowOdd);
    EXPECT_EQ(shot.pixelColor(2, 3 * row + skin::kStripeHeight + 3), skin::kRowEven);
    // Text ink in the list text colour, right-aligned in the status column.
    bool inkRight = false, inkLeft = false;
    for (int x = 290; x < 400; ++x) {
        for (int y = 0; y < row; ++y) {
            const QColor c = shot.pixelColor(x, y);
            if (c.red() > 150 && c.green() > 110) {
                (x > 320 ? inkRight : inkLeft) = true;
            }
        }
    }
    EXPECT_TRUE(inkRight);
    EXPECT_FALSE(inkLeft);
    KeepArtifact(shot, "list-rows");
}

TEST_F(ListFixture, ShortListHasNoThumbAndIgnoresTheWheel)
{
    Fill(6, 200);
    EXPECT_FALSE(list->Scrollbar()->CanScroll());
    SendWheel(list->viewport(), false);
    EXPECT_EQ(list->verticalScrollBar()->value(), 0);
    const QImage bar = list->Scrollbar()->grab().toImage();
    EXPECT_EQ(bar.pixelColor(1, 1), bar.pixelColor(1, bar.height() - 2)); // track only
}

TEST_F(ListFixture, WheelMovesOneLinePerNotchAndTheThumbFollows)
{
    Fill(30, 120);
    CSkinVerticleScrollbar *bar = list->Scrollbar();
    ASSERT_TRUE(bar->CanScroll());
    EXPECT_EQ(bar->ThumbTop(), 0);
    SendWheel(list->viewport(), false);
    SendWheel(list->viewport(), false);
    EXPECT_EQ(list->verticalScrollBar()->value(), 2);
    SendWheel(list->viewport(), true);
    EXPECT_EQ(list->verticalScrollBar()->value(), 1);
    const int largest = list->verticalScrollBar()->maximum();
    EXPECT_DOUBLE_EQ(bar->Ratio(), static_cast<double>(bar->height() - 49) / largest);
    EXPECT_EQ(bar->ThumbTop(), static_cast<int>(bar->Ratio()));
    list->verticalScrollBar()->setValue(largest);
    EXPECT_EQ(bar->ThumbTop(), bar->height() - 49);
}

TEST_F(ListFixture, DraggingTheThumbScrollsAndClicksBesideItPage)
{
    Fill(30, 160);
    CSkinVerticleScrollbar *bar = list->Scrollbar();
    ASSERT_TRUE(bar->CanScroll());
    const int largest = list->verticalScrollBar()->maximum();
    SendMouse(bar, QEvent::MouseButtonPress, QPoint(1, 10));
    SendMouse(bar, QEvent::MouseMove, QPoint(1, bar->height())); // past the end
    EXPECT_EQ(bar->ThumbTop(), bar->height() - 49);
    EXPECT_EQ(list->verticalScrollBar()->value(), largest);
    SendMouse(bar, QEvent::MouseButtonRelease, QPoint(1, bar->height()));

    // A click above the thumb pages up by a screenful, not to the top.
    const int page = list->verticalScrollBar()->pageStep();
    Click(bar, QPoint(1, 2));
    EXPECT_EQ(list->verticalScrollBar()->value(), largest - page);
    Click(bar, QPoint(1, bar->height() - 1));
    EXPECT_EQ(list->verticalScrollBar()->value(), largest);
}
