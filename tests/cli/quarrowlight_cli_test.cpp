// quarrowlight-cli: its command line, what it does in each package state, its
// front-end for the controller, and the live display.
// ctest-labels: threading
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/package_state.h"
#include "cli/common/terminal_units.h"
#include "cli/quarrowlight/cli_options.h"
#include "cli/quarrowlight/cli_steps.h"
#include "cli/quarrowlight/package_display.h"
#include "cli/quarrowlight/terminal_front_end.h"
#include "platform/tick.h"

namespace {

struct TParsed {
    bool ok;
    TCliOptions options;
    std::string error;
};

TParsed Parse(const std::vector<std::string> &args)
{
    TParsed parsed;
    parsed.ok = ParseCliOptions(args, parsed.options, parsed.error);
    return parsed;
}

TEST(CliOptions, ReadsEveryOption)
{
    TParsed parsed = Parse({"--save-dir", "/games/pkg", "--limit", "500", "--shutdown-when-done", "--verify",
                            "--install"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.options.saveDir, "/games/pkg");
    EXPECT_EQ(parsed.options.limitKBps, 500);
    EXPECT_TRUE(parsed.options.limitGiven);
    EXPECT_TRUE(parsed.options.shutdownWhenDone);
    EXPECT_TRUE(parsed.options.verify);
    EXPECT_TRUE(parsed.options.install);
    EXPECT_FALSE(parsed.options.help);

    TParsed none = Parse({});
    ASSERT_TRUE(none.ok);
    EXPECT_TRUE(none.options.saveDir.empty());
    EXPECT_FALSE(none.options.limitGiven || none.options.shutdownWhenDone || none.options.verify ||
                 none.options.install);

    // 0 lifts a remembered limit, so it must count as given.
    TParsed unlimited = Parse({"--limit", "0"});
    ASSERT_TRUE(unlimited.ok);
    EXPECT_TRUE(unlimited.options.limitGiven);
    EXPECT_EQ(unlimited.options.limitKBps, 0);
    EXPECT_EQ(Parse({"--limit", "32766"}).options.limitKBps, 32766);

    EXPECT_TRUE(Parse({"--verify", "-h"}).options.help);
    EXPECT_TRUE(Parse({"--help", "--bogus"}).options.help) << "help is shown whatever follows";
}

TEST(CliOptions, RefusesBadInputWithAMessage)
{
    struct TCase {
        std::vector<std::string> args;
        const char *expected;
    } cases[] = {
        {{"--limit", "32767"}, "to 32766, not '32767'"},
        {{"--limit", "-5"}, "not '-5'"},
        {{"--limit", "12k"}, "not '12k'"},
        {{"--limit", ""}, "--limit"},
        {{"--verify", "--limit"}, "--limit needs a value"},
        {{"--save-dir"}, "--save-dir needs a value"},
        {{"--save-dir", ""}, "--save-dir needs a folder"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"-v"}, "unknown option -v"},
        {{"--install", "setup.exe"}, "unexpected argument setup.exe"},
        {{"-"}, "unexpected argument -"},
    };
    for (const TCase &c : cases) {
        TParsed parsed = Parse(c.args);
        EXPECT_FALSE(parsed.ok) << c.args.back();
        EXPECT_NE(parsed.error.find(c.expected), std::string::npos) << parsed.error;
    }
    // The usage text and the range the parser enforces agree.
    EXPECT_NE(CliUsage().find("1 to " + std::to_string(kMaxSpeedLimitKBps)), std::string::npos);
}

// Feeds a run's polled states to NextCliStep. kDispatch stands for the
// front-end's loop dispatching the install-after-check message; a state with
// kStopped added is polled while every unfinished task has ended.
constexpr uint32_t kDispatch = 0xFFFFFFFF;
constexpr uint32_t kStopped = 0x10000;

struct TWalk {
    std::string actions; // one letter per polled state: W wait, M main button, V verify, F finish
    int exitCode = -1;   // -1: never finished
};

TWalk Walk(const TCliOptions &options, const std::vector<uint32_t> &states)
{
    TCliProgress progress;
    TWalk walk;
    for (uint32_t state : states) {
        if (state == kDispatch) {
            progress.installAfterCheckDispatched = true;
            continue;
        }
        const TCliStep step = NextCliStep(state & ~kStopped, (state & kStopped) != 0, options, progress);
        switch (step.action) {
        case CliAction::Wait:
            walk.actions += 'W';
            break;
        case CliAction::PressMainButton:
            walk.actions += 'M';
            break;
        case CliAction::StartVerification:
            walk.actions += 'V';
            break;
        case CliAction::Finish:
            walk.actions += 'F';
            walk.exitCode = step.exitCode;
            EXPECT_NE(std::string(step.message), "") << "a finish says why";
            return walk;
        }
    }
    return walk;
}

TEST(CliSteps, WalksRealisticRuns)
{
    TCliOptions plain;
    TCliOptions verify;
    verify.verify = true;
    TCliOptions install;
    install.install = true;
    TCliOptions both = verify;
    both.install = true;

    struct TCase {
        const char *name;
        const TCliOptions &options;
        std::vector<uint32_t> states;
        const char *actions;
        int exitCode;
    } cases[] = {
        {"fresh download", plain, {1, 3, 3, 4, 4, 8}, "MWWWWF", CLI_DONE},
        {"short of space at first", plain, {0, 3, 4, 8}, "MWWF", CLI_DONE},
        {"reopened tasks", plain, {15, 4, 16, 6, 4, 8}, "WWWWWF", CLI_DONE},
        {"start did nothing", plain, {1, 1}, "MF", CLI_NOT_STARTED},
        {"back in ready later", plain, {0, 3, 1}, "MWF", CLI_NOT_STARTED},
        {"disk full", plain, {1, 3, 4, 5}, "MWWF", CLI_NO_SPACE},
        {"write error", plain, {1, 3, 4, 7}, "MWWF", CLI_DOWNLOAD_FAILED},
        {"every task ended on a network failure", plain, {1, 3, 4, 4 + kStopped}, "MWWF", CLI_DOWNLOAD_FAILED},
        {"reopened tasks that all ended", plain, {15, 15 + kStopped}, "WF", CLI_DOWNLOAD_FAILED},
        {"ended tasks of a finished package", plain, {1, 4, 8 + kStopped}, "MWF", CLI_DONE},

        {"verify only", verify, {1, 4, 8, 10, 11, 10, 12}, "MWVWWWF", CLI_DONE},
        {"verify did not start", verify, {8, 8}, "VF", CLI_CHECK_NOT_STARTED},
        {"repair failed", verify, {8, 10, 11, 7}, "VWWF", CLI_DOWNLOAD_FAILED},
        {"repair task ended", verify, {8, 10, 11, 11 + kStopped}, "VWWF", CLI_DOWNLOAD_FAILED},

        {"install launched", install, {1, 3, 4, 8}, "MWWM", -1},
        {"install not launched", install, {1, 3, 4, 8, 8}, "MWWMF", CLI_INSTALL_FAILED},
        {"finished before this run", install, {8, 8}, "MF", CLI_INSTALL_FAILED},

        {"check then install", both, {1, 3, 4, 8, 10, 12, 12, kDispatch, 13}, "MWWMWWWW", -1},
        {"check passed, launch failed", both, {1, 3, 4, 8, 10, 12, 12, kDispatch, 12}, "MWWMWWWF",
         CLI_INSTALL_FAILED},
        {"check did not start", both, {1, 3, 4, 8, 8}, "MWWMF", CLI_CHECK_NOT_STARTED},
        {"disk full during a repair", both, {8, 10, 11, 5}, "MWWF", CLI_NO_SPACE},
    };
    for (const TCase &c : cases) {
        const TWalk walk = Walk(c.options, c.states);
        EXPECT_EQ(walk.actions, c.actions) << c.name;
        EXPECT_EQ(walk.exitCode, c.exitCode) << c.name;
    }
}

// Collects what a display or front-end writes to a FILE.
class CapturedStream {
public:
    CapturedStream() : file(open_memstream(&buffer, &size)) {}
    ~CapturedStream()
    {
        std::fclose(file);
        std::free(buffer);
    }
    CapturedStream(const CapturedStream &) = delete;
    CapturedStream &operator=(const CapturedStream &) = delete;

