// quarrowlight-cli end to end: a package stamped into the program with
// qlpack, served by nginx on loopback, downloaded, interrupted, resumed,
// repaired and installed by the program itself.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/child_process.h"
#include "platform/child_wait.h"
#include "platform/run_program.h"
#include "platform/tick.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"
#include "tests/integration/stamped_program.h"
#include "tests/platform/loopback_listener.h"

namespace {

constexpr int kFiles = 6;
constexpr char kInstaller[] = "setup_demo.sh";

class QuarrowlightCliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        www = scratch.path / "www";
        save = scratch.path / "save";
        for (const char *folder : {"www", "save", "data", "run", "desktop"})
            fs::create_directories(scratch.path / folder);
        names[0] = kInstaller;
        contents[0] = kMarkerInstallerScript;
        for (int i = 1; i < kFiles; ++i) {
            names[i] = "data.7z.00" + std::to_string(i);
            contents[i] = PatternBytes(2 * 1024 * 1024 + 4099 * i, 40 + i);
        }
        for (int i = 0; i < kFiles; ++i)
            WriteAll(www / names[i], contents[i]);
        // Paced, so that a run lasts long enough to be interrupted; the
        // program's own limit is set only after each task has begun, which
        // on loopback can be too late for files this small.
        TNginxOptions paced;
        paced.serverDirectives = "    limit_rate 1m;";
        ASSERT_TRUE(nginx.Start(www, paced));
        ASSERT_NO_FATAL_FAILURE(Stamp());

        // The program's data, lock and shutdown stay inside the scratch
        // folder; a script that is not executable goes to xdg-open, whose
        // stand-in here runs it.
        WriteInstallerOpener(scratch.path / "desktop");
        Set("QUARROWLIGHT_DATA_HOME", (scratch.path / "data").string());
        Set("XDG_RUNTIME_DIR", (scratch.path / "run").string());
        Set("QUARROWLIGHT_FAKE_SHUTDOWN", "1");
        Set("PATH", (scratch.path / "desktop").string() + ":" + std::getenv("PATH"));
    }

    void TearDown() override
    {
        for (auto &[name, value] : savedEnvironment) {
            if (value.empty())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
    }

    void Set(const std::string &name, const std::string &value)
    {
        const char *old = std::getenv(name.c_str());
        savedEnvironment.emplace_back(name, old != nullptr ? old : "");
        setenv(name.c_str(), value.c_str(), 1);
    }

    void Stamp()
    {
        StampProgram(scratch.path, nginx, names,
                     resourceListUrl.empty() ? "" : "resource_list_url = " + resourceListUrl + "\n", program);
    }

    std::vector<std::string> Command(const std::vector<std::string> &args) const
    {
        std::vector<std::string> argv{"/bin/sh", "-c", "dir=$1; shift; exec \"$0\" --save-dir \"$dir\" \"$@\" 2>&1", program,
                                      save.string()};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }

    // Runs the program to its end; its exit status, and what it said.
    int Run(const std::vector<std::string> &args, std::string &said) const
    {
        return platform::RunProgram(Command(args), &said);
    }

    void ExpectPackageSaved() const
    {
        for (int i = 0; i < kFiles; ++i)
            EXPECT_EQ(Md5Hex(ReadAll(save / names[i])), Md5Hex(contents[i])) << names[i];
    }

    uint64_t BytesOnDisk() const
    {
        uint64_t bytes = 0;
        for (const auto &entry : fs::directory_iterator(save)) {
            if (entry.is_regular_file())
                bytes += entry.file_size();
        }
        return bytes;
    }

    TScratch scratch;
    TNginxServer nginx;
    fs::path www;
    fs::path save;
    std::string program;
    std::string resourceListUrl; // stamped when set
    std::string names[kFiles];
    std::string contents[kFiles];
    std::vector<std::pair<std::string, std::string>> savedEnvironment;
};

TEST_F(QuarrowlightCliTest, DownloadsVerifiesAndLaunchesTheInstaller)
{
    // The log lines go to standard error, where the (fake) shutdown shows.
    Set("QUARROWLIGHT_DEBUG_LOG", "1");
    std::string said;
    ASSERT_EQ(Run({"--verify", "--install", "--shutdown-when-done"}, said), 0) << said;
    ExpectPackageSaved();
    EXPECT_TRUE(fs::exists(save / "installed.marker")) << said;
    EXPECT_NE(said.find("-> yes"), std::string::npos) << "the verify-first question is answered: " << said;
    EXPECT_NE(said.find("the installer was launched"), std::string::npos) << said;
    EXPECT_NE(said.find("100.00%"), std::string::npos) << said;
    EXPECT_NE(said.find("shutdown requested (not made)"), std::string::npos) << said;
}

