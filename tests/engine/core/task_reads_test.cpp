// ctest-labels: threading
// Reading a task's data while it downloads: the read that waits steers the
// server connections to its piece, and the reader gets the bytes, a time-out
// or the stop.
#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/engine_clock.h"
#include "engine/net/block_request.h"
#include "engine/storage/info_hash.h"
#include "tests/engine/core/task_harness.h"
#include "tests/engine/storage/storage_fixtures.h"

namespace {

constexpr int64_t kPiece = 64 * 1024;
constexpr int32_t kBlock = 16384;

TDataRead ReadOf(int64_t offset, std::vector<uint8_t> &out)
{
    TDataRead read;
    read.offset = offset;
    read.buffer = out.data();
    read.length = static_cast<int32_t>(out.size());
    return read;
}

// A read registered with a task whose worker the test plays; it leaves the
// list however the test ends, so a failed check cannot leave the task's
// destructor waiting for a reader.
class TTestRead {
public:
    TTestRead(TWorkThread &task, int64_t offset, int32_t length) : task(task), out(static_cast<size_t>(length))
    {
        read = ReadOf(offset, out);
        task.BeginRead(read);
    }
    ~TTestRead() { task.ReadData(read); }
    TTestRead(const TTestRead &) = delete;
    TTestRead &operator=(const TTestRead &) = delete;

    // Takes the read off the list: its result, or the stop when unserved.
    int32_t Finish() { return task.ReadData(read); }

