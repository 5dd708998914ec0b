// The window, quarrowlight, end to end on an X display of the test's own: a
// package stamped in by qlpack and served by nginx on loopback, clicked
// through by xdotool from Start to the installer, with a second start and
// the command-line program turned away while it runs. Screenshots of the
// display are kept under the build tree's test-artifacts/window/e2e-*.png.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/child_wait.h"
#include "platform/ini.h"
#include "platform/tick.h"
#include "tests/integration/child_exit.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"
#include "tests/integration/stamped_program.h"
#include "tests/integration/window/x_display.h"

namespace {

constexpr char kTitle[] = "Varnholm下载器";
constexpr uint32_t kShortMs = 20000;
constexpr uint32_t kDownloadMs = 180000;
constexpr uint32_t kQuestionMs = 4000;
// The main button, (318, 244)-(403, 276) of the window.
const std::vector<std::string> kMainButton{"360", "260"};

class WindowEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!TXDisplay::Available())
            GTEST_SKIP() << "Xvfb or xdotool is not installed";
        for (const char *folder : {"www", "save", "data", "run", "home", "desktop"})
            fs::create_directories(scratch.path / folder);
        names[0] = "setup_demo.sh";
        contents[0] = kMarkerInstallerScript;
        for (int i = 1; i < kStampedFiles; ++i) {
            names[i] = "data.7z.00" + std::to_string(i);
            contents[i] = PatternBytes(1024 * 1024 + 4099 * i, 70 + i);
        }
        for (int i = 0; i < kStampedFiles; ++i)
            WriteAll(scratch.path / "www" / names[i], contents[i]);
        ASSERT_TRUE(nginx.Start(scratch.path / "www"));
        WritePackageIni(scratch.path, nginx, names, "");
        ASSERT_NO_FATAL_FAILURE(StampBuiltProgram(scratch.path, QUARROWLIGHT_PROGRAM, window));
        ASSERT_NO_FATAL_FAILURE(StampBuiltProgram(scratch.path, QUARROWLIGHT_CLI_PROGRAM, cli));
        WriteInstallerOpener(scratch.path / "desktop");
        // Qt wants its runtime folder private.
        fs::permissions(scratch.path / "run", fs::perms::owner_all);
        ASSERT_TRUE(display.Start(scratch.path)) << ReadAll(scratch.path / "xvfb.log");
    }

    void TearDown() override
    {
        if (firstPid > 0)
            platform::StopChildProcess(firstPid);
        display.Stop();
    }

    // The program on the test's display, its state, lock and opener inside
    // the scratch folder, nothing sent beyond loopback; what it says goes
    // to log.
    std::vector<std::string> Command(const std::string &program, const std::string &log) const
    {
        std::vector<std::string> argv{"/bin/sh", "-c", "log=$1; shift; exec \"$@\" >>\"$log\" 2>&1", "sh",
                                      (scratch.path / log).string()};
        for (const std::string &part : display.Environment())
            argv.push_back(part);
        const char *path = std::getenv("PATH");
        for (const std::string &variable :
             {"HOME=" + (scratch.path / "home").string(), "QUARROWLIGHT_DATA_HOME=" + (scratch.path / "data").string(),
              "XDG_RUNTIME_DIR=" + (scratch.path / "run").string(),
              "PATH=" + (scratch.path / "desktop").string() + ":" + (path != nullptr ? path : "/usr/bin:/bin"),
              std::string("QT_QPA_PLATFORM=xcb"), std::string("QUARROWLIGHT_FAKE_SHUTDOWN=1"),
              std::string("QUARROWLIGHT_RENDEZVOUS=off"), std::string("QUARROWLIGHT_LAN=off"),
              std::string("QUARROWLIGHT_UPNP=off")})
            argv.push_back(variable);
        argv.push_back(program);
        argv.push_back("--save-dir");
        argv.push_back((scratch.path / "save").string());
        return argv;
    }

    void Shoot(const std::string &name) const
    {
        fs::create_directories(QL_ARTIFACT_DIR);
        std::vector<std::string> argv = display.Environment();
        argv.push_back("QT_QPA_PLATFORM=xcb");
        argv.push_back("XDG_RUNTIME_DIR=" + (scratch.path / "run").string());
        argv.push_back(QLSCREENGRAB_PROGRAM);
        argv.push_back(std::string(QL_ARTIFACT_DIR) + "/e2e-" + name + ".png");
        std::string said;
        EXPECT_EQ(platform::RunProgram(argv, &said), 0) << said;
    }

    void ClickMainButton(const std::string &windowId) const
    {
        std::vector<std::string> args{"mousemove", "--window", windowId};
        args.insert(args.end(), kMainButton.begin(), kMainButton.end());
        args.push_back("click");
        args.push_back("1");
        ASSERT_EQ(display.Xdotool(args), 0);
    }

    bool PackageSaved() const
    {
        for (int i = 0; i < kStampedFiles; ++i) {
            const fs::path saved = scratch.path / "save" / names[i];
            std::error_code error;
            if (fs::file_size(saved, error) != contents[i].size() || Md5Hex(ReadAll(saved)) != Md5Hex(contents[i]))
                return false;
        }
        return true;
    }

    // The controller marks the package complete in its ini when it enters
    // the finished state, from which the main button installs.
    bool MarkedComplete() const
    {
        std::error_code error;
        for (const auto &entry : fs::recursive_directory_iterator(scratch.path / "data", error)) {
            if (entry.path().extension() == ".qlconf" &&
                platform::IniReadString(entry.path().string(), "QuarrowlightTask", "QuarrowlightTaskIsComplete", "") ==
                    "COMPLETE")
                return true;
        }
        return false;
    }

    std::string Said(const std::string &log) const { return ReadAll(scratch.path / log); }

    TScratch scratch;
    TNginxServer nginx;
    TXDisplay display;
    std::string names[kStampedFiles];
    std::string contents[kStampedFiles];
    std::string window;
    std::string cli;
    int firstPid = -1;
};

