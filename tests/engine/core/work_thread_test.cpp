// ctest-labels: threading
#include "engine/core/work_thread.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "engine/base/engine_clock.h"
#include "engine/base/engine_locks.h"
#include "engine/core/engine_state.h"
#include "engine/core/task_registry.h"
#include "engine/core/udp_server_slot.h"
#include "engine/net/udp_identity.h"
#include "platform/tick.h"

namespace fs = std::filesystem;

namespace {

// A task whose later layers record when the main loop calls them.
class RecordingTask : public TWorkThread {
public:
    ~RecordingTask() override { Stop(); }

    void MaintainCandidates() override { Note("candidates"); }
    bool HasCandidates() override { return hasCandidates.load(); }
    void LanExchange() override { Note("lan"); }
    void RateRound() override { Note("rates"); }
    void StatTick(bool complete) override
    {
        TWorkThread::StatTick(complete);
        Note("tick");
    }
    void SaveResumeRecord() override { Note("save"); }
    void DeleteResumeRecord() override { Note("delete"); }
    bool LoadTorrent(const std::string &) override { return loadTorrentResult; }
    void OpenDataFile() override { Note("open"); }
    bool HasDataFile() override { return true; }
    bool PiecesReady() override { return true; }
    bool StartupCheckFinished() override { return true; }
    void RemoveFromInProgress(uint32_t piece) override { removed.push_back(piece); }
    // Asked twice in every round of the loop, after its other work.
    bool CheckComplete(int64_t now) override
    {
        Note("complete?");
        return TWorkThread::CheckComplete(now);
    }

    void Note(const std::string &what)
    {
        std::lock_guard<std::mutex> hold(notesLock);
        notes[what].push_back(EngineSeconds());
    }
    std::vector<uint32_t> Calls(const std::string &what)
    {
        std::lock_guard<std::mutex> hold(notesLock);
        return notes[what];
    }
    std::vector<uint32_t> CallsSince(const std::string &what, uint32_t start)
    {
        std::vector<uint32_t> offsets;
        for (uint32_t at : Calls(what))
            offsets.push_back(at - start);
        return offsets;
    }

    std::atomic<bool> hasCandidates{true};
    bool loadTorrentResult = true;
    std::vector<uint32_t> removed;

private:
    std::mutex notesLock;
    std::map<std::string, std::vector<uint32_t>> notes;
};

bool WaitFor(const std::function<bool()> &condition, int ms = 3000)
{
    for (int waited = 0; waited < ms; waited += 2) {
        if (condition())
            return true;
        platform::SleepMs(2);
    }
    return condition();
}

class WorkThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EngineSeconds();
        // Freeze the time thread; only AdvanceEngineClock moves the clocks.
        platform::InjectTickCount(platform::TickCount());
        // Let the time thread take the frozen tick in its next round: until
        // then it may still add the second it saw pass before the freeze.
        platform::SleepMs(1100);
    }
    void TearDown() override { platform::ClearInjectedTickCount(); }

    // Advances one engine second at a time and waits until the worker ticked.
    // The round that ticked must also end before the clock moves on: its
    // later periods would otherwise read the next second.
    void AdvanceTicked(RecordingTask &task, uint32_t seconds)
    {
        for (uint32_t i = 0; i < seconds; ++i) {
            AdvanceEngineClock(1);
            uint32_t want = EngineSeconds();
            ASSERT_TRUE(WaitFor([&] {
                auto ticks = task.Calls("tick");
                return !task.IsRunning() || (!ticks.empty() && ticks.back() >= want);
            }));
            size_t asked = task.Calls("complete?").size();
            ASSERT_TRUE(WaitFor([&] { return !task.IsRunning() || task.Calls("complete?").size() >= asked + 2; }));
        }
    }
};

