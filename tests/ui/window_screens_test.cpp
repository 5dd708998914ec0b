// Screenshots of the window in each main state, kept as artifacts and
// checked by structure: the bar's fill against the percent, the main
// button's face, ink in the text areas, the outline; plus the text fit of
// the chosen font and the untrusted background files.
#include <QFontMetrics>
#include <QPainter>

#include "app/package_state.h"
#include "tests/ui/window_fixture.h"
#include "ui/picture_button.h"
#include "ui/skin_ids.h"
#include "ui/skin_painter.h"
#include "ui/window_background.h"
#include "ui/window_layout.h"

namespace {

// Pixels of the area that differ from the background under it: text ink.
int Ink(const QImage &shot, const QImage &background, const QRect &area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += shot.pixel(x, y) != background.pixel(x, y) ? 1 : 0;
    return count;
}

// Width of the bar's fill, read along its middle row: how far the pixels
// differ from what lies under the fill (the empty bar, or the panel).
int FillWidth(const QImage &shot, const QImage &empty)
{
    const QRect bar = layout::kProgressBar;
    const int y = bar.top() + bar.height() / 2;
    int width = 0;
    for (int x = bar.left() + 1; x < bar.right(); ++x) {
        if (shot.pixel(x, y) != empty.pixel(x - bar.left(), y - bar.top()))
            width = x - bar.left() + 1;
    }
    return width;
}

} // namespace

class WindowScreensTest : public WindowTest {
protected:
    // Keeps the shot and checks what every state shares.
    QImage Shot(const char *name)
    {
        const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
        KeepArtifact(shot, QString("window-") + name);
        EXPECT_EQ(shot.size(), window->size()) << name;
        return shot;
    }
    void ExpectBar(const QImage &shot, uint32_t hundredths, const char *name)
    {
        const int expected = layout::kProgressBar.width() * static_cast<int>(std::min(hundredths, 10000u)) / 10000;
        // The verification bar is drawn without the empty bar beneath.
        const QImage under = window->Snapshot().checkBar
                                 ? CSkinPainter::Image(skin::kFoldedBackground).copy(layout::kProgressBar)
                                 : CSkinPainter::Image(skin::kBarEmpty);
        EXPECT_NEAR(FillWidth(shot, under.convertToFormat(QImage::Format_RGB32)), expected, 1) << name;
    }
    void ExpectMainFace(const QImage &shot, CPictureButton *button, const char *name)
    {
        ASSERT_TRUE(button->isVisible()) << name;
        // Above the label the button shows exactly its face.
        const QImage face = CSkinPainter::Image(button->CurrentBitmap()).convertToFormat(QImage::Format_RGB32);
        const QRect strip(8, 1, 69, 4);
        EXPECT_EQ(shot.copy(strip.translated(layout::kMainButton.topLeft())), face.copy(strip))
            << name << " face " << button->CurrentBitmap();
    }
    void ExpectTexts(const QImage &shot, bool finished, const char *name)
    {
        const QImage background = CSkinPainter::Image(skin::kFoldedBackground).convertToFormat(QImage::Format_RGB32);
        EXPECT_GT(Ink(shot, background, layout::kVersionText), 0) << name;
        EXPECT_GT(Ink(shot, background, layout::kSaveLabel), 0) << name;
        EXPECT_GT(Ink(shot, background, layout::kSizeText), 0) << name;
        if (finished) {
            EXPECT_EQ(Ink(shot, background, layout::kSpeedText.adjusted(0, 0, -50, 0)), 0) << name;
            EXPECT_GT(Ink(shot, background, layout::kFinishedText), 0) << name;
        } else {
            EXPECT_GT(Ink(shot, background, layout::kProgressLabel), 0) << name;
            EXPECT_GT(Ink(shot, background, layout::kPercentText), 0) << name;
        }
    }
    void Check(const char *name, CPictureButton *mainButton, uint32_t bar, bool finished)
    {
        Second();
        const QImage shot = Shot(name);
        ExpectBar(shot, bar, name);
        ExpectMainFace(shot, mainButton, name);
        ExpectTexts(shot, finished, name);
    }
    // Sets a state the download reaches only through a long run.
    void Force(uint32_t state)
    {
        window->Controller().SetState(state);
        Second();
        ASSERT_EQ(window->Snapshot().state, state);
    }
};