TEST_F(QuarrowlightCliTest, SecondInstanceIsRefusedAndAnInterruptedRunResumes)
{
    const int first = platform::StartChildProcess(Command({"--limit", "600"}));
    ASSERT_GT(first, 0);
    for (uint32_t waited = 0; waited < 20000 && BytesOnDisk() == 0; waited += 100)
        platform::SleepMs(100);

    std::string said;
    EXPECT_EQ(Run({}, said), 3) << said;
    EXPECT_NE(said.find("another instance"), std::string::npos) << said;
    platform::ChildResult result;
    EXPECT_FALSE(platform::ChildHasEnded(first, result)) << "the first instance is left alone";

    // A closed terminal stops and saves as Ctrl-C does.
    platform::SleepMs(1500);
    ASSERT_EQ(kill(first, SIGHUP), 0);
    ASSERT_TRUE(platform::WaitChild(first, result));
    EXPECT_EQ(result.exitCode, 128 + SIGHUP);

    const uint64_t kept = BytesOnDisk();
    EXPECT_GT(kept, 0u);
    ASSERT_EQ(Run({"--verify"}, said), 0) << said;
    ExpectPackageSaved();
    const bool reopened = said.find("total  recover") != std::string::npos || said.find("total  reload") != std::string::npos;
    EXPECT_TRUE(reopened) << "the tasks are reopened, not begun again: " << said;
    EXPECT_NE(said.find("every file passed its MD5 check"), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(save / "installed.marker")) << "no --install, no installer";
}

// Writes a few bad bytes into the middle of a saved volume; with keepTime
// the damage leaves the file's time as it was, so only its digest tells.
void Damage(const fs::path &path, size_t size, bool keepTime)
{
    const fs::file_time_type time = fs::last_write_time(path);
    {
        std::fstream volume(path, std::ios::in | std::ios::out | std::ios::binary);
        volume.seekp(static_cast<std::streamoff>(size / 2));
        volume.write("damage", 6);
    }
    if (keepTime)
        fs::last_write_time(path, time);
}

TEST_F(QuarrowlightCliTest, DamagedVolumesAreRepaired)
{
    std::string said;
    ASSERT_EQ(Run({}, said), 0) << said;
    ExpectPackageSaved();

    // A volume changed since its completion is reopened at start-up and its
    // bad piece fetched again.
    Damage(save / names[3], contents[3].size(), false);
    ASSERT_EQ(Run({"--verify"}, said), 0) << said;
    ExpectPackageSaved();
    EXPECT_NE(said.find("reload"), std::string::npos) << said;
    EXPECT_EQ(said.find("found damaged files"), std::string::npos) << "the check itself found nothing: " << said;

    // One that looks untouched is caught by its MD5 and downloaded again.
    Damage(save / names[2], contents[2].size(), true);
    ASSERT_EQ(Run({"--verify"}, said), 0) << said;
    ExpectPackageSaved();
    EXPECT_NE(said.find("found damaged files and repaired them"), std::string::npos) << said;
}

TEST_F(QuarrowlightCliTest, BadArgumentsAndARefusedSaveFolderExitWithTheirCodes)
{
    std::string said;
    EXPECT_EQ(Run({"--limit", "40000"}, said), 2) << said;
    EXPECT_EQ(Run({"--frobnicate"}, said), 2) << said;
    // Folders no file can be made in: refused as such, not failed later as
    // a damaged or full disk.
    WriteAll(scratch.path / "a-file", "not a folder");
    for (const std::string &folder : {std::string("relative/folder"), (scratch.path / "a-file").string(),
                                      std::string("/proc/self")}) {
        const std::vector<std::string> command{"/bin/sh", "-c", "exec \"$0\" --save-dir \"$1\" 2>&1", program, folder};
        EXPECT_EQ(platform::RunProgram(command, &said), 9) << folder << ": " << said;
        EXPECT_NE(said.find("the save folder " + folder + " cannot hold the package's files"), std::string::npos)
            << said;
    }
    EXPECT_EQ(BytesOnDisk(), 0u);
}