    std::FILE *File() const { return file; }
    // What was written since the last call.
    std::string Take()
    {
        std::fflush(file);
        std::string text(buffer + taken, size - taken);
        taken = size;
        return text;
    }

private:
    char *buffer = nullptr;
    size_t size = 0;
    size_t taken = 0;
    std::FILE *file;
};

TEST(TerminalFrontEnd, PrintsMessagesAndAnswersFromTheCommandLine)
{
    for (bool answer : {true, false}) {
        std::vector<std::string> printed;
        CTerminalFrontEnd frontEnd(answer, [&](const std::string &line) { printed.push_back(line); });
        EXPECT_EQ(frontEnd.AskYesNo("Check first?", "Install"), answer);
        frontEnd.ShowMessage("a\r\nb", "Note");
        frontEnd.ShowModalMessage("c", "Error");
        EXPECT_EQ(printed, (std::vector<std::string>{answer ? "[Install] Check first? -> yes"
                                                            : "[Install] Check first? -> no",
                                                     "[Note] a b", "[Error] c"}));
    }
}

TEST(TerminalFrontEnd, QueuesPostedMessagesAndRemembersTheClosedWindow)
{
    CTerminalFrontEnd frontEnd(false, [](const std::string &) {});
    EXPECT_TRUE(frontEnd.TakePosted().empty());
    frontEnd.PostFrontEndMessage(7);
    frontEnd.PostFrontEndMessage(3);
    EXPECT_EQ(frontEnd.TakePosted(), (std::vector<uint32_t>{7, 3}));
    EXPECT_TRUE(frontEnd.TakePosted().empty()) << "taking drains the queue";

    EXPECT_FALSE(frontEnd.WindowDestroyed());
    frontEnd.DestroyMainWindow();
    EXPECT_TRUE(frontEnd.WindowDestroyed());
}

TEST(TerminalFrontEnd, WorkerThreadsNeitherLoseMessagesNorInterleavePrints)
{
    constexpr uint32_t kCount = 2000;
    int inside = 0;
    bool overlapped = false;
    CTerminalFrontEnd frontEnd(true, [&](const std::string &) {
        overlapped = overlapped || ++inside != 1;
        --inside;
    });
    std::thread worker([&] {
        for (uint32_t i = 0; i < kCount; ++i) {
            frontEnd.PostFrontEndMessage(i);
            frontEnd.ShowMessage("from the worker", "Check");
        }
    });
    std::vector<uint32_t> received;
    while (received.size() < kCount) {
        for (uint32_t message : frontEnd.TakePosted())
            received.push_back(message);
        frontEnd.ShowMessage("from the loop", "Main");
    }
    worker.join();
    for (uint32_t i = 0; i < kCount; ++i)
        ASSERT_EQ(received[i], i) << "in the order posted";
    EXPECT_FALSE(overlapped);
}

TEST(TerminalFrontEnd, MessageLineJoinsLineBreaks)
{
    EXPECT_EQ(MessageLine("plain", "Cap"), "[Cap] plain");
    EXPECT_EQ(MessageLine("one\r\ntwo\nthree\rfour", "Cap"), "[Cap] one two three four");
    EXPECT_EQ(MessageLine("one\r\n\r\n\ntwo", "Cap"), "[Cap] one two") << "a run is one space";
    EXPECT_EQ(MessageLine("keeps  inner  spaces", "Cap"), "[Cap] keeps  inner  spaces");
    EXPECT_EQ(MessageLine("ends\r\n", "Cap"), "[Cap] ends");
    EXPECT_EQ(MessageLine("ends  ", "Cap"), "[Cap] ends");
    EXPECT_EQ(MessageLine("", "Cap"), "[Cap]");
    EXPECT_EQ(MessageLine("磁盘空间不足\r\n请清理", "提示"), "[提示] 磁盘空间不足 请清理");
}

TFileView File(const std::string &name, const std::string &status)
{
    TFileView file;
    file.name = name;
    file.statusText = status;
    return file;
}

TEST(PackageDisplay, FormatsLines)
{
    TFileView running = File("data.7z.002", "下载中");
    running.progress = 4505;
    running.speed = 1536;
    running.secondsLeft = 75;
    running.httpBytes = 12 * 1024 * 1024;
    running.peerBytes = 512;
    EXPECT_EQ(FormatFileLine(running),
              "data.7z.002  下载中   45.05%  1.50 KiB/s  ETA 1:15  servers 12.0 MiB  peers 512 B");
    running.speed = 0;
    EXPECT_NE(FormatFileLine(running).find("0 B/s  ETA --:--"), std::string::npos)
        << "no estimate while nothing flows: " << FormatFileLine(running);
    running.speed = 216;
    running.secondsLeft = 0;
    EXPECT_NE(FormatFileLine(running).find("216 B/s  ETA --:--"), std::string::npos)
        << "no estimate from the engine yet: " << FormatFileLine(running);

    TFileView done = File("setup.sh", "√ 下载完成  ");
    done.done = true;
    done.progress = 10000;
    done.speed = 1000;
    EXPECT_EQ(FormatFileLine(done), "setup.sh  √ 下载完成    100.00%  servers 0 B  peers 0 B");

    TPackageView package;
    package.state = PACKAGE_DOWNLOADING;
    package.progress = 7;
    package.downloaded = 2048;
    package.packageSize = 3ull << 30;
    package.speed = 2048;
    package.secondsLeft = 3723;
    package.httpBytes = 2000;
    package.peerBytes = 48;
    EXPECT_EQ(FormatPackageLine(package),
              "total  downloading    0.07%  2.00 KiB of 3.00 GiB  2.00 KiB/s  ETA 1:02:03  servers 1.95 KiB  peers 48 B");
    package.state = PACKAGE_PAUSE;
    package.secondsLeft = -1;
    package.spaceShort = true;
    const std::string paused = FormatPackageLine(package);
    EXPECT_NE(paused.find("total  pause "), std::string::npos) << paused;
    EXPECT_NE(paused.find("ETA --:--  (the disk is short of space)  servers"), std::string::npos) << paused;

    EXPECT_EQ(PackageStateText(PACKAGE_CHECK_FINISHED), "checkfinished");
    EXPECT_EQ(PackageStateText(PACKAGE_INSTALLING), "installing");
    EXPECT_EQ(PackageStateText(PACKAGE_EXITED), "state 17");
    EXPECT_EQ(PackageStateText(2), "state 2");
}

// A display writing into memory, with the tick count under the test's control.
class PackageDisplayTest : public ::testing::Test {
protected:
    void SetUp() override { platform::InjectTickCount(now); }
    void TearDown() override { platform::ClearInjectedTickCount(); }

