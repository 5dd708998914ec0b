// ctest-labels: threading
#include "engine/core/engine_interface.h"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/report_hooks.h"
#include "engine/core/message_sink.h"
#include "engine/core/source_list.h"
#include "engine/core/task_registry.h"
#include "engine/core/work_thread.h"
#include "platform/tick.h"

namespace fs = std::filesystem;

namespace {

struct Param : TTaskParam {
    explicit Param(const std::string &target, uint32_t flagBits = TASK_FLAG_FILE_PATH, const char *sources = "")
    {
        std::memset(static_cast<TTaskParam *>(this), 0, sizeof(TTaskParam));
        std::strncpy(targetPath, target.c_str(), sizeof targetPath - 1);
        std::strncpy(resumePath, (target + ".qlinfo").c_str(), sizeof resumePath - 1);
        flags = flagBits;
        sourceList = sources;
    }
};

class EngineInterfaceTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(UninitEngine(), ENGINE_OK); }

    TTaskHandle Create(TTaskParam &param)
    {
        EXPECT_EQ(CreateDownloadTask(&param), ENGINE_OK);
        return param.hTask;
    }
    TWorkThread &Task(TTaskHandle handle) { return *static_cast<TWorkThread *>(RegistryFind(handle)); }
};

TEST(SourceListTest, SplitsAtEveryBreakAndTrims)
{
    auto entries = SplitSourceList(" http://a/1 \r\n\r\n\thttp://b/2\rftp://c/3\n  tail  ");
    std::vector<std::string> texts;
    for (const auto &entry : entries)
        texts.push_back(entry.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"http://a/1", "", "http://b/2", "ftp://c/3", "tail"}));
    EXPECT_EQ(SplitSourceList("one\n").size(), 1u) << "a trailing break adds no empty entry";
    EXPECT_TRUE(SplitSourceList("").empty());
    EXPECT_TRUE(SplitSourceList(nullptr).empty());
}

TEST_F(EngineInterfaceTest, NullDescriptorIsAnInvalidArgument)
{
    EXPECT_EQ(CreateDownloadTask(nullptr), ENGINE_INVALID_ARGUMENT);
    EXPECT_EQ(RecoverDownloadTask(nullptr, true), ENGINE_INVALID_ARGUMENT);
}

TEST_F(EngineInterfaceTest, SameTargetFileIsADuplicateUnlessRecoverIsForced)
{
    Param first("/tmp/ql-dup/file.bin");
    Param second("/tmp/ql-dup/file.bin");
    TTaskHandle handle = Create(first);
    EXPECT_EQ(CreateDownloadTask(&second), ENGINE_DUPLICATE_TASK);
    EXPECT_EQ(RegistryTasks().size(), 1u) << "the rejected duplicate must be destroyed";
    EXPECT_EQ(RecoverDownloadTask(&second, false), ENGINE_DUPLICATE_TASK);
    EXPECT_EQ(RecoverDownloadTask(&second, true), ENGINE_OK);
    EXPECT_NE(second.hTask, handle);
    EXPECT_EQ(RegistryTasks().size(), 2u);
    EXPECT_EQ(Task(handle).folder, "/tmp/ql-dup/");
}

TEST_F(EngineInterfaceTest, SharedSourcesMakeADuplicateByHalves)
{
    Param a("/tmp/ql-dup/a", 0, "http://h/1\nhttp://h/2\nhttp://h/3\nhttp://h/4");
    Create(a);
    Param twoOfFour("/tmp/ql-dup/b", 0, "http://h/1\nhttp://h/2\nhttp://x/3\nhttp://x/4");
    EXPECT_EQ(CreateDownloadTask(&twoOfFour), ENGINE_DUPLICATE_TASK) << "4 / 2 = 2 is a duplicate";
    Param oneOfThree("/tmp/ql-dup/c", 0, "http://h/1\nhttp://y/2\nhttp://y/3");
    EXPECT_EQ(CreateDownloadTask(&oneOfThree), ENGINE_OK) << "3 / 1 = 3 is not";
}

