// Size, speed and percent texts, and the task records handed to the engine.
#include <gtest/gtest.h>

#include "app/package_texts.h"
#include "app/task_param.h"

namespace {

TEST(PackageTexts, SizesSpeedsAndPercentsAtTheirBoundaries)
{
    EXPECT_EQ(SizeText(0), "");
    EXPECT_EQ(SizeText(1023), "1023 B");
    EXPECT_EQ(SizeText(1024), "1.0 KB");
    EXPECT_EQ(SizeText(7929061959ULL), "7.4 GB");
    EXPECT_EQ(SizeText(1ULL << 40), "1.0 TB");

    EXPECT_EQ(SpeedText(0), "0 B/s");
    EXPECT_EQ(SpeedText(1023), "1023 B/s");
    EXPECT_EQ(SpeedText(1536), "1.5 KB/s");
    EXPECT_EQ(SpeedText(1ULL << 30), "1.0 GB/s");
    EXPECT_EQ(SpeedText(3435973835ULL), "3.2 GB/s");
    EXPECT_EQ(SpeedText(3435973836ULL), "未知");

    EXPECT_EQ(PercentText(0), "0%");
    EXPECT_EQ(PercentText(1205), "12.05%");
    EXPECT_EQ(PercentText(1200), "12%");
    EXPECT_EQ(FractionText(1200), "12.00%");
}

TEST(TaskParam, TextsThatDoNotFitAreNeverCut)
{
    TTaskParam param{};
    param.userState = 1;
    TTaskTexts texts;
    texts.targetPath = "/save/f.bin";
    texts.resumePath = "/info/" + std::string(4090, 'r');
    texts.defaultResumePath = "/info/f.bin.qlinfo";
    texts.torrentPath = "/data/" + std::string(4090, 't');
    texts.sourceList = "http://127.0.0.1/f.bin";
    ASSERT_TRUE(FillTaskParam(param, texts));
    EXPECT_EQ(param.userState, 1u);
    EXPECT_STREQ(param.resumePath, "/info/f.bin.qlinfo");
    EXPECT_STREQ(param.p2spUrl, "");
    EXPECT_EQ(param.flags, TASK_FLAG_FILE_PATH);
    EXPECT_STREQ(param.sourceList, "http://127.0.0.1/f.bin");

    texts.torrentPath = "/data/abc";
    ASSERT_TRUE(FillTaskParam(param, texts));
    EXPECT_STREQ(param.p2spUrl, "file:///data/abc");
    EXPECT_EQ(param.flags, TASK_FLAG_FILE_PATH | TASK_FLAG_P2SP);

    texts.targetPath = "/" + std::string(kEnginePathChars - 1, 'x');
    EXPECT_FALSE(FillTaskParam(param, texts));
}

} // namespace
