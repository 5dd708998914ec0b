#include "app/finish_stamps.h"
#include "platform/ini.h"
#include "tests/app/app_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

namespace {

class FinishStampsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ini.SetPath(scratch.Path("key.qlconf"));
        scratch.Write("file3", std::string(5000, 'v'));
        SetWriteTime("file3", 1700000000);
    }
    void SetWriteTime(const std::string &name, int64_t seconds)
    {
        std::filesystem::last_write_time(
            scratch.Path(name),
            std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(seconds))));
    }
    std::string Stored(const std::string &key)
    {
        return platform::IniReadString(scratch.Path("key.qlconf"), kFinishInfoSection, key, "<none>");
    }

    ScratchFolder scratch;
    ScratchFileSystem files{scratch};
    FakeAppClock clock;
    CPackageIni ini{files, clock};
    CFinishStamps stamps{ini, files};
};

TEST_F(FinishStampsTest, StampRecordsTimeAndSizeHalves)
{
    ASSERT_TRUE(stamps.WriteStamp(3, scratch.Path("file3")));
    const uint64_t time = (11644473600ULL + 1700000000ULL) * 10000000ULL;
    EXPECT_EQ(Stored("QuarrowlightTask3WriteTimeHigh"), std::to_string(time >> 32));
    EXPECT_EQ(Stored("QuarrowlightTask3WriteTimeLow"), std::to_string(time & 0xffffffffULL));
    EXPECT_EQ(Stored("QuarrowlightTask3FileSizeHigh"), "0");
    EXPECT_EQ(Stored("QuarrowlightTask3FileSizeLow"), "5000");
    EXPECT_TRUE(stamps.CheckStamp(3, scratch.Path("file3")));
}

TEST_F(FinishStampsTest, TouchedFileFailsAndIsRemembered)
{
    ASSERT_TRUE(stamps.WriteStamp(3, scratch.Path("file3")));
    SetWriteTime("file3", 1700000001);
    TRecheckList recheck;
    EXPECT_FALSE(stamps.CheckStamp(3, scratch.Path("file3"), &recheck));
    EXPECT_TRUE(recheck.Contains(3));
    EXPECT_FALSE(stamps.CheckStamp(3, scratch.Path("file3"), &recheck));
    EXPECT_EQ(recheck.Count(), 1);
}

TEST_F(FinishStampsTest, ResizedFileFails)
{
    ASSERT_TRUE(stamps.WriteStamp(3, scratch.Path("file3")));
    scratch.Write("file3", std::string(5001, 'v'));
    SetWriteTime("file3", 1700000000);
    EXPECT_FALSE(stamps.CheckStamp(3, scratch.Path("file3")));
}

TEST_F(FinishStampsTest, FileWithoutStampKeysNeverMatches)
{
    EXPECT_FALSE(stamps.CheckStamp(3, scratch.Path("file3")));
    ASSERT_TRUE(stamps.WriteStamp(2, scratch.Path("file3")));
    EXPECT_FALSE(stamps.CheckStamp(3, scratch.Path("file3")));
    EXPECT_TRUE(stamps.CheckStamp(2, scratch.Path("file3")));
}

TEST_F(FinishStampsTest, MissingFileGetsNoStampAndFailsTheCheck)
{
    ASSERT_TRUE(stamps.WriteStamp(4, scratch.Path("file3")));
    EXPECT_FALSE(stamps.WriteStamp(4, scratch.Path("gone")));
    // The earlier stamp is untouched, and a missing file never matches it.
    EXPECT_EQ(Stored("QuarrowlightTask4FileSizeLow"), "5000");
    EXPECT_FALSE(stamps.CheckStamp(4, scratch.Path("gone")));
    EXPECT_FALSE(stamps.WriteStamp(0, scratch.Root().string()));
    EXPECT_EQ(Stored("QuarrowlightTask0FileSizeLow"), "<none>");
}

TEST_F(FinishStampsTest, LargeFileSizeUsesTheHighHalf)
{
    // A sparse file: 5 GiB of size without the disk use.
    std::filesystem::resize_file(scratch.Path("file3"), 5ULL << 30);
    ASSERT_TRUE(stamps.WriteStamp(1, scratch.Path("file3")));
    EXPECT_EQ(Stored("QuarrowlightTask1FileSizeHigh"), "1");
    EXPECT_EQ(Stored("QuarrowlightTask1FileSizeLow"), std::to_string((5ULL << 30) & 0xffffffffULL));
}

TEST(RecheckListTest, EntriesStayUniqueAndAscending)
{
    TRecheckList list;
    list.Add(4);
    list.Add(1);
    list.Add(4);
    list.Add(5);
    list.Add(0);
    list.Add(6);
    list.Add(-1);
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list.At(0), 0);
    EXPECT_EQ(list.At(1), 1);
    EXPECT_EQ(list.At(2), 4);
    EXPECT_EQ(list.At(3), 5);
    EXPECT_TRUE(list.Contains(5));
    EXPECT_FALSE(list.Contains(2));
    for (int i = 0; i < 6; ++i)
        list.Add(i);
    EXPECT_EQ(list.Count(), 6);
    list.Clear();
    EXPECT_FALSE(list.Contains(0));
}

} // namespace