TEST_F(EngineInterfaceTest, BlankSourceLinesAreNotSharedSources)
{
    Param a("/tmp/ql-dup/a", 0, "http://one/\n\nhttp://two/");
    Create(a);
    Param b("/tmp/ql-dup/b", 0, "http://three/\n\nhttp://four/");
    EXPECT_EQ(CreateDownloadTask(&b), ENGINE_OK);
}

TEST_F(EngineInterfaceTest, MainSourcesDecideBetweenP2spTasks)
{
    Param a("/tmp/ql-dup/a", TASK_FLAG_P2SP);
    std::strcpy(a.p2spUrl, "file:///tmp/x.torrent");
    Create(a);
    Param b("/tmp/ql-dup/b", TASK_FLAG_BT, "file:///tmp/x.torrent\nhttp://mirror/");
    EXPECT_EQ(CreateDownloadTask(&b), ENGINE_DUPLICATE_TASK);
    Param c("/tmp/ql-dup/c", TASK_FLAG_BT, "file:///tmp/y.torrent");
    TTaskHandle handle = Create(c);
    EXPECT_EQ(Task(handle).mainSource, "file:///tmp/y.torrent");
    EXPECT_EQ(Task(handle).sources.front().mark, 1);
}

TEST_F(EngineInterfaceTest, HandlesDieWithTheirTasksAndAreNeverReused)
{
    Param a("/tmp/ql-h/a");
    TTaskHandle handle = Create(a);
    TTaskInfo info;
    EXPECT_EQ(GetTaskInfo(handle, &info), ENGINE_OK);
    EXPECT_EQ(UninitEngine(), ENGINE_OK) << "tasks go even without InitEngine";

    Param b("/tmp/ql-h/b");
    TTaskHandle next = Create(b);
    EXPECT_NE(next, handle);
    int32_t flag = 0;
    char map[4];
    EXPECT_EQ(GetTaskInfo(handle, &info), ENGINE_UNKNOWN_TASK);
    EXPECT_EQ(IsTaskComplete(handle, &flag), ENGINE_UNKNOWN_TASK);
    EXPECT_EQ(IsTaskRunning(handle, &flag), ENGINE_UNKNOWN_TASK);
    EXPECT_EQ(StopDownloadTask(handle, false), ENGINE_UNKNOWN_TASK);
    EXPECT_EQ(ResumeDownloadTask(handle), ENGINE_UNKNOWN_TASK);
    EXPECT_EQ(SetTaskSpeedLimit(handle, 1, 10), ENGINE_UNKNOWN_TASK);
    EXPECT_EQ(AddTaskMirror(handle, "http://m/", "null"), ENGINE_UNKNOWN_TASK);
    EXPECT_EQ(GetTaskPieceMap(handle, map, sizeof map), -1);
    EXPECT_EQ(GetTaskPieceMapSize(handle), -1);
    EXPECT_EQ(GetTaskPieceMapSize(reinterpret_cast<TTaskHandle>(uintptr_t{0xdead})), -1);
}

TEST_F(EngineInterfaceTest, RunningFollowsTheWorker)
{
    Param a("/tmp/ql-run/a");
    TTaskHandle handle = Create(a);
    int32_t running = -1;
    EXPECT_EQ(IsTaskRunning(handle, nullptr), ENGINE_INVALID_ARGUMENT);
    ASSERT_EQ(IsTaskRunning(handle, &running), ENGINE_OK);
    EXPECT_EQ(running, 1);
    ASSERT_EQ(StopDownloadTask(handle, false), ENGINE_OK);
    ASSERT_EQ(IsTaskRunning(handle, &running), ENGINE_OK);
    EXPECT_EQ(running, 0);
    ASSERT_EQ(ResumeDownloadTask(handle), ENGINE_OK);
    ASSERT_EQ(IsTaskRunning(handle, &running), ENGINE_OK);
    EXPECT_EQ(running, 1);
}

