// ctest-labels: threading
#include "app/file_md5.h"
#include "app/package_state.h"
#include "app/package_verifier.h"
#include "app/verification_start.h"
#include "app/verification_thread.h"
#include "platform/tick.h"
#include "tests/app/recording_verification_host.h"
#include "tests/app/scripted_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class VerificationThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < kPackageFileCount; ++i)
            host.manifest.md5[i] = FileMd5(files, host.FilePath(i), [](uint32_t) {}, [] { return false; }).hex;
    }
    // Waits for the worker to end on its own; the work itself never sleeps
    // (the clock is fake), so this is a short wait for a real thread.
    void AwaitEnd()
    {
        for (int i = 0; i < 2000 && thread.IsRunning(); ++i)
            platform::SleepMs(5);
        ASSERT_FALSE(thread.IsRunning());
    }

    ScratchFolder scratch;
    ScriptedFiles files{scratch};
    FakeAppClock clock;
    RecordingVerificationHost host{scratch};
    TVerificationStatus status;
    CVerificationThread thread{host, status, host.manifest, files, clock};
};

TEST_F(VerificationThreadTest, InstallInStateEightRunsTheCheckOnTheThread)
{
    status.checkIndex = 4;
    status.checkProgress = 777;
    StartVerification(host, thread, status, true);
    EXPECT_EQ(host.prepared, 1);
    AwaitEnd();
    EXPECT_EQ(host.states.front(), PACKAGE_MD5_CHECKING);
    EXPECT_EQ(host.state, PACKAGE_CHECK_FINISHED);
    EXPECT_EQ(host.installPosts, 1);
    EXPECT_TRUE(status.installAfterCheck);
}

TEST_F(VerificationThreadTest, CheckCanRunAgainAfterItEnded)
{
    StartVerification(host, thread, status, false);
    AwaitEnd();
    host.state = PACKAGE_FINISHED;
    host.WriteFile(1, "broken");
    StartVerification(host, thread, status, false);
    AwaitEnd();
    EXPECT_EQ(host.state, PACKAGE_CHECK_FINISHED);
    EXPECT_TRUE(status.mismatchSeen);
    EXPECT_EQ(host.installPosts, 0);
}

TEST_F(VerificationThreadTest, StopEndsAHashThatWouldNeverFinish)
{
    files.scripts[host.FilePath(0)] = {1u << 20, UINT64_MAX, true};
    StartVerification(host, thread, status, false);
    // Wait until hashing is under way, then stop as the exit does.
    for (int i = 0; i < 2000 && status.checkProgress.load() < 100; ++i)
        platform::SleepMs(1);
    EXPECT_TRUE(thread.Stop());
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(host.state, PACKAGE_MD5_CHECKING);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(VerificationThreadTest, StopEndsARepairWaitingForItsTask)
{
    host.WriteFile(2, "broken");
    host.repair[2].queriesUntilDone = 1000000000;
    StartVerification(host, thread, status, false);
    for (int i = 0; i < 2000 && host.State() != PACKAGE_CHECK_RECOVER; ++i)
        platform::SleepMs(1);
    ASSERT_EQ(host.State(), PACKAGE_CHECK_RECOVER);
    EXPECT_TRUE(thread.Stop());
    EXPECT_EQ(host.State(), PACKAGE_CHECK_RECOVER);
}

TEST_F(VerificationThreadTest, WorkerThatCannotStartLeavesThePackageFinished)
{
    class NoThread : public IVerificationWorker {
    public:
        bool Begin() override { return false; }
    } worker;
    StartVerification(host, worker, status, true);
    EXPECT_EQ(host.states, (std::vector<uint32_t>{PACKAGE_MD5_CHECKING, PACKAGE_FINISHED}));
    EXPECT_EQ(host.messages, std::vector<std::string>{"检查线程创建失败，请重试"});
    // Install can be pressed again and starts the check then.
    StartVerification(host, thread, status, true);
    AwaitEnd();
    EXPECT_EQ(host.state, PACKAGE_CHECK_FINISHED);
}

struct StartCase {
    uint32_t state;
    uint32_t progress;
    const char *message; // null: no message
    int launches;
};

TEST_F(VerificationThreadTest, OtherStatesAnswerWithoutStartingACheck)
{
    const StartCase cases[] = {
        {PACKAGE_CHECK_RECOVER, 10000, "部分文件错误，正在修复中...", 0},
        {PACKAGE_MD5_CHECKING, 10000, "MD5计算工作中……请等待完成", 0},
        {PACKAGE_CHECK_FINISHED, 10000, nullptr, 1},
        {PACKAGE_FAILED, 10000, kRepairFailedText, 0},
        {PACKAGE_FAILED, 9999, "请先将客户端下载完成，再点击检查按钮", 0},
        {PACKAGE_DOWNLOADING, 5000, "请先将客户端下载完成，再点击检查按钮", 0},
        {PACKAGE_READY, 0, "请先将客户端下载完成，再点击检查按钮", 0},
    };
    for (const StartCase &c : cases) {
        host.messages.clear();
        host.launches = 0;
        host.state = c.state;
        host.overallProgress = c.progress;
        StartVerification(host, thread, status, true);
        EXPECT_FALSE(thread.IsRunning()) << c.state;
        EXPECT_EQ(host.state, c.state);
        EXPECT_EQ(host.launches, c.launches) << c.state;
        if (c.message)
            EXPECT_EQ(host.messages, std::vector<std::string>{c.message}) << c.state;
        else
            EXPECT_TRUE(host.messages.empty()) << c.state;
    }
    EXPECT_EQ(host.prepared, 0);
}

} // namespace