    TWorkThread &task;
    std::vector<uint8_t> out;
    TDataRead read;
};

// Delivers what the peer has queued, with the bytes of data.
void DeliverQueued(TScriptedPeer &peer, const std::string &data)
{
    while (!peer.requests.empty()) {
        TBlockRequest r = peer.requests.front();
        ASSERT_TRUE(peer.DeliverBlock(r.block, r.length, reinterpret_cast<const uint8_t *>(data.data()) + r.block * kBlock));
    }
}

std::string InfoHashHexOf(const std::string &info)
{
    TInfoHash hash;
    TInfoHash::Compute(info.data(), info.size(), hash);
    return hash.Hex();
}

bool Matches(const std::vector<uint8_t> &out, int32_t count, const std::string &data, int64_t offset)
{
    return data.compare(static_cast<size_t>(offset), static_cast<size_t>(count),
                        reinterpret_cast<const char *>(out.data()), static_cast<size_t>(count)) == 0;
}

TEST(TaskReadFocusTest, AWaitingReadSendsAFarServerToItsPiece)
{
    THarnessTask task;
    task.taskClock = 1000000;
    ASSERT_TRUE(task.MakeDataFile(100 * kPiece));
    const std::string data = Content(100 * kPiece, 7);
    task.AddServer(9001);
    TScriptedPeer *server = task.AddPeer(PEER_KIND_HTTP);
    ASSERT_TRUE(server->PlanRequests());
    ASSERT_EQ(server->requests.front().block, 0);
    task.ServeReads();
    EXPECT_EQ(task.Scheduling().FocusPiece(), -1) << "nobody reads";

    TTestRead reader(task, 50 * kPiece + 100, 1000);
    task.ServeReads();
    EXPECT_FALSE(reader.read.done);
    EXPECT_EQ(task.Scheduling().FocusPiece(), 50);

    // Done with its piece, the server leaves the rest of its range for the
    // piece the reader waits for.
    DeliverQueued(*server, data);
    ASSERT_TRUE(server->PlanRequests());
    ASSERT_NE(server->Range(), nullptr);
    EXPECT_EQ(server->Range()->first, 50);
    ASSERT_FALSE(server->requests.empty());
    EXPECT_EQ(server->requests.front().block, 50 * kPiece / kBlock);
    bool restKept = false;
    for (auto &range : task.Scheduling().Ranges())
        restKept |= range->first == 0 && range->last == 49 && range->owner == nullptr;
    EXPECT_TRUE(restKept) << "the pieces before the focus stay for any connection";

    DeliverQueued(*server, data);
    task.ServeReads();
    ASSERT_TRUE(reader.read.done);
    EXPECT_EQ(reader.read.result, 1000);
    EXPECT_TRUE(Matches(reader.out, 1000, data, reader.read.offset));
    EXPECT_EQ(task.Scheduling().FocusPiece(), -1) << "the read is served";
    EXPECT_EQ(reader.Finish(), 1000);

    // A reader moving on a few pieces does not make the server start over.
    TTestRead next(task, 55 * kPiece, 1000);
    task.ServeReads();
    EXPECT_EQ(task.Scheduling().FocusPiece(), 55);
    ASSERT_TRUE(server->PlanRequests());
    EXPECT_EQ(server->Range()->first, 50);
    ASSERT_FALSE(server->requests.empty());
    EXPECT_EQ(server->requests.front().block, 51 * kPiece / kBlock);
    EXPECT_EQ(next.Finish(), ENGINE_READ_STOPPED) << "no worker runs here";
}

TEST(TaskReadFocusTest, TheOldestWaitingReadIsTheFocusAndTheEndIsNoRead)
{
    THarnessTask task;
    ASSERT_TRUE(task.MakeDataFile(10 * kPiece + 10));
    TTestRead first(task, 7 * kPiece, 10);
    TTestRead second(task, 3 * kPiece, 10);
    TTestRead atEnd(task, 10 * kPiece + 10, 10);
    TTestRead pastEnd(task, 10 * kPiece + 11, 10);
    task.ServeReads();
    EXPECT_EQ(task.Scheduling().FocusPiece(), 7);
    ASSERT_TRUE(atEnd.read.done);
    EXPECT_EQ(atEnd.read.result, 0);
    ASSERT_TRUE(pastEnd.read.done);
    EXPECT_EQ(pastEnd.read.result, ENGINE_INVALID_ARGUMENT);
    first.Finish();
    task.ServeReads();
    EXPECT_EQ(task.Scheduling().FocusPiece(), 3) << "the next oldest";
    second.Finish();
    task.ServeReads();
    EXPECT_EQ(task.Scheduling().FocusPiece(), -1);
}

class TaskReadWaitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EngineSeconds();
        // Only the test moves the tick count, so the 3000 ms pass at once.
        start = platform::TickCount();
        platform::InjectTickCount(start);
        ASSERT_TRUE(task->MakeDataFile(10 * kPiece));
        // Piece 2 is there before the worker owns the data file.
        for (int64_t at = 2 * kPiece; at < 3 * kPiece; at += kBlock)
            task->WriteBlock(at / kBlock, kBlock, reinterpret_cast<const uint8_t *>(data.data()) + at, nullptr,
                             nullptr);
        ASSERT_EQ(task->StartDownload(), ENGINE_OK);
    }
    void TearDown() override
    {
        // The stop in the destructor also ends a read a failed test left.
        delete task;
        if (reader.joinable())
            reader.join();
        platform::ClearInjectedTickCount();
    }

    // Reads on its own thread what the test registered.
    void ReadInBackground(TDataRead &read)
    {
        reader = std::thread([this, &read] { result = task->ReadData(read); });
    }
    // Waits (real time) for the background read to end.
    bool Ended(uint32_t ms = 3000)
    {
        for (uint32_t waited = 0; waited < ms && result.load() == kPending; waited += 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return result.load() != kPending;
    }

    static constexpr int32_t kPending = 1 << 30;
    THarnessTask *task = new THarnessTask;
    const std::string data = Content(10 * kPiece, 3);
    uint32_t start = 0;
    std::thread reader;
    std::atomic<int32_t> result{kPending};
};

TEST_F(TaskReadWaitTest, PresentBytesComeAtOnceUpToTheFirstMissingPiece)
{
    std::vector<uint8_t> out(2 * kPiece);
    TDataRead read = ReadOf(2 * kPiece + 5, out);
    task->BeginRead(read);
    ASSERT_EQ(task->ReadData(read), kPiece - 5);
    EXPECT_TRUE(Matches(out, kPiece - 5, data, 2 * kPiece + 5));
}

TEST_F(TaskReadWaitTest, AMissingPieceTimesOutAfterThreeSeconds)
{
    std::vector<uint8_t> out(100);
    TDataRead read = ReadOf(5 * kPiece, out);
    task->BeginRead(read);
    ReadInBackground(read);
    platform::InjectTickCount(start + kEngineReadWaitMs - 1);
    EXPECT_FALSE(Ended(60)) << "the wait is not over yet";
    platform::InjectTickCount(start + kEngineReadWaitMs);
    ASSERT_TRUE(Ended());
    reader.join();
    EXPECT_EQ(result.load(), ENGINE_READ_TIMED_OUT);
    EXPECT_TRUE(task->IsRunning()) << "a reader's time-out leaves the task alone";
}