TEST_F(EngineInterfaceTest, InfoComesFromTheSnapshotAndCompletionWins)
{
    Param a("/tmp/ql-info/a");
    TTaskHandle handle = Create(a);
    ASSERT_EQ(StopDownloadTask(handle, false), ENGINE_OK); // the worker owns the live status
    TWorkThread &task = Task(handle);
    task.live.fileName = "a";
    task.live.totalSize = 4096;
    task.live.doneBytes = 1024;
    task.live.state = TASK_STATE_DISK_FULL;
    TTaskInfo info;
    ASSERT_EQ(GetTaskInfo(handle, &info), ENGINE_OK);
    EXPECT_EQ(info.totalKB, 0u) << "nothing is visible before a flush";

    task.Flush(false, true);
    ASSERT_EQ(GetTaskInfo(handle, &info), ENGINE_OK);
    EXPECT_STREQ(info.fileName, "a");
    EXPECT_EQ(info.progress, 2500u);
    EXPECT_EQ(info.totalKB, 4u);
    EXPECT_EQ(info.state, TASK_STATE_DISK_FULL);
    int32_t complete = -1;
    EXPECT_EQ(IsTaskComplete(handle, &complete), ENGINE_OK);
    EXPECT_EQ(complete, 0);

    task.live.doneBytes = 4096;
    task.Flush(false, true);
    ASSERT_EQ(GetTaskInfo(handle, &info), ENGINE_OK);
    EXPECT_EQ(info.progress, 10000u);
    EXPECT_EQ(info.state, TASK_STATE_COMPLETE) << "a finished task reports 20206 over any stored code";
    EXPECT_EQ(IsTaskComplete(handle, &complete), ENGINE_OK);
    EXPECT_EQ(complete, 1);
}

TEST_F(EngineInterfaceTest, PieceMapIsReadFromThePublishedCopy)
{
    Param a("/tmp/ql-map/a");
    TTaskHandle handle = Create(a);
    ASSERT_EQ(StopDownloadTask(handle, false), ENGINE_OK);
    TWorkThread &task = Task(handle);
    task.haveMap = {0xF0, 0x80};
    task.live.pieceCount = 9;
    EXPECT_EQ(GetTaskPieceMapSize(handle), 0);
    task.Flush(true, false);
    EXPECT_EQ(GetTaskPieceMapSize(handle), 0) << "without the publish mark a non-waiting flush keeps the old map";
    task.Flush(true, true);
    EXPECT_EQ(GetTaskPieceMapSize(handle), 2);
    uint8_t out[8] = {};
    EXPECT_EQ(GetTaskPieceMap(handle, out, sizeof out), 9);
    EXPECT_EQ(out[0], 0xF0);
    EXPECT_EQ(GetTaskPieceMap(handle, out, 1), 9);
    EXPECT_EQ(GetTaskPieceMap(handle, nullptr, 8), 0);
    EXPECT_EQ(GetTaskPieceMap(handle, out, 0), 0);
}

TEST_F(EngineInterfaceTest, SpeedLimitsValidateAndRejectUnknownKinds)
{
    Param a("/tmp/ql-limit/a");
    TTaskHandle handle = Create(a);
    TWorkThread &task = Task(handle);
    EXPECT_EQ(SetTaskSpeedLimit(handle, 1, 300), ENGINE_OK);
    EXPECT_EQ(SetTaskSpeedLimit(handle, 0, 40000), ENGINE_OK);
    EXPECT_EQ(task.settings.speedLimit1, 300);
    EXPECT_EQ(task.settings.speedLimit0, 0) << "out of range becomes the default";
    EXPECT_EQ(SetTaskSpeedLimit(handle, 2, 5), ENGINE_INVALID_ARGUMENT);
    EXPECT_EQ(task.settings.speedLimit1, 300);
    EXPECT_EQ(SetTaskPeerLimits(handle, 4, 60), ENGINE_OK);
    EXPECT_EQ(task.maxServers, 4);
    EXPECT_EQ(task.maxPeers, 60);
}

