// End-to-end downloads from real nginx servers on loopback addresses.
#include <gtest/gtest.h>

#include <numeric>
#include <sstream>

#include "engine/base/engine_clock.h"
#include "platform/child_wait.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"

namespace {

constexpr int64_t kSlowRate = 32 * 1024;

bool Ended(const TTaskInfo &info)
{
    return info.state != 0;
}

class HttpDownloadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitEngine(); }
    static void TearDownTestSuite() { UninitEngine(); }

    void SetUp() override
    {
        root = scratch.path / "www";
        fs::create_directories(root);
        content = PatternBytes(3 * 1024 * 1024 + 12345, 7);
        WriteAll(root / "file.bin", content);
        target = scratch.path / "out.bin";
    }

    // Waits for the task to complete and checks the file under its final name.
    void ExpectDelivered(TEngineTask &task)
    {
        ExpectTaskDelivered(task, target, content);
    }

    TScratch scratch;
    fs::path root;
    fs::path target;
    std::string content;
};

TEST_F(HttpDownloadTest, OneMirrorDeliversTheWholeFile)
{
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root));
    TEngineTask task;
    ASSERT_EQ(task.CreateHttp(target, nginx.Url("/file.bin")), ENGINE_OK);
    ExpectDelivered(task);
    EXPECT_EQ(task.Info().httpBytes, content.size());
    EXPECT_EQ(task.Info().totalKB, content.size() / 1024);
}

TEST_F(HttpDownloadTest, FastMirrorTakesOverTheSlowMirrorsRangeAndTheDeadOnes)
{
    // Addresses on one host and port count as one server, so each mirror
    // gets its own nginx.
    TNginxOptions slowOptions;
    slowOptions.httpDirectives = "  log_format sent '$body_bytes_sent';";
    slowOptions.serverDirectives = "    limit_rate " + std::to_string(kSlowRate) + ";\n    access_log " +
                                   (scratch.path / "slow.log").string() + " sent;";
    TNginxServer slow;
    ASSERT_TRUE(slow.Start(root, slowOptions));
    TNginxServer fast;
    ASSERT_TRUE(fast.Start(root));
    std::string dead = "http://127.0.0.1:" + std::to_string(platform::FreeLoopbackPort()) + "/file.bin";
    TEngineTask task;
    ASSERT_EQ(task.CreateHttp(target, slow.Url("/file.bin") + "\n" + dead + "\n" + fast.Url("/file.bin")),
              ENGINE_OK);
    ExpectDelivered(task);
    ASSERT_EQ(StopDownloadTask(task.handle, false), ENGINE_OK);

    // Every request of the slow mirror is logged once its connection closes.
    int64_t slowBytes = 0;
    task.WaitUntil(
        [&](const TTaskInfo &) {
            std::istringstream lines(ReadAll(scratch.path / "slow.log"));
            slowBytes = 0;
            for (int64_t sent = 0; lines >> sent;)
                slowBytes += sent;
            return slowBytes > 0;
        },
        3000);
    EXPECT_LT(slowBytes, static_cast<int64_t>(content.size()) / 6)
        << "the slow mirror kept a third of the file instead of giving its range up";
}

TEST_F(HttpDownloadTest, RedirectLeadsToTheFile)
{
    TNginxOptions options;
    options.serverDirectives = "    location = /moved.bin { return 302 /file.bin; }";
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root, options));
    TEngineTask task;
    ASSERT_EQ(task.CreateHttp(target, nginx.Url("/moved.bin")), ENGINE_OK);
    ExpectDelivered(task);
}

TEST_F(HttpDownloadTest, ServerIgnoringRangesStillYieldsTheRightBytes)
{
    int port = platform::FreeLoopbackPort();
    int pid = platform::StartChildProcess({"/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1",
                                           "--directory", root.string(), std::to_string(port)});
    ASSERT_GT(pid, 0);
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root));
    TEngineTask task;
    std::string plain = "http://127.0.0.1:" + std::to_string(port) + "/file.bin";
    ASSERT_EQ(task.CreateHttp(target, plain + "\n" + nginx.Url("/file.bin")), ENGINE_OK);
    ExpectDelivered(task);
    StopDownloadTask(task.handle, false);
    platform::StopChildProcess(pid);
}

