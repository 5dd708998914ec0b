// The button table and the texts of the progress row, by package state.
#include <gtest/gtest.h>

#include "app/package_state.h"
#include "ui/button_states.h"
#include "ui/state_texts.h"

namespace {

TButtonPanel After(std::initializer_list<uint32_t> states, bool spaceShort, bool reopened = false)
{
    TButtonPanel panel;
    (reopened ? panel.pause : panel.start).shown = true;
    for (uint32_t state : states)
        ApplyPackageState(panel, state, spaceShort, reopened);
    return panel;
}

} // namespace

TEST(ButtonStates, DownloadPauseContinueWithAndWithoutSpace)
{
    for (bool spaceShort : {false, true}) {
        SCOPED_TRACE(spaceShort);
        TButtonPanel panel = After({PACKAGE_BACK}, spaceShort);
        EXPECT_TRUE(panel.start.shown);
        EXPECT_EQ(panel.start.enabled, !spaceShort);

        panel = After({PACKAGE_PREPARING}, spaceShort);
        EXPECT_FALSE(panel.start.shown);
        EXPECT_TRUE(panel.pause.shown && panel.pause.enabled);
        EXPECT_TRUE(panel.changeFolder.shown);
        EXPECT_FALSE(panel.changeFolder.enabled);

        panel = After({PACKAGE_PREPARING, PACKAGE_DOWNLOADING}, spaceShort);
        EXPECT_EQ(panel.pause.enabled, !spaceShort);
        EXPECT_FALSE(panel.changeFolder.shown);
        EXPECT_TRUE(panel.openFolder.shown);

        panel = After({PACKAGE_PREPARING, PACKAGE_DOWNLOADING, PACKAGE_PAUSE}, spaceShort);
        EXPECT_FALSE(panel.pause.shown);
        EXPECT_TRUE(panel.resume.shown);
        EXPECT_EQ(panel.resume.enabled, !spaceShort);

        panel = After({PACKAGE_PAUSE, PACKAGE_RESUME}, spaceShort);
        EXPECT_FALSE(panel.resume.shown);
        EXPECT_TRUE(panel.pause.shown);
    }
    // Reopened at start: Pause is the main button that space disables.
    const TButtonPanel reopened = After({PACKAGE_BACK}, true, true);
    EXPECT_TRUE(reopened.pause.shown);
    EXPECT_FALSE(reopened.pause.enabled);
    EXPECT_TRUE(reopened.start.enabled);
    // Space freed: the polled state returns to ready and the button to use.
    EXPECT_TRUE(After({PACKAGE_BACK}, true).start.enabled == false);
    const TButtonPanel freed = After({PACKAGE_BACK, PACKAGE_READY}, false);
    EXPECT_TRUE(freed.start.enabled);
}

TEST(ButtonStates, FailureFinishCheckAndReload)
{
    TButtonPanel panel = After({PACKAGE_PREPARING, PACKAGE_DOWNLOADING, PACKAGE_FAILED}, false);
    EXPECT_TRUE(panel.pause.shown);
    EXPECT_FALSE(panel.pause.enabled || panel.resume.enabled || panel.install.enabled || panel.start.enabled);

    for (uint32_t done : {PACKAGE_FINISHED, PACKAGE_CHECK_FINISHED}) {
        panel = After({PACKAGE_PREPARING, PACKAGE_DOWNLOADING, done}, false);
        EXPECT_FALSE(panel.start.shown || panel.pause.shown || panel.resume.shown);
        EXPECT_TRUE(panel.install.shown && panel.install.enabled);
        EXPECT_TRUE(panel.openFolder.shown);
    }
    for (uint32_t checking : {PACKAGE_MD5_CHECKING, PACKAGE_CHECK_RECOVER}) {
        panel = After({PACKAGE_FINISHED, checking}, false);
        EXPECT_TRUE(panel.install.shown);
        EXPECT_FALSE(panel.install.enabled);
    }
    panel = After({PACKAGE_RELOAD}, false, true);
    EXPECT_TRUE(panel.pause.shown);
    EXPECT_FALSE(panel.pause.enabled);
    EXPECT_FALSE(panel.changeFolder.enabled);
    // A state the table does not name changes nothing.
    const TButtonPanel before = After({PACKAGE_PREPARING}, false);
    panel = before;
    ApplyPackageState(panel, PACKAGE_INSTALLING, false, false);
    EXPECT_EQ(panel.pause.shown, before.pause.shown);
    EXPECT_EQ(panel.changeFolder.enabled, before.changeFolder.enabled);
}

TEST(StateTexts, PercentAndFinishedTexts)
{
    TStateInputs in;
    in.state = PACKAGE_READY;
    in.speedText = "0 B/s";
    TStateTexts texts = TextsForState(in);
    EXPECT_EQ(texts.percent, "0.00%");
    EXPECT_EQ(texts.label, "当前进度:");
    EXPECT_EQ(texts.speed, "0 B/s");
    in.overallProgress = 10000;
    EXPECT_EQ(TextsForState(in).percent, "100.00%");
    in.overallProgress = 4550;
    EXPECT_EQ(TextsForState(in).percent, "45.50%");

    in.state = PACKAGE_FINISHED;
    texts = TextsForState(in);
    EXPECT_EQ(texts.finished, "下载完成");
    EXPECT_TRUE(texts.speed.empty() && texts.percent.empty());
    in.state = PACKAGE_CHECK_FINISHED;
    EXPECT_EQ(TextsForState(in).finished, "√ 验证通过");
    in.mismatchSeen = true;
    EXPECT_EQ(TextsForState(in).finished, "√ 修复成功");

    in.state = PACKAGE_MD5_CHECKING;
    in.checkProgress = 1234;
    texts = TextsForState(in);
    EXPECT_EQ(texts.speed, "文件验证中...");
    EXPECT_EQ(texts.label, "验证进度:");
    EXPECT_EQ(texts.percent, "12.34%");
}

TEST(StateTexts, RepairAlternatesFourOfTwelveSeconds)
{
    TStateInputs in;
    in.state = PACKAGE_CHECK_RECOVER;
    TStateTexts texts = TextsForState(in);
    EXPECT_EQ(texts.speed, "修复准备...");
    EXPECT_EQ(texts.percent, "准备中");
    EXPECT_EQ(texts.label, "修复进度:");

    in.repairProgress = 2500;
    in.repairSpeed = 2048;
    int notices = 0;
    for (uint32_t second = 0; second < 24; ++second) {
        in.redraws = second;
        texts = TextsForState(in);
        EXPECT_EQ(texts.percent, "25.00%");
        if (texts.speed == "修复中...")
            ++notices;
        else
            EXPECT_EQ(texts.speed, "2.0 KB/s") << second;
    }
    EXPECT_EQ(notices, 8);
}
