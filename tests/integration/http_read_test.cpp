// Reading an HTTP task's data while a slow nginx streams it: a read far ahead
// of the stream turns the server to the piece it waits for.
#include <gtest/gtest.h>

#include <vector>

#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"

namespace {

constexpr int64_t kPiece = 65536; // an HTTP task of a few MiB uses 64 KiB pieces
constexpr int64_t kPieces = 100;
// At this rate the stream needs about ten seconds to reach piece 80 by
// itself, far longer than a read waits.
constexpr int64_t kRate = 512 * 1024;

TEST(HttpReadTest, AReadFarAheadIsServedFromItsPieceAndTheFileStillCompletes)
{
    InitEngine();
    TScratch scratch;
    fs::path root = scratch.path / "www";
    fs::create_directories(root);
    const std::string content = PatternBytes(kPieces * kPiece, 11);
    WriteAll(root / "file.bin", content);
    const fs::path target = scratch.path / "out.bin";
    TNginxServer nginx;
    TNginxOptions options;
    options.serverDirectives = "    limit_rate " + std::to_string(kRate) + ";";
    ASSERT_TRUE(nginx.Start(root, options));

    TEngineTask task;
    ASSERT_EQ(task.CreateHttp(target, nginx.Url("/file.bin")), ENGINE_OK);
    // One connection, so only the focus can move the stream.
    ASSERT_EQ(SetTaskPeerLimits(task.handle, 1, 0), ENGINE_OK);
    int32_t files = 0;
    for (int waited = 0; waited < 10000 && files == 0; waited += 20) {
        platform::SleepMs(20);
        ASSERT_EQ(GetTaskFileCount(task.handle, &files), ENGINE_OK);
    }
    ASSERT_EQ(files, 1) << "the server told the size";
    TTaskFileInfo file;
    ASSERT_EQ(GetTaskFileInfo(task.handle, 0, &file), ENGINE_OK);
    EXPECT_EQ(std::string(file.path), target.string());
    EXPECT_EQ(file.size, static_cast<int64_t>(content.size()));
    TTaskTorrentInfo description;
    ASSERT_EQ(GetTaskTorrentInfo(task.handle, &description), ENGINE_OK);
    EXPECT_EQ(description.pieceCount, kPieces);
    EXPECT_EQ(description.pieceLength, kPiece);
    EXPECT_STREQ(description.infoHash, "") << "an HTTP task has no metainfo";

    const int64_t offset = 80 * kPiece + 123;
    std::vector<char> out(5000);
    int32_t got = ReadTaskData(task.handle, offset, out.data(), static_cast<int32_t>(out.size()));
    TTaskInfo info = task.Info();
    ASSERT_EQ(got, static_cast<int32_t>(out.size())) << "done " << info.doneBytes;
    EXPECT_TRUE(content.compare(static_cast<size_t>(offset), out.size(), out.data(), out.size()) == 0);
    EXPECT_LT(info.doneBytes, static_cast<uint64_t>(40 * kPiece)) << "the stream had not got there by itself";

    // The pieces the server left behind are fetched after all.
    ASSERT_TRUE(task.WaitUntil([](const TTaskInfo &now) { return now.progress >= 10000; }));
    ASSERT_TRUE(task.WaitUntil([&](const TTaskInfo &) { return fs::exists(target); }, 5000));
    EXPECT_EQ(Md5Hex(ReadAll(target)), Md5Hex(content));
    EXPECT_EQ(ReadTaskData(task.handle, offset, out.data(), 10), ENGINE_READ_STOPPED)
        << "a finished HTTP task has no worker to serve reads";
    UninitEngine();
}

} // namespace