TEST_F(HttpDownloadTest, P2spTaskVerifiesPiecesOfALocalTorrent)
{
    fs::path torrent = scratch.path / "file.torrent";
    ASSERT_NO_FATAL_FAILURE(MakeTorrent(root / "file.bin", torrent));
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root));
    TEngineTask task;
    ASSERT_EQ(task.CreateP2sp(torrent, target, nginx.Url("/file.bin")), ENGINE_OK);
    ExpectDelivered(task);
    EXPECT_EQ(task.Info().httpBytes, content.size());
}

TEST_F(HttpDownloadTest, BtTaskFetchesItsTorrentThenTheFile)
{
    ASSERT_NO_FATAL_FAILURE(MakeTorrent(root / "file.bin", root / "file.torrent"));
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root));
    TEngineTask task;
    ASSERT_EQ(task.CreateBt(target, nginx.Url("/file.torrent") + "\n" + nginx.Url("/file.bin")), ENGINE_OK);
    ExpectDelivered(task);
}

// The clocks stand still unless the test moves them, so every second of the
// task is a window the test opens.
class FrozenClockDownloadTest : public HttpDownloadTest {
protected:
    void SetUp() override
    {
        HttpDownloadTest::SetUp();
        EngineSeconds();
        platform::InjectTickCount(platform::TickCount());
        platform::SleepMs(1100); // the time thread takes the frozen tick
    }
    void TearDown() override { platform::ClearInjectedTickCount(); }

    // Opens one engine second and gives the worker time to use it.
    static void OpenSecond(uint32_t settleMs = 150)
    {
        AdvanceEngineClock(1);
        platform::SleepMs(settleMs);
    }
};

TEST_F(FrozenClockDownloadTest, SpeedLimitHoldsWithinFivePercent)
{
    // The limit is set once the task runs; on loopback the moments before
    // would fetch the whole file, so the server paces itself well above the
    // limit under test.
    TNginxOptions paced;
    paced.serverDirectives = "    limit_rate 1m;";
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root, paced));
    TEngineTask task;
    ASSERT_EQ(task.CreateHttp(target, nginx.Url("/file.bin")), ENGINE_OK);
    ASSERT_EQ(SetTaskSpeedLimit(task.handle, 1, 100), ENGINE_OK);
    // The first answer probes the size; the measure starts once blocks
    // flow under the limit. What the interface shows is published once a
    // second, so each reading covers whole seconds.
    uint64_t start = task.Info().httpBytes;
    bool flowing = false;
    for (int i = 0; i < 10 && !flowing; ++i) {
        OpenSecond();
        uint64_t now = task.Info().httpBytes;
        flowing = start > 0 && now > start;
        start = now;
    }
    ASSERT_TRUE(flowing) << "the download should be flowing";
    for (int i = 0; i < 10; ++i)
        OpenSecond(400);
    uint64_t moved = task.Info().httpBytes - start;
    EXPECT_GE(moved, 10 * 102400 * 95 / 100);
    EXPECT_LE(moved, 10 * 102400 * 105 / 100);
}

TEST_F(FrozenClockDownloadTest, SourceThatNeverAnswersEndsWithSizeTimeout)
{
    // A listener that completes the connection and then says nothing.
    QSocket silent;
    int port = platform::FreeLoopbackPort();
    ASSERT_TRUE(silent.Listen(port, HostToNetwork32(0x7F000001)));
    TEngineTask task;
    ASSERT_EQ(task.CreateHttp(target, "http://127.0.0.1:" + std::to_string(port) + "/file.bin"), ENGINE_OK);
    for (int i = 0; i < 45; ++i)
        OpenSecond(30);
    EXPECT_EQ(task.Info().state, 0) << "45 s are still within the limit";
    for (int i = 0; i < 3 && !Ended(task.Info()); ++i)
        OpenSecond(100);
    ASSERT_TRUE(task.WaitUntil(Ended, 3000));
    EXPECT_EQ(task.Info().state, TASK_STATE_SIZE_TIMEOUT);
}

} // namespace