TEST_F(WindowScreensTest, EveryMainState)
{
    Open();
    Check("ready", window->StartButton(), 0, false);
    ClickButton(window->StartButton());
    for (int i = 0; i < kPackageFileCount; ++i)
        SetFlowing(i, 300000, 3700);
    Second();
    Check("downloading", window->PauseButton(), window->Controller().GetOverallProgress(), false);
    EXPECT_GT(window->Controller().GetOverallProgress(), 3000u);
    ClickButton(window->PauseButton());
    Check("paused", window->ResumeButton(), window->Controller().GetOverallProgress(), false);
    ClickButton(window->ResumeButton());
    Force(PACKAGE_FAILED);
    {
        const QImage shot = Shot("failed");
        EXPECT_FALSE(window->PauseButton()->isEnabled());
    }
    for (int i = 0; i < kPackageFileCount; ++i)
        Finish(i);
    window->Controller().SetState(PACKAGE_DOWNLOADING);
    Second();
    Second();
    ASSERT_EQ(window->Snapshot().state, PACKAGE_FINISHED);
    Check("finished", window->InstallButton(), 10000, true);
    Force(PACKAGE_MD5_CHECKING);
    Check("checking", window->InstallButton(), 0, false);
    EXPECT_FALSE(window->InstallButton()->isEnabled());
    Force(PACKAGE_CHECK_RECOVER);
    Check("repairing", window->InstallButton(), 0, false);
    Force(PACKAGE_CHECK_FINISHED);
    Check("check-finished", window->InstallButton(), 0, true);
    EXPECT_EQ(window->Snapshot().texts.finished, "√ 验证通过");

    Click(window.get(), QPoint(200, 290));
    const QImage unfolded = Shot("unfolded");
    EXPECT_EQ(unfolded.height(), 385);
    EXPECT_TRUE(window->mask().isEmpty());
    // The list's rows are drawn in its own dark colours inside the window.
    EXPECT_NE(unfolded.pixelColor(100, 370), QColor(Qt::white));
}

TEST_F(WindowScreensTest, SpaceShortState)
{
    OpenWithDiskFull();
    Second();
    ASSERT_TRUE(window->Snapshot().spaceShort);
    const QImage shot = Shot("space-short");
    EXPECT_FALSE(window->PauseButton()->isEnabled());
    ExpectMainFace(shot, window->PauseButton(), "space-short");
}

TEST_F(WindowScreensTest, DoubleScaleDrawsEveryPixelAndKeepsTheOutline)
{
    Open();
    Second();
    QImage shot(window->size() * 2, QImage::Format_RGB32);
    shot.setDevicePixelRatio(2.0);
    shot.fill(Qt::black);
    window->render(&shot);
    KeepArtifact(shot, "window-2x");
    EXPECT_EQ(shot.size(), QSize(822, 614));
    // Every pixel inside the outline is drawn; the cut corners are not.
    EXPECT_EQ(shot.pixelColor(0, 613), QColor(Qt::black));
    EXPECT_NE(shot.pixelColor(400, 613), QColor(Qt::black));
    EXPECT_NE(shot.pixelColor(821, 0), QColor(Qt::black));
    // The outline is still cut from the one-to-one image.
    EXPECT_FALSE(window->mask().contains(QPoint(0, 306)));
}

TEST_F(WindowScreensTest, TextsFitTheirAreas)
{
    Open();
    const QFontMetrics metrics(window->font());
    EXPECT_LE(metrics.height(), 18);
    const struct {
        QRect area;
        QStringList texts;
    } areas[] = {
        {layout::kSpeedText, {"文件验证中...", "修复准备...", "修复中...", "1023.9 KB/s", "1023.9 MB/s", "未知"}},
        {layout::kProgressLabel, {"当前进度:", "验证进度:", "修复进度:"}},
        {layout::kPercentText, {"100.00%", "准备中"}},
        {layout::kFinishedText, {"√ 修复成功", "√ 验证通过", "下载完成"}},
        {layout::kVersionText, {QString::fromStdString(window->Controller().GetVersionText())}},
        {layout::kSaveLabel, {"保存位置:"}},
        {layout::kSizeText, {"1023.9 MB/7.4 GB", "7.4 GB/7.4 GB"}},
    };
    for (const auto &area : areas) {
        for (const QString &text : area.texts)
            EXPECT_LE(metrics.horizontalAdvance(text), area.area.width()) << text.toStdString();
    }
    std::printf("text font: %d px, line height %d px\n", layout::kFontPixels, metrics.height());
}

TEST(WindowBackground, FilesBesideTheProgramAreCheckedBeforeUse)
{
    ScratchFolder scratch;
    const QString folder = QString::fromStdString(scratch.Root().string());
    CWindowBackground none(folder);
    EXPECT_FALSE(none.UsesFile(true));

    // Wrong size, not an image at all: both ignored.
    QImage small(100, 100, QImage::Format_RGB32);
    small.fill(Qt::red);
    small.save(folder + "/bg2.bmp", "BMP");
    scratch.Write("bg.bmp", std::string(411 * 385 * 3, 'x'));
    CWindowBackground wrong(folder);
    EXPECT_FALSE(wrong.UsesFile(true));
    EXPECT_FALSE(wrong.UsesFile(false));
    EXPECT_EQ(wrong.Folded(1.0).size(), QSize(411, 307));

    // The right size is used, and its key pixels in the outline rows cut
    // the region, including the image's last row and none past it.
    QImage fitting(411, 307, QImage::Format_RGB32);
    fitting.fill(Qt::darkGray);
    fitting.setPixelColor(5, 306, skin::kKeyColour);
    fitting.setPixelColor(5, 100, skin::kKeyColour); // outside the outline rows
    fitting.save(folder + "/bg2.bmp", "BMP");
    CWindowBackground used(folder);
    EXPECT_TRUE(used.UsesFile(true));
    const QRegion region = used.FoldedRegion();
    EXPECT_FALSE(region.contains(QPoint(5, 306)));
    EXPECT_TRUE(region.contains(QPoint(5, 100)));
    EXPECT_TRUE(region.contains(QPoint(6, 306)));
    EXPECT_EQ(region.boundingRect(), QRect(0, 0, 411, 307));
}
