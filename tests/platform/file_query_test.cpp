#include "platform/file_query.h"

#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using namespace platform;

namespace {

// Other processes may write to the same file system between two queries.
constexpr uint64_t kSlack = 256ull << 20;

bool Near(uint64_t a, uint64_t b) { return (a > b ? a - b : b - a) <= kSlack; }

TEST(FreeBytesOfPathTest, RelativeOrEmptyPathsAnswerZero)
{
    EXPECT_EQ(FreeBytesOfPath(""), 0u);
    EXPECT_EQ(FreeBytesOfPath("relative/folder"), 0u);
    EXPECT_EQ(FreeBytesOfPath("./here"), 0u);
    EXPECT_EQ(FreeBytesOfPath("C:\\Games"), 0u);
}

TEST(FreeBytesOfPathTest, AnExistingFolderAnswersForItsFileSystem)
{
    ScratchFolder folder;
    uint64_t free = FreeBytesOfPath(folder.Root().string());
    ASSERT_GT(free, 0u);
    EXPECT_TRUE(Near(free, std::filesystem::space(folder.Root()).available));
    EXPECT_GT(FreeBytesOfPath("/"), 0u);
}

TEST(FreeBytesOfPathTest, MissingPathsAnswerForTheNearestExistingAncestor)
{
    ScratchFolder folder;
    uint64_t expected = std::filesystem::space(folder.Root()).available;
    EXPECT_TRUE(Near(FreeBytesOfPath(folder.Path("not/yet/there")), expected));
    EXPECT_TRUE(Near(FreeBytesOfPath(folder.Path("not//yet///")), expected));
    folder.Write("file", "x");
    EXPECT_TRUE(Near(FreeBytesOfPath(folder.Path("file/below")), expected));
    EXPECT_GT(FreeBytesOfPath("/no-such-top-folder-for-ql/sub"), 0u);
}

TEST(FileBytesOnDiskTest, MissingFileIsNotFound)
{
    ScratchFolder folder;
    DiskUsage usage = FileBytesOnDisk(folder.Path("missing.bin"));
    EXPECT_EQ(usage.status, DiskUsage::Status::NotFound);
    EXPECT_EQ(usage.bytes, 0);
}

TEST(FileBytesOnDiskTest, CountsAllocatedBlocksNotTheLength)
{
    ScratchFolder folder;
    folder.Write("empty.bin", "");
    DiskUsage empty = FileBytesOnDisk(folder.Path("empty.bin"));
    EXPECT_EQ(empty.status, DiskUsage::Status::Ok);
    EXPECT_EQ(empty.bytes, 0);

    const int64_t written = 300000;
    folder.Write("full.bin", std::string(written, 'q'));
    DiskUsage full = FileBytesOnDisk(folder.Path("full.bin"));
    ASSERT_EQ(full.status, DiskUsage::Status::Ok);
    EXPECT_GE(full.bytes, written);
    EXPECT_LT(full.bytes, written + (1 << 20));
    EXPECT_EQ(full.bytes % 512, 0);

    // A long hole occupies (almost) nothing.
    folder.Write("sparse.bin", "");
    std::filesystem::resize_file(folder.Path("sparse.bin"), 64 << 20);
    DiskUsage sparse = FileBytesOnDisk(folder.Path("sparse.bin"));
    ASSERT_EQ(sparse.status, DiskUsage::Status::Ok);
    EXPECT_LT(sparse.bytes, 1 << 20);
}

TEST(FileBytesOnDiskTest, NeedsNoReadAccessAndNeverBlocks)
{
    ScratchFolder folder;
    folder.Write("locked.bin", std::string(5000, 'x'));
    std::filesystem::permissions(folder.Path("locked.bin"), std::filesystem::perms::none);
    DiskUsage locked = FileBytesOnDisk(folder.Path("locked.bin"));
    EXPECT_EQ(locked.status, DiskUsage::Status::Ok);
    EXPECT_GE(locked.bytes, 5000);

    // A FIFO has no writer here: opening it to read would wait forever.
    ASSERT_EQ(std::system(("mkfifo '" + folder.Path("pipe") + "'").c_str()), 0);
    DiskUsage pipe = FileBytesOnDisk(folder.Path("pipe"));
    EXPECT_EQ(pipe.status, DiskUsage::Status::Ok);
    EXPECT_EQ(pipe.bytes, 0);
}

} // namespace