TEST_F(WorkThreadTest, PeriodsFireAtTheirEngineSeconds)
{
    RecordingTask task;
    task.live.totalSize = 1 << 20;
    uint32_t start = EngineSeconds();
    ASSERT_EQ(task.StartDownload(), ENGINE_OK);
    ASSERT_TRUE(WaitFor([&] { return !task.Calls("tick").empty(); }));
    AdvanceTicked(task, 30);
    ASSERT_EQ(task.StopDownload(), ENGINE_OK);

    EXPECT_EQ(task.CallsSince("candidates", start), (std::vector<uint32_t>{0, 15, 30}));
    EXPECT_EQ(task.CallsSince("lan", start), (std::vector<uint32_t>{0, 10, 20, 30}));
    EXPECT_EQ(task.CallsSince("rates", start), (std::vector<uint32_t>{0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30}));
    auto ticks = task.CallsSince("tick", start);
    EXPECT_EQ(ticks.size(), 31u) << "one statistics tick per engine second";
    EXPECT_EQ(task.Calls("save").size(), 1u) << "a stopped, incomplete task saves its record";
    EXPECT_EQ(task.snapshot.phase, TASK_PHASE_IDLE);
    EXPECT_EQ(task.snapshot.state, 0);
}

TEST_F(WorkThreadTest, UnknownSizeEndsAfterTheSizeTimeout)
{
    RecordingTask task;
    ASSERT_EQ(task.StartDownload(), ENGINE_OK);
    ASSERT_TRUE(WaitFor([&] { return !task.Calls("tick").empty(); }));
    AdvanceTicked(task, 45);
    EXPECT_TRUE(task.IsRunning()) << "45 s is still within the limit";
    AdvanceEngineClock(1);
    ASSERT_TRUE(WaitFor([&] { return !task.IsRunning(); }));
    EXPECT_TRUE(task.EndedTimedOut());
    TTaskInfo info;
    task.GetInfo(&info);
    EXPECT_EQ(info.state, TASK_STATE_SIZE_TIMEOUT);
    EXPECT_EQ(task.snapshot.phase, TASK_PHASE_IDLE);
    EXPECT_EQ(task.Calls("save").size(), 1u);
}

TEST_F(WorkThreadTest, HttpTaskWithoutCandidatesGivesUpAfterFifteenSeconds)
{
    RecordingTask task;
    task.live.totalSize = 1000;
    task.hasCandidates = false;
    task.sources.push_back({"http://127.0.0.1:9/file", 0});
    ASSERT_EQ(task.StartDownload(), ENGINE_OK);
    ASSERT_TRUE(WaitFor([&] { return !task.Calls("tick").empty(); }));
    AdvanceTicked(task, 15);
    EXPECT_TRUE(task.IsRunning());
    AdvanceEngineClock(1);
    ASSERT_TRUE(WaitFor([&] { return !task.IsRunning(); }));
    EXPECT_TRUE(task.EndedWithError());
    TTaskInfo info;
    task.GetInfo(&info);
    EXPECT_EQ(info.state, TASK_STATE_NO_SOURCE);
}

TEST_F(WorkThreadTest, PausedWorkerStopsSteppingUntilResumed)
{
    RecordingTask task;
    task.live.totalSize = 1;
    ASSERT_EQ(task.PauseDownload(), ENGINE_TASK_FAILED) << "no worker to pause";
    ASSERT_EQ(task.StartDownload(), ENGINE_OK);
    ASSERT_EQ(task.PauseDownload(), ENGINE_OK);
    platform::SleepMs(50);
    size_t ticks = task.Calls("tick").size();
    AdvanceEngineClock(3);
    platform::SleepMs(100);
    EXPECT_EQ(task.Calls("tick").size(), ticks) << "a paused worker must not step";
    task.SetPause(false);
    ASSERT_TRUE(WaitFor([&] { return task.Calls("tick").size() > ticks; }));
    EXPECT_EQ(task.StopDownload(), ENGINE_OK);
}

