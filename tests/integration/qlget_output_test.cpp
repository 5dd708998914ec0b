// What qlget does to the file at -o: one run at a time writes it, only a
// regular file is ever replaced, and --force keeps the old file whole until
// the new one is complete. Real qlget processes against nginx on loopback.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/child_wait.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"
#include "tests/integration/qlget_program.h"

namespace {

constexpr uint32_t kDataWaitMs = 10000;

class QlgetOutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::path root = scratch.path / "www";
        fs::create_directories(root);
        fresh = PatternBytes(2 * 1024 * 1024 + 333, 21);
        WriteAll(root / "new.bin", fresh);
        WriteAll(root / "other.bin", PatternBytes(fresh.size(), 22));
        output = scratch.path / "out" / "file.bin";
        fs::create_directories(output.parent_path());
        // The output locks stay with the test.
        fs::create_directories(scratch.path / "run");
        if (const char *old = std::getenv("XDG_RUNTIME_DIR"))
            savedRuntime = old;
        setenv("XDG_RUNTIME_DIR", (scratch.path / "run").c_str(), 1);
        // Paced, so that a run lasts long enough to be met by another.
        TNginxOptions paced;
        paced.serverDirectives = "    limit_rate 512k;";
        ASSERT_TRUE(nginx.Start(root, paced));
    }

    void TearDown() override
    {
        if (savedRuntime.empty())
            unsetenv("XDG_RUNTIME_DIR");
        else
            setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    }

    // Starts qlget and returns its pid once the partial file holds data.
    int StartWithData(const std::vector<std::string> &args, const fs::path &partial)
    {
        int pid = StartQlget(args);
        EXPECT_GT(pid, 0);
        std::error_code error;
        for (uint32_t waited = 0; waited < kDataWaitMs && !(fs::file_size(partial, error) > 0 && !error);
             waited += 20)
            platform::SleepMs(20);
        EXPECT_GT(fs::file_size(partial, error), 0u) << partial;
        return pid;
    }

    TScratch scratch;
    TNginxServer nginx;
    std::string fresh;
    fs::path output;
    std::string savedRuntime;
};

TEST_F(QlgetOutputTest, ASecondRunOnTheSameOutputIsRefusedAtOnceAndChangesNothing)
{
    fs::path partial = output.string() + ".qltmp";
    int first = StartWithData({"-o", output.string(), nginx.Url("/new.bin")}, partial);
    ASSERT_GT(first, 0);

    // Another file of the same size, forced, and the output by another path.
    fs::create_directory_symlink(output.parent_path(), scratch.path / "alias");
    for (const fs::path &spelling : {output, scratch.path / "alias" / "file.bin"}) {
        std::string said;
        uint32_t started = platform::TickCount();
        EXPECT_EQ(RunQlget({"-o", spelling.string(), "--force", nginx.Url("/other.bin")}, said), 18) << said;
        EXPECT_LT(platform::TickCount() - started, 2000u) << "refused at once";
        EXPECT_NE(said.find("another qlget is downloading to " + spelling.string()), std::string::npos) << said;
        EXPECT_TRUE(fs::exists(partial)) << "the first run's data is left alone";
    }

    platform::ChildResult result;
    ASSERT_TRUE(platform::WaitChild(first, result));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(Md5Hex(ReadAll(output)), Md5Hex(fresh));
}

TEST_F(QlgetOutputTest, OnlyARegularFileIsEverReplaced)
{
    struct TCase {
        const char *what;
        std::function<void(const fs::path &)> make;
        fs::file_type kind;
    };
    std::vector<TCase> cases{
        {"a named pipe", [](const fs::path &p) { mkfifo(p.c_str(), 0600); }, fs::file_type::fifo},
        {"a folder", [](const fs::path &p) { fs::create_directory(p); }, fs::file_type::directory},
        {"a symbolic link", [&](const fs::path &p) { fs::create_symlink(scratch.path / "www" / "new.bin", p); },
         fs::file_type::symlink},
    };
    // A copy of /dev/null, the classic "-o /dev/null".
    if (geteuid() == 0)
        cases.push_back({"a character device",
                         [](const fs::path &p) { mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)); },
                         fs::file_type::character});

    const std::string url = nginx.Url("/new.bin");
    for (const TCase &c : cases) {
        // At the output itself, and where its partial data would go.
        for (const char *suffix : {"", ".qltmp"}) {
            const fs::path victim = output.string() + suffix;
            c.make(victim);
            for (bool force : {false, true}) {
                std::vector<std::string> args{"-o", output.string(), url};
                if (force)
                    args.push_back("--force");
                std::string said;
                EXPECT_EQ(RunQlget(args, said), 2) << c.what << suffix << ": " << said;
                EXPECT_NE(said.find(victim.string() + " is " + c.what + ", not a regular file"), std::string::npos)
                    << said;
                EXPECT_EQ(fs::symlink_status(victim).type(), c.kind) << c.what << suffix;
            }
            fs::remove(victim);
        }
    }
    EXPECT_EQ(Md5Hex(ReadAll(scratch.path / "www" / "new.bin")), Md5Hex(fresh)) << "a link's target is untouched";
}

TEST_F(QlgetOutputTest, ForceKeepsTheOldFileUntilTheNewOneIsCompleteAndAHangupOnlyPausesIt)
{
    WriteAll(output, "the old file");
    std::vector<std::string> args{"-o", output.string(), "--force", nginx.Url("/new.bin")};
    int pid = StartWithData(args, output.string() + ".qlnew.qltmp");
    ASSERT_GT(pid, 0);
    EXPECT_EQ(ReadAll(output), "the old file") << "the new data goes elsewhere while it comes";
    platform::SleepMs(1000);

    // A closed terminal stops the run as a termination request does: saved.
    ASSERT_EQ(kill(pid, SIGHUP), 0);
    platform::ChildResult result;
    ASSERT_TRUE(platform::WaitChild(pid, result));
    EXPECT_EQ(result.exitCode, 128 + SIGHUP);
    EXPECT_EQ(ReadAll(output), "the old file");

    std::string said;
    ASSERT_EQ(RunQlget(args, said), 0) << said;
    EXPECT_NE(said.find("qlget: continuing"), std::string::npos) << "the same command continues: " << said;
    EXPECT_EQ(Md5Hex(ReadAll(output)), Md5Hex(fresh));
    for (const auto &entry : fs::directory_iterator(output.parent_path()))
        EXPECT_EQ(entry.path(), output) << "nothing is left beside the output";
}

} // namespace