TEST_F(EngineInterfaceTest, LimitsGivenAtCreationHoldBeforeTheWorkerRuns)
{
    Param a("/tmp/ql-limit/b");
    a.downloadLimitKBps = 100;
    a.uploadLimitKBps = 40000;
    TWorkThread &task = Task(Create(a));
    EXPECT_EQ(task.settings.speedLimit1, 100);
    EXPECT_EQ(task.settings.speedLimit0, 0) << "out of range becomes the default";
}

TEST_F(EngineInterfaceTest, MirrorsAreParallelListsThatClear)
{
    Param a("/tmp/ql-mirror/a");
    TTaskHandle handle = Create(a);
    EXPECT_EQ(AddTaskMirror(handle, "http://m1/f\r\nhttp://m2/f", "m1.example\r\nnull"), ENGINE_OK);
    TWorkThread &task = Task(handle);
    EXPECT_TRUE(task.hasMirrors);
    EXPECT_EQ(task.mirrorUrls, (std::vector<std::string>{"http://m1/f", "http://m2/f"}));
    EXPECT_EQ(task.mirrorHosts, (std::vector<std::string>{"m1.example", "null"}));
    EXPECT_EQ(ClearTaskMirrors(handle), ENGINE_OK);
    EXPECT_FALSE(task.hasMirrors);
    EXPECT_TRUE(task.mirrorUrls.empty());
}

TEST_F(EngineInterfaceTest, StopAndResumeDriveTheWorker)
{
    Param a("/tmp/ql-stop/a", TASK_FLAG_FILE_PATH, "http://h/1");
    TTaskHandle handle = Create(a);
    TWorkThread &task = Task(handle);
    EXPECT_TRUE(task.IsRunning());
    EXPECT_EQ(ResumeDownloadTask(handle), ENGINE_TASK_FAILED) << "the worker still runs";
    task.sources[0].mark = 16;
    EXPECT_EQ(StopDownloadTask(handle, true), ENGINE_OK);
    EXPECT_FALSE(task.IsRunning());
    EXPECT_EQ(task.sources[0].mark, 0) << "sources in use go back to idle";
    EXPECT_EQ(ResumeDownloadTask(handle), ENGINE_OK);
    EXPECT_TRUE(task.IsRunning());
}

TEST_F(EngineInterfaceTest, StopDownloadTasksStopsInParallelAndReportsEachHandle)
{
    std::vector<Param> params;
    params.reserve(3);
    std::vector<TTaskHandle> handles;
    for (int i = 0; i < 3; ++i) {
        params.emplace_back("/tmp/ql-stops/" + std::to_string(i));
        handles.push_back(Create(params.back()));
    }
    handles.push_back(reinterpret_cast<TTaskHandle>(uintptr_t{0xbad}));
    std::vector<int32_t> results(handles.size(), 99);
    EXPECT_EQ(StopDownloadTasks(handles.data(), static_cast<int32_t>(handles.size()), false, results.data()), ENGINE_OK);
    EXPECT_EQ(results, (std::vector<int32_t>{0, 0, 0, ENGINE_UNKNOWN_TASK}));
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(Task(handles[i]).IsRunning());
    EXPECT_EQ(StopDownloadTasks(handles.data(), 3, false, nullptr), ENGINE_OK) << "null results are allowed";
}

TEST_F(EngineInterfaceTest, InitEngineTwiceIsHarmless)
{
    EXPECT_EQ(InitEngine(), ENGINE_OK);
    EXPECT_EQ(InitEngine(), ENGINE_OK);
}

TEST(DiskQueryTest, FreeBytesNeedAnAbsolutePath)
{
    EXPECT_EQ(GetDiskFreeBytes("relative/path"), 0u);
    EXPECT_EQ(GetDiskFreeBytes(nullptr), 0u);
    EXPECT_GT(GetDiskFreeBytes("/tmp/surely/not/there/yet"), 0u);
}

TEST(DiskQueryTest, FileSizeFallsBackToTheTemporaryTwin)
{
    fs::path dir = fs::temp_directory_path() / "ql-disksize";
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::string target = (dir / "data.bin").string();
    EXPECT_EQ(GetFileDiskSize(target.c_str()), 0) << "missing file and twin";
    {
        std::ofstream twin(target + ".qltmp", std::ios::binary);
        twin << std::string(100000, 'z');
    }
    EXPECT_GE(GetFileDiskSize(target.c_str()), 100000);
    fs::remove_all(dir);
}