TEST_F(WorkThreadTest, UnreadableLocalTorrentStopsWithoutOpeningADataFile)
{
    fs::path bad = fs::temp_directory_path() / "ql-not-a-torrent";
    {
        std::ofstream out(bad);
        out << "<html>not bencode</html>";
    }
    for (std::string source : {"file://" + bad.string(), std::string("FILE:///nonexistent/ql.torrent")}) {
        RecordingTask task;
        task.isP2sp = true;
        task.mainSource = source;
        ASSERT_EQ(task.StartDownload(), ENGINE_OK);
        ASSERT_TRUE(WaitFor([&] { return !task.IsRunning(); }));
        TTaskInfo info;
        task.Flush(false, true);
        task.GetInfo(&info);
        EXPECT_EQ(info.state, TASK_STATE_BAD_TORRENT) << source;
        EXPECT_EQ(task.live.phase, TASK_PHASE_IDLE);
        EXPECT_TRUE(task.Calls("open").empty()) << "no torrent, no data file";
    }
    fs::remove(bad);
}

class ThrowingTask : public RecordingTask {
public:
    ~ThrowingTask() override { Stop(); }
    void MaintainCandidates() override
    {
        RegistryLock().Lock();
        DiskLock().Lock();
        DiskLock().Lock();
        OwnLock().Lock();
        throw std::runtime_error("candidate maintenance failed");
    }
};

TEST_F(WorkThreadTest, ExceptionInTheBodyReleasesTheEngineLocks)
{
    ThrowingTask task;
    task.live.totalSize = 1;
    ASSERT_EQ(task.StartDownload(), ENGINE_OK);
    ASSERT_TRUE(WaitFor([&] { return !task.IsRunning(); }));
    std::thread([&] {
        EXPECT_TRUE(RegistryLock().TryLock());
        RegistryLock().Unlock();
        EXPECT_TRUE(DiskLock().TryLock());
        DiskLock().Unlock();
        EXPECT_TRUE(task.OwnLock().TryLock());
        task.OwnLock().Unlock();
    }).join();
}

class CountingUdpServer : public IUdpServer {
public:
    explicit CountingUdpServer(std::atomic<int> &quiet) : quiet(quiet) {}
    void NoTaskLeft() override { ++quiet; }
    std::atomic<int> &quiet;
};

TEST(EngineStartUpTest, FirstTaskStartsTheEngineAndLastTearsItDownOnce)
{
    ASSERT_TRUE(RegistryTasks().empty());
    std::atomic<int> created{0};
    std::atomic<int> quiet{0};
    SetUdpServerFactory([&](const TUdpServerSettings &settings) {
        ++created;
        EXPECT_EQ(settings.rendezvousPort, 82);
        EXPECT_EQ(std::memcmp(settings.identity, EngineId(), 8), 0);
        return std::make_unique<CountingUdpServer>(quiet);
    });
    {
        auto *first = new RecordingTask;
        auto *second = new RecordingTask;
        EXPECT_EQ(created.load(), 1) << "the second task does not repeat the start-up";
        EXPECT_NE(EngineId()[0], 0);
        // Peer ids carry engine-id bytes 0..7 as the transport's identity,
        // which the UDP server makes from the same bytes.
        const TUdpIdentity identity = MakeUdpIdentity(EngineId());
        EXPECT_EQ(std::memcmp(identity.data(), EngineId(), 8), 0);
        EXPECT_FALSE(engineIdle.load());
        EXPECT_EQ(halfOpenLimit.load(), 32);
        delete first;
        EXPECT_EQ(quiet.load(), 0);
        delete second;
        EXPECT_EQ(quiet.load(), 1);
        EXPECT_TRUE(engineIdle.load());
    }
    DestroyUdpServer();
    SetUdpServerFactory({});
}