TEST_F(WindowEndToEndTest, DownloadsVerifiesAndInstallsByClicksAndStaysTheOnlyInstance)
{
    firstPid = platform::StartChildProcess(Command(window, "first.log"));
    ASSERT_GT(firstPid, 0);
    std::vector<std::string> shown;
    ASSERT_TRUE(WaitUntil([&] { return (shown = display.Windows(kTitle)).size() == 1; }, kShortMs))
        << "display " << display.Name() << "\n"
        << Said("first.log") << Said("xvfb.log");
    const std::string mainWindow = shown.front();
    Shoot("ready");

    // A second start brings the first forward (with no window manager on
    // the display, nothing else gives it the focus) and leaves; the
    // command-line program on the same package is refused.
    ASSERT_NE(display.Focus(), mainWindow);
    const int second = platform::StartChildProcess(Command(window, "second.log"));
    ASSERT_GT(second, 0);
    EXPECT_EQ(WaitExitWithin(second, kShortMs), 0) << Said("second.log");
    EXPECT_EQ(display.Windows(kTitle), std::vector<std::string>{mainWindow});
    EXPECT_TRUE(WaitUntil([&] { return display.Focus() == mainWindow; }, kShortMs)) << display.Focus();
    const int refused = platform::StartChildProcess(Command(cli, "cli.log"));
    ASSERT_GT(refused, 0);
    EXPECT_EQ(WaitExitWithin(refused, kShortMs), 3) << Said("cli.log");
    EXPECT_NE(Said("cli.log").find("another instance"), std::string::npos) << Said("cli.log");
    platform::ChildResult result;
    ASSERT_FALSE(platform::ChildHasEnded(firstPid, result)) << Said("first.log");

    ClickMainButton(mainWindow);
    Shoot("downloading");
    ASSERT_TRUE(WaitUntil([&] { return PackageSaved() && MarkedComplete(); }, kDownloadMs)) << Said("first.log");
    Shoot("finished");

    // Install asks whether to check the files first: Yes, the default.
    // The window swaps Pause for Install on its next poll; a click whose
    // press reached the button being hidden is lost, so click again until
    // the question shows (the window takes no clicks while it does).
    std::string question;
    for (uint32_t start = platform::TickCount(); question.empty() && platform::TickCount() - start < kShortMs;) {
        ClickMainButton(mainWindow);
        WaitUntil(
            [&] {
                for (const std::string &id : display.Windows(kTitle)) {
                    if (id != mainWindow)
                        question = id;
                }
                return !question.empty();
            },
            kQuestionMs);
    }
    ASSERT_FALSE(question.empty()) << Said("first.log");
    Shoot("question");
    ASSERT_EQ(display.Xdotool({"windowfocus", question, "key", "Return"}), 0);

    EXPECT_EQ(WaitExitWithin(firstPid, kDownloadMs), 0) << Said("first.log");
    firstPid = -1;
    EXPECT_TRUE(PackageSaved());
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(scratch.path / "save" / "installed.marker"); }, kShortMs))
        << Said("first.log");
}

} // namespace