TEST_F(TaskReadWaitTest, StoppingTheTaskEndsTheWait)
{
    std::vector<uint8_t> out(100);
    TDataRead read = ReadOf(5 * kPiece, out);
    task->BeginRead(read);
    ReadInBackground(read);
    ASSERT_EQ(task->StopDownload(), ENGINE_OK);
    ASSERT_TRUE(Ended());
    reader.join();
    EXPECT_EQ(result.load(), ENGINE_READ_STOPPED);

    TDataRead late = ReadOf(2 * kPiece, out);
    task->BeginRead(late);
    EXPECT_EQ(task->ReadData(late), ENGINE_READ_STOPPED) << "a stopped worker serves nothing";
}

TEST_F(TaskReadWaitTest, DestroyingTheTaskEndsItsReader)
{
    std::vector<uint8_t> out(100);
    TDataRead read = ReadOf(5 * kPiece, out);
    task->BeginRead(read);
    ReadInBackground(read);
    delete task;
    task = nullptr;
    ASSERT_TRUE(Ended());
    reader.join();
    EXPECT_EQ(result.load(), ENGINE_READ_STOPPED);
}

TEST(TaskDataFileTest, FilesAndIdentityArePublishedForTheInterface)
{
    THarnessTask task;
    TTaskFileInfo file;
    TTaskTorrentInfo torrent;
    EXPECT_EQ(task.FileCount(), 0);
    EXPECT_EQ(task.FileSize(0), -1);
    EXPECT_EQ(task.GetFileInfo(0, &file), ENGINE_INVALID_ARGUMENT);

    const std::string first = Content(100000, 1);
    const std::string second = Content(40000, 2);
    const std::string info = MultiFileInfo("game", {{{"setup.exe"}, first}, {{"data", "vol1.bin"}, second}}, 65536);
    task.isP2sp = true;
    ASSERT_TRUE(task.LoadTorrent("d4:info" + info + "e"));
    ASSERT_EQ(task.FileCount(), 2);
    EXPECT_EQ(task.FileSize(1), 40000);
    EXPECT_EQ(task.FileSize(2), -1);
    EXPECT_EQ(task.FileSize(-1), -1);
    ASSERT_EQ(task.GetFileInfo(1, &file), ENGINE_OK);
    EXPECT_EQ(file.size, 40000);
    EXPECT_EQ(file.offset, 100000);
    EXPECT_EQ(std::string(file.path), task.folder.string() + "/game/data/vol1.bin") << "the final name";
    EXPECT_EQ(task.GetFileInfo(2, &file), ENGINE_INVALID_ARGUMENT);

    task.GetTorrentInfo(&torrent);
    EXPECT_EQ(torrent.totalSize, 140000u);
    EXPECT_EQ(torrent.pieceCount, 3);
    EXPECT_EQ(torrent.pieceLength, 65536);
    EXPECT_STREQ(torrent.name, "game");
    EXPECT_EQ(std::string(torrent.infoHash), InfoHashHexOf(info));

    task.Reset(true, true);
    EXPECT_EQ(task.FileCount(), 0) << "a dropped data file has no files";
    task.GetTorrentInfo(&torrent);
    EXPECT_STREQ(torrent.infoHash, "");
}

TEST(TaskNotesTest, NotesAreSingleLinesEndedByCrLf)
{
    THarnessTask task;
    char text[64];
    EXPECT_EQ(task.GetNotes(text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(task.AppendNote("mirror chosen"), ENGINE_OK);
    EXPECT_EQ(task.AppendNote(""), ENGINE_OK);
    EXPECT_EQ(task.AppendNote("two\r\nlines"), ENGINE_INVALID_ARGUMENT);
    EXPECT_EQ(task.AppendNote("bare\nbreak"), ENGINE_INVALID_ARGUMENT);
    EXPECT_EQ(task.AppendNote(nullptr), ENGINE_INVALID_ARGUMENT);
    EXPECT_EQ(task.GetNotes(text, sizeof text), 17);
    EXPECT_STREQ(text, "mirror chosen\r\n\r\n");
    EXPECT_EQ(task.GetNotes(text, 7), 17) << "the full length, for a second try";
    EXPECT_STREQ(text, "mirror");
    EXPECT_EQ(task.GetNotes(nullptr, 0), 17);

    std::string line(1000, 'n');
    int appended = 0;
    while (task.AppendNote(line.c_str()) == ENGINE_OK)
        ++appended;
    EXPECT_LT(appended, 2000) << "the list is bounded";
    EXPECT_LE(task.GetNotes(nullptr, 0), 1 << 20);
}

} // namespace