TEST(DataFileEventTest, HaveMapFollowsTheEventsWithinItsBounds)
{
    RecordingTask task;
    task.OnDataFileEvent({PIECES_EVENT_PIECE_COUNT, 0, 4, 10, nullptr});
    ASSERT_EQ(task.haveMap.size(), 2u);
    task.OnDataFileEvent({PIECES_EVENT_PIECE_BIT, 1, 4, 9, nullptr});
    task.OnDataFileEvent({PIECES_EVENT_PIECE_BIT, 1, 4, 0, nullptr});
    task.OnDataFileEvent({PIECES_EVENT_PIECE_BIT, 1, 4, 0, nullptr});
    EXPECT_EQ(task.haveMap, (std::vector<uint8_t>{0x80, 0x40}));
    EXPECT_EQ(task.newPieces, (std::vector<uint32_t>{9, 0})) << "announced once each";
    EXPECT_EQ(task.removed.size(), 3u);
    task.OnDataFileEvent({PIECES_EVENT_PIECE_BIT, 1, 4, 16, nullptr}); // past the map
    task.OnDataFileEvent({PIECES_EVENT_PIECE_BIT, 1, 4, -1, nullptr});
    EXPECT_EQ(task.haveMap, (std::vector<uint8_t>{0x80, 0x40}));
    task.OnDataFileEvent({PIECES_EVENT_PIECE_BIT, 0, 4, 9, nullptr});
    EXPECT_EQ(task.haveMap, (std::vector<uint8_t>{0x80, 0x00}));
    task.OnDataFileEvent({PIECES_EVENT_ALL_BITS, 1, 0, 0, nullptr});
    EXPECT_EQ(task.haveMap, (std::vector<uint8_t>{0xFF, 0xFF}));

    const uint8_t record[] = {1, 2, 3};
    task.OnDataFileEvent({PIECES_EVENT_SELECTION_RECORD, 0, 3, 0, record});
    EXPECT_EQ(task.stateValues.part, std::string("\x01\x02\x03"));
    EXPECT_TRUE(task.stateValues.partDirty);
    task.OnDataFileEvent({PIECES_EVENT_RESUME_BITS, 0, 0, 0, nullptr});
    EXPECT_TRUE(task.stateValues.bits.empty());
    EXPECT_TRUE(task.stateValues.bitsDirty);

    task.OnDataFileEvent({PIECES_EVENT_DISK_FULL, 0, 0, 0, nullptr});
    EXPECT_EQ(task.live.state, TASK_STATE_DISK_FULL);
    task.OnDataFileEvent({PIECES_EVENT_OPEN_FAILED, 0, 0, 0, nullptr});
    EXPECT_EQ(task.live.state, TASK_STATE_FILE_OPEN_FAILED);
}

TEST(HandshakeTest, LayoutAndPeerIdCarryTheEngineId)
{
    uint8_t infoHash[20];
    for (int i = 0; i < 20; ++i)
        infoHash[i] = static_cast<uint8_t>(0xA0 + i);
    uint8_t engineId[16];
    for (int i = 0; i < 16; ++i)
        engineId[i] = static_cast<uint8_t>(i + 1);
    TBtHandshake one = BuildHandshake(infoHash, "game", 7, 0x1000, 123, 0x0100007F, engineId);
    TBtHandshake two = BuildHandshake(infoHash, "game", 7, 0x2000, 123, 0x0100007F, engineId);
    EXPECT_EQ(one.bytes[0], 19);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&one.bytes[1]), 19), "BitTorrent protocol");
    EXPECT_TRUE(std::all_of(&one.bytes[20], &one.bytes[28], [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(std::memcmp(&one.bytes[28], infoHash, 20), 0);
    EXPECT_EQ(std::memcmp(&one.bytes[48], one.peerId.data(), 20), 0);
    const uint8_t prefix[4] = {0x00, 0x01, 'Q', 'l'};
    EXPECT_EQ(std::memcmp(one.peerId.data(), prefix, 4), 0);
    EXPECT_EQ(std::memcmp(one.peerId.data() + 8, engineId, 12), 0);
    EXPECT_NE(std::memcmp(one.peerId.data() + 4, two.peerId.data() + 4, 4), 0) << "tasks get distinct ids";
}

} // namespace
