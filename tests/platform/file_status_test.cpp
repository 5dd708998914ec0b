#include "platform/file_status.h"

#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

namespace {

TEST(QueryRegularFileTest, GivesSizeAndWriteTimeSince1601)
{
    ScratchFolder folder;
    folder.Write("f", std::string(12345, 'x'));
    // 2001-09-09 01:46:40 UTC: 10^9 seconds after 1970.
    const auto when = std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(1000000000)));
    std::filesystem::last_write_time(folder.Path("f"), when);
    platform::FileStatus status;
    ASSERT_TRUE(platform::QueryRegularFile(folder.Path("f"), status));
    EXPECT_EQ(status.size, 12345u);
    EXPECT_EQ(status.writeTime, (11644473600ULL + 1000000000ULL) * 10000000ULL);
}

TEST(QueryRegularFileTest, FoldersAndMissingFilesAreNotFiles)
{
    ScratchFolder folder;
    platform::FileStatus status;
    EXPECT_FALSE(platform::QueryRegularFile(folder.Root().string(), status));
    EXPECT_FALSE(platform::QueryRegularFile(folder.Path("missing"), status));
    EXPECT_FALSE(platform::QueryRegularFile("", status));
    EXPECT_TRUE(platform::FolderPresent(folder.Root().string()));
    EXPECT_FALSE(platform::EntryPresent(folder.Path("missing")));
    std::filesystem::create_symlink(folder.Path("missing"), folder.Path("dangling"));
    EXPECT_TRUE(platform::EntryPresent(folder.Path("dangling")));
}

} // namespace
