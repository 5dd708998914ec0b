// qlget on a file system too small for the file: it must end at once with
// its disk-full status and say how much did not fit, and a stop request must
// reach it while it waits for space. Needs root for its own small tmpfs.
#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/tick.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"
#include "tests/integration/qlget_program.h"

namespace {

constexpr uint32_t kExitWaitMs = 30000;

// Waits up to waitMs for the child; false when it still runs.
bool EndsWithin(int pid, uint32_t waitMs, platform::ChildResult &result)
{
    uint32_t started = platform::TickCount();
    while (platform::TickCount() - started < waitMs) {
        if (platform::ChildHasEnded(pid, result))
            return true;
        platform::SleepMs(50);
    }
    return false;
}

class QlgetDiskFullTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "mounting a small tmpfs needs root";
        root = scratch.path / "www";
        fs::create_directories(root);
        WriteAll(root / "big.bin", PatternBytes(6 * 1024 * 1024, 5));
        small = scratch.path / "small";
        fs::create_directories(small);
        ASSERT_EQ(platform::RunProgram({"mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", small.string()}), 0);
        mounted = true;
    }
    void TearDown() override
    {
        if (mounted)
            platform::RunProgram({"umount", small.string()});
    }

    TScratch scratch;
    fs::path root;
    fs::path small;
    bool mounted = false;
};

TEST_F(QlgetDiskFullTest, EndsWithItsStatusNamingTheFolderAndTheShortfall)
{
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root));
    fs::path said = scratch.path / "said.txt";
    std::string command = "exec \"$0\" \"$@\" 2>'" + said.string() + "'";
    int pid = platform::StartChildProcess(
        {"/bin/sh", "-c", command, QLGET_PROGRAM, "-o", (small / "big.bin").string(), nginx.Url("/big.bin")});
    ASSERT_GT(pid, 0);
    platform::ChildResult result;
    if (!EndsWithin(pid, kExitWaitMs, result)) {
        // A run that hangs must at least end on an interrupt.
        platform::InterruptChildProcess(pid);
        bool stopped = EndsWithin(pid, 10000, result);
        if (!stopped) {
            platform::KillChildProcess(pid);
            platform::WaitChild(pid, result);
        }
        FAIL() << "qlget still ran " << kExitWaitMs / 1000 << " s into a disk-full wait"
               << (stopped ? "" : ", and ignored SIGINT");
    }
    EXPECT_EQ(result.exitCode, 11);
    std::string text = ReadAll(said);
    EXPECT_NE(text.find("the disk is full: " + small.string()), std::string::npos) << text;
    EXPECT_NE(text.find("more bytes are needed"), std::string::npos) << text;
}

} // namespace