TEST(MessageTest, TextsAreCopiedAndTheReportIdAppended)
{
    std::mutex lock;
    std::vector<std::string> shown;
    std::atomic<int> count{0};
    SetMessageSink([&](void *, const std::string &text, const std::string &caption, uint32_t type) {
        std::lock_guard<std::mutex> hold(lock);
        shown.push_back(caption + "|" + text + "|" + std::to_string(type));
        ++count;
    });
    SetReportHooks({{}, [] { return std::string("5A5A5A5A"); }});
    {
        std::string text = "磁盘空间不足";
        std::string caption = "Varnholm下载器";
        EXPECT_EQ(ShowMessageAsync(nullptr, text.c_str(), caption.c_str(), 48), 1);
        text.assign(text.size(), 'X'); // the caller's buffer changes at once
    }
    for (int i = 0; i < 200 && count.load() == 0; ++i)
        platform::SleepMs(5);
    SetReportHooks({});
    SetMessageSink({});
    std::lock_guard<std::mutex> hold(lock);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Varnholm下载器|磁盘空间不足\n（5A5A5A5A）|48");
}

} // namespace

namespace {

class EngineReadTest : public EngineInterfaceTest {
protected:
    const TTaskHandle bogus = reinterpret_cast<TTaskHandle>(uintptr_t{0xbad});
};

TEST_F(EngineReadTest, ReadsAreValidatedAndNeedARunningWorker)
{
    Param a("/tmp/ql-read/a");
    TTaskHandle handle = Create(a);
    char buffer[16];
    EXPECT_EQ(ReadTaskData(handle, 0, nullptr, 16), ENGINE_INVALID_ARGUMENT);
    EXPECT_EQ(ReadTaskData(handle, -1, buffer, 16), ENGINE_INVALID_ARGUMENT);
    EXPECT_EQ(ReadTaskData(handle, 0, buffer, -1), ENGINE_INVALID_ARGUMENT);
    EXPECT_EQ(ReadTaskData(bogus, 0, buffer, 16), ENGINE_UNKNOWN_TASK);
    EXPECT_EQ(ReadTaskData(bogus, 0, buffer, 0), ENGINE_UNKNOWN_TASK);
    EXPECT_EQ(ReadTaskData(handle, 0, buffer, 0), 0);
    ASSERT_EQ(StopDownloadTask(handle, false), ENGINE_OK);
    EXPECT_EQ(ReadTaskData(handle, 0, buffer, 16), ENGINE_READ_STOPPED);
    TWorkThread &task = Task(handle);
    task.live.totalSize = 4096;
    task.Flush(false, true);
    EXPECT_EQ(ReadTaskData(handle, 4096, buffer, 16), 0) << "the end of the data";
    EXPECT_EQ(ReadTaskData(handle, 4097, buffer, 16), ENGINE_INVALID_ARGUMENT) << "past the end";
}

TEST_F(EngineReadTest, AWaitingReadLeavesTheEngineToOtherCallsAndEndsAtTheStop)
{
    // A frozen tick count: the read can end only by the stop.
    platform::InjectTickCount(platform::TickCount());
    Param a("/tmp/ql-read/b");
    TTaskHandle handle = Create(a);
    std::atomic<int32_t> result{1};
    std::thread reader([&] {
        char buffer[16];
        result = ReadTaskData(handle, 0, buffer, sizeof buffer);
    });
    platform::SleepMs(50); // the size is unknown: the read waits
    TTaskInfo info;
    EXPECT_EQ(GetTaskInfo(handle, &info), ENGINE_OK);
    EXPECT_EQ(result.load(), 1) << "still waiting";
    EXPECT_EQ(StopDownloadTask(handle, false), ENGINE_OK);
    reader.join();
    platform::ClearInjectedTickCount();
    EXPECT_EQ(result.load(), ENGINE_READ_STOPPED);
}

TEST_F(EngineReadTest, QueriesReadThePublishedStatusAndCheckTheirArguments)
{
    Param a("/tmp/ql-read/c");
    TTaskHandle handle = Create(a);
    ASSERT_EQ(StopDownloadTask(handle, false), ENGINE_OK);
    TWorkThread &task = Task(handle);
    task.live.speed = 5000;
    task.live.secondsLeft = 42;
    task.live.httpBytes = 7;
    task.live.diskBytes = 8192;
    int32_t value = -1;
    int64_t counter = -1;
    EXPECT_EQ(GetTaskSpeed(handle, &value), ENGINE_OK);
    EXPECT_EQ(value, 0) << "nothing is visible before a flush";
    task.Flush(false, true);
    EXPECT_EQ(GetTaskSpeed(handle, &value), ENGINE_OK) << "a speed read is a success";
    EXPECT_EQ(value, 5000);
    EXPECT_EQ(GetTaskSecondsLeft(handle, &value), ENGINE_OK);
    EXPECT_EQ(value, 42);
    EXPECT_EQ(GetTaskCounter(handle, TASK_COUNTER_HTTP_BYTES, &counter), ENGINE_OK);
    EXPECT_EQ(counter, 7);
    EXPECT_EQ(GetTaskCounter(handle, TASK_COUNTER_DISK_BYTES, &counter), ENGINE_OK);
    EXPECT_EQ(counter, 8192);
    EXPECT_EQ(GetTaskCounter(handle, 7, &counter), ENGINE_INVALID_ARGUMENT);
    EXPECT_EQ(GetTaskCounter(handle, -1, &counter), ENGINE_INVALID_ARGUMENT);

    int32_t count = -1;
    int64_t size = -1;
    TTaskFileInfo file;
    TTaskTorrentInfo torrent;
    EXPECT_EQ(GetTaskFileCount(handle, &count), ENGINE_OK);
    EXPECT_EQ(count, 0) << "no data file yet";
    EXPECT_EQ(GetTaskFileSize(handle, 0, &size), ENGINE_INVALID_ARGUMENT);
    EXPECT_EQ(GetTaskFileInfo(handle, 0, &file), ENGINE_INVALID_ARGUMENT);
    EXPECT_EQ(GetTaskTorrentInfo(handle, &torrent), ENGINE_OK);
    EXPECT_EQ(torrent.totalSize, 0u);
    EXPECT_STREQ(torrent.infoHash, "");

    char notes[32];
    EXPECT_EQ(AppendTaskNote(handle, "first"), ENGINE_OK);
    EXPECT_EQ(AppendTaskNote(handle, "a\rb"), ENGINE_INVALID_ARGUMENT);
    EXPECT_EQ(GetTaskNotes(handle, notes, sizeof notes), 7);
    EXPECT_STREQ(notes, "first\r\n");

    for (auto null : {GetTaskSpeed(handle, nullptr), GetTaskSecondsLeft(handle, nullptr),
                      GetTaskCounter(handle, 0, nullptr), GetTaskFileCount(handle, nullptr),
                      GetTaskFileSize(handle, 0, nullptr), GetTaskFileInfo(handle, 0, nullptr),
                      GetTaskTorrentInfo(handle, nullptr), AppendTaskNote(handle, nullptr)})
        EXPECT_EQ(null, ENGINE_INVALID_ARGUMENT);
    for (auto unknown : {GetTaskSpeed(bogus, &value), GetTaskSecondsLeft(bogus, &value),
                         GetTaskCounter(bogus, 0, &counter), GetTaskFileCount(bogus, &count),
                         GetTaskFileSize(bogus, 0, &size), GetTaskFileInfo(bogus, 0, &file),
                         GetTaskTorrentInfo(bogus, &torrent), AppendTaskNote(bogus, "x"),
                         GetTaskNotes(bogus, notes, sizeof notes)})
        EXPECT_EQ(unknown, ENGINE_UNKNOWN_TASK);
}

} // namespace