    void Advance(uint32_t ms)
    {
        now += ms;
        platform::InjectTickCount(now);
    }
    std::string Show(CPackageDisplay &display, bool final = false)
    {
        display.Show(files, package, final);
        const std::string text = stream.Take();
        EXPECT_EQ(Count(text, "\x1b[?7l"), Count(text, "\x1b[?7h")) << "line wrapping is left as it was";
        return text;
    }
    static size_t Count(const std::string &text, const std::string &part)
    {
        size_t found = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++found;
        return found;
    }

    uint32_t now = 0xFFFFF000u; // the count wraps during the test
    CapturedStream stream;
    std::vector<TFileView> files{File("a.bin", "等待"), File("b.bin", "等待")};
    TPackageView package;
};

TEST_F(PackageDisplayTest, LogShowsChangedFilesAndAPeriodicTotal)
{
    CPackageDisplay display(stream.File(), false);
    const std::string first = Show(display);
    EXPECT_EQ(first, FormatFileLine(files[0]) + "\n" + FormatFileLine(files[1]) + "\n" + FormatPackageLine(package) +
                         "\n");

    Advance(1000);
    EXPECT_EQ(Show(display), "") << "nothing changed and the total is not due";

    files[1].statusText = "下载中";
    Advance(1000);
    EXPECT_EQ(Show(display), FormatFileLine(files[1]) + "\n");

    files[0].progress = 5000; // progress alone is not a change of status
    Advance(2999);
    EXPECT_EQ(Show(display), "");
    Advance(1);
    EXPECT_EQ(Show(display), FormatPackageLine(package) + "\n") << "5 s after the last total";

    Advance(10);
    const std::string final = Show(display, true);
    EXPECT_EQ(Count(final, "\n"), 3u) << "the final picture is complete: " << final;
    EXPECT_EQ(final.find('\x1b'), std::string::npos) << "no terminal controls in a log";

    display.PrintMessage("[Note] hello");
    EXPECT_EQ(stream.Take(), "[Note] hello\n");
}

TEST_F(PackageDisplayTest, TerminalRedrawsTheBlockInPlace)
{
    CPackageDisplay display(stream.File(), true);
    const std::string first = Show(display);
    EXPECT_EQ(first.find("\x1b[J"), std::string::npos) << "nothing to erase yet";
    EXPECT_EQ(Count(first, "\x1b[K\n"), 3u);

    Advance(499);
    EXPECT_EQ(Show(display), "") << "redraws are paced";
    Advance(1);
    const std::string second = Show(display);
    EXPECT_EQ(second.rfind("\x1b[3A\x1b[J", 0), 0u) << second;
    EXPECT_EQ(Count(second, "\x1b[K\n"), 3u);

    // A message goes above the block, and the block follows it at once.
    display.PrintMessage("[Note] hello");
    EXPECT_EQ(stream.Take(), "\x1b[3A\x1b[J[Note] hello\n");
    files.pop_back();
    const std::string after = Show(display);
    EXPECT_EQ(after.find("\x1b[J"), std::string::npos) << "nothing left to erase";
    EXPECT_EQ(Count(after, "\x1b[K\n"), 2u);

    // The erase covers what was drawn, not what is drawn next.
    files.push_back(File("c.bin", "等待"));
    files.push_back(File("d.bin", "等待"));
    Advance(500);
    EXPECT_EQ(Show(display).rfind("\x1b[2A\x1b[J", 0), 0u);

    Advance(1);
    const std::string final = Show(display, true);
    EXPECT_EQ(final.rfind("\x1b[4A\x1b[J", 0), 0u) << "a final picture is drawn at once";
    display.PrintMessage("done");
    EXPECT_EQ(stream.Take(), "done\n") << "the final picture stays";
}

TEST_F(PackageDisplayTest, MessagesFromAnotherThreadStayWhole)
{
    CPackageDisplay display(stream.File(), true);
    constexpr int kMessages = 300;
    std::thread worker([&] {
        for (int i = 0; i < kMessages; ++i)
            display.PrintMessage("[Check] message from the worker");
    });
    for (int i = 0; i < kMessages; ++i)
        display.Show(files, package);
    worker.join();
    const std::string text = stream.Take();
    EXPECT_EQ(Count(text, "[Check] message from the worker\n"), static_cast<size_t>(kMessages));
    EXPECT_EQ(Count(text, "\x1b[K\n[Check]"), 0u)
        << "a message never lands below a block it did not erase";
}

} // namespace
