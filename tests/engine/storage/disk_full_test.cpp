// A full disk, for real: the test runs itself again inside a mount namespace
// of its own (unshare -m, as root) with a 4 MiB tmpfs over a scratch folder.
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

#include "engine/storage/disk_file.h"
#include "platform/run_program.h"
#include "storage_fixtures.h"
#include "tests/platform/scratch_folder.h"

namespace {

constexpr const char kTmpfsVariable[] = "QL_DISK_FULL_TMPFS";
constexpr int32_t kBlock = 16384;

// Fills the volume: a file grows in pages until the volume refuses.
void FillVolume(const std::string &path)
{
    TDiskFile filler;
    ASSERT_TRUE(filler.Open(path, false, true));
    const std::string page(4096, 'f');
    int64_t at = 0;
    while (filler.WriteAt(page.data(), 4096, at) == 4096)
        at += 4096;
    EXPECT_TRUE(filler.LastWriteHitFullDisk());
}

// A selected file longer than the free space: the start-up allocation check
// reports 1002 once, the task asks to stop, and nothing waits or recovers.
void TooLittleSpaceForTheFiles(const std::string &root)
{
    std::filesystem::create_directories(root + "/alloc");
    RecordingSink sink;
    const std::string data = Content(8 << 20, 3);
    PiecesHandle pieces = MakePieces(sink, root + "/alloc");
    std::unique_ptr<QElement> info = ParseInfo(SingleFileInfo("big.bin", data, 1 << 20));
    ASSERT_TRUE(pieces->BuildFromInfo(info.get(), nullptr));
    EXPECT_EQ(sink.Count(PIECES_EVENT_DISK_FULL), 1);
    EXPECT_EQ(sink.Count(PIECES_EVENT_SPACE_AGAIN), 0);
    EXPECT_TRUE(sink.stopRequested);

    // A verified piece that cannot be written stays in memory: not lost, not
    // fetched again.
    FeedBlocks(*pieces, data, 0, 1 << 20);
    pieces->FlushVerified();
    EXPECT_FALSE(pieces->IsPieceComplete(0));
    EXPECT_FALSE(pieces->IsNeeded(0));
    EXPECT_EQ(pieces->InMemory(0), 1 << 20);
}

// The volume fills up under a write that needed no allocation (a deselected
// file grows only as data arrives): the write is the disk-full event at once.
void WriteRunsOutOfSpace(const std::string &root)
{
    std::filesystem::create_directories(root + "/write");
    RecordingSink sink;
    const int32_t piece = 65536;
    const std::vector<TestFile> files = {{{"a"}, Content(100000, 1)}, {{"b"}, Content(1 << 20, 2)}};
    const std::string stream = files[0].data + files[1].data;
    PiecesHandle pieces = MakePieces(sink, root + "/write");
    std::unique_ptr<QElement> info = ParseInfo(MultiFileInfo("G", files, piece));
    ASSERT_TRUE(pieces->BuildFromInfo(info.get(), nullptr));
    ASSERT_TRUE(pieces->SelectFile(1, true));
    FeedBlocks(*pieces, stream, 0, piece);
    pieces->FlushVerified();
    ASSERT_TRUE(pieces->IsPieceComplete(0)); // file a is allocated now

    FillVolume(root + "/filler");
    FeedBlocks(*pieces, stream, piece, 2 * piece); // a's tail and b's head
    pieces->FlushVerified();
    EXPECT_EQ(sink.Count(PIECES_EVENT_DISK_FULL), 1);
    EXPECT_FALSE(pieces->IsPieceComplete(1));
    EXPECT_FALSE(pieces->IsNeeded(1));
    EXPECT_EQ(pieces->InMemory(1), piece);

    // Space again: the same verified bytes go out, nothing was lost.
    std::filesystem::remove(root + "/filler");
    sink.stopRequested = false;
    pieces->FlushVerified();
    ASSERT_TRUE(pieces->IsPieceComplete(1));
    std::string back(piece, '\0');
    for (int32_t i = 0; i < piece / kBlock; ++i)
        ASSERT_EQ(pieces->ReadBlock(4 + i, kBlock, reinterpret_cast<uint8_t *>(back.data()) + i * kBlock, 0, false),
                  kBlock);
    EXPECT_TRUE(back == stream.substr(piece, piece));
}

TEST(DiskFull, OnASmallTmpfsOfItsOwn)
{
    const char *root = std::getenv(kTmpfsVariable);
    if (root != nullptr) {
        TooLittleSpaceForTheFiles(root);
        WriteRunsOutOfSpace(root);
        return;
    }
    ScratchFolder mountPoint;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string script = std::string("mount -t tmpfs -o size=4m quarrowlight-test \"$1\" && ") + kTmpfsVariable +
                               "=\"$1\" exec \"$0\" --gtest_filter=DiskFull.OnASmallTmpfsOfItsOwn";
    const int rc = platform::RunProgram(
        {"unshare", "--mount", "--propagation", "private", "sh", "-c", script, self, mountPoint.Root().string()});
    EXPECT_EQ(rc, 0) << "the run on the tmpfs failed (it needs root for unshare and mount)";
}

} // namespace