TEST_F(QuarrowlightCliTest, AnExpiredBuildShowsItsMessageAndPageAndDownloadsNothing)
{
    WriteAll(www / "list.xml", "<project><configs><expire-info><expired>true</expired><message>此版本已停用</message>"
                               "<url>http://127.0.0.1/new-version</url></expire-info></configs></project>");
    resourceListUrl = nginx.Url("/list.xml");
    ASSERT_NO_FATAL_FAILURE(Stamp());
    std::string said;
    EXPECT_EQ(Run({}, said), 12) << said;
    EXPECT_NE(said.find("此版本已停用"), std::string::npos) << said;
    EXPECT_NE(said.find("http://127.0.0.1/new-version"), std::string::npos) << said;
    EXPECT_EQ(BytesOnDisk(), 0u);

    // A list that does not say so lets the download begin.
    WriteAll(www / "list.xml", "<project><configs><p2p-switch>on</p2p-switch></configs></project>");
    EXPECT_EQ(Run({}, said), 0) << said;
    ExpectPackageSaved();
}

} // namespace

TEST_F(QuarrowlightCliTest, AResourceListServerThatNeverAnswersDelaysTheStartBriefly)
{
    TLoopbackListener silent;
    ASSERT_TRUE(silent.Listening());
    resourceListUrl = "http://127.0.0.1:" + std::to_string(silent.Port()) + "/list.xml";
    ASSERT_NO_FATAL_FAILURE(Stamp());

    const uint32_t begun = platform::TickCount();
    const int pid = platform::StartChildProcess(Command({}));
    ASSERT_GT(pid, 0);
    while (BytesOnDisk() == 0 && platform::TickCount() - begun < 30000)
        platform::SleepMs(20);
    const uint32_t firstBytesMs = platform::TickCount() - begun;
    platform::ChildResult result;
    ASSERT_TRUE(platform::WaitChild(pid, result));
    silent.Close();
    // The expiry check gives up after two seconds; the rest is start-up.
    EXPECT_LT(firstBytesMs, 4500u);
    EXPECT_EQ(result.exitCode, 0);
    ExpectPackageSaved();
}

TEST_F(QuarrowlightCliTest, MirrorsFromTheResourceListServeWithTheirHostName)
{
    // The stamped server crawls; the listed mirror on another loopback
    // address does not, and logs the Host each request named.
    nginx.Stop();
    TNginxOptions crawling;
    crawling.serverDirectives = "    limit_rate 40k;";
    ASSERT_TRUE(nginx.Start(www, crawling));
    TNginxServer mirror;
    TNginxOptions logged;
    logged.addresses = {"127.0.0.2"};
    logged.httpDirectives = "  log_format hosts '$host $body_bytes_sent';";
    logged.serverDirectives = "    access_log " + (scratch.path / "mirror.log").string() + " hosts;";
    ASSERT_TRUE(mirror.Start(www, logged));

    std::string list = "<project><configs><p2p-switch>on</p2p-switch></configs><resources>";
    for (int i = 0; i < kFiles; ++i) {
        list += "<resource id=\"" + std::to_string(i + 1) + "\" task=\"" + nginx.Url("/" + names[i]) +
                "\"><cdn id=\"1\" name=\"m\" middle-dir=\"/\" file-name=\"" + names[i] +
                "\" open=\"1\" host-name=\"cdn.quarrowlight.test\"><ip>127.0.0.2:" + std::to_string(mirror.Port()) +
                "</ip></cdn></resource>";
    }
    WriteAll(www / "list.xml", list + "</resources></project>");
    resourceListUrl = nginx.Url("/list.xml");
    ASSERT_NO_FATAL_FAILURE(Stamp());

    std::string said;
    ASSERT_EQ(Run({}, said), 0) << said;
    ExpectPackageSaved();
    uint64_t fromMirror = 0;
    std::istringstream lines(ReadAll(scratch.path / "mirror.log"));
    std::string host;
    uint64_t bytes = 0;
    while (lines >> host >> bytes) {
        EXPECT_EQ(host, "cdn.quarrowlight.test");
        fromMirror += bytes;
    }
    EXPECT_GT(fromMirror, 1024u * 1024u) << "the mirror carried the download";
}
