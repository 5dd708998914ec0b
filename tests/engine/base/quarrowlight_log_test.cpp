// ctest-labels: threading
#include "engine/base/quarrowlight_log.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/base/report_hooks.h"
#include "platform/diagnostic_sink.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("ql-log-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                           "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        base = (dir / "package").string();
        log.SetBasePath(base.c_str());
        platform::SetDiagnosticCapture([this](const std::string &line) {
            std::lock_guard<std::mutex> hold(linesLock);
            debugLines.push_back(line);
        });
    }
    void TearDown() override
    {
        platform::SetDiagnosticCapture({});
        fs::remove_all(dir);
    }
    size_t DebugCount()
    {
        std::lock_guard<std::mutex> hold(linesLock);
        return debugLines.size();
    }

    fs::path dir;
    std::string base;
    CQuarrowlightLogApi log;
    std::mutex linesLock;
    std::vector<std::string> debugLines;
};

TEST_F(LogTest, DefaultThresholdsSendOnlyChannel38ToAFile)
{
    log.Write("dumped", 38, 38);
    log.Write("task created", 23, 23);
    EXPECT_NE(ReadAll(base + ".dump.log").find("] [dumped]\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(base + ".log")) << "channel 23 must not reach a file by default";
    ASSERT_EQ(DebugCount(), 2u);
    EXPECT_EQ(debugLines[1].substr(0, 1), "[");
    EXPECT_NE(debugLines[1].find("] [task created]\n"), std::string::npos);
}

TEST_F(LogTest, ChannelsPickTheirFiles)
{
    log.SetThresholds(0, 2);
    const std::pair<int, const char *> routes[] = {
        {5, ".log"}, {4, ".req.log"}, {37, ".checktask.log"}, {18, ".peerprefer.log"}, {28, ".dataupload.log"},
        {25, ".httptrace.log"}, {9, ".checkpeer.log"}, {29, ".written.log"}, {30, ".sha1check.log"}, {31, ".peerinfo.log"},
    };
    for (const auto &[channel, suffix] : routes) {
        std::string text = "line on " + std::to_string(channel);
        log.Write(text.c_str(), channel, channel);
        EXPECT_NE(ReadAll(base + suffix).find(text), std::string::npos) << suffix;
    }
    EXPECT_EQ(ReadAll(base + ".log").find("line on 4"), std::string::npos) << "listed channels never go to .log";
}

TEST_F(LogTest, ThresholdsSwitchOutputsOff)
{
    log.SetThresholds(39, 39);
    log.Write("silent", 38, 38);
    log.SetThresholds(0, 39);
    log.Write("silent too", 38, 38);
    EXPECT_EQ(DebugCount(), 0u);
    EXPECT_FALSE(fs::exists(base + ".dump.log"));

    log.SetThresholds(38, 30);
    log.Write("low level, low channel", 12, 12);
    EXPECT_EQ(DebugCount(), 0u);
}

TEST_F(LogTest, LongLinesAreCutNotOverrun)
{
    std::string huge(10000, 'x');
    log.Write(huge.c_str(), 38, 38);
    std::string written = ReadAll(base + ".dump.log");
    EXPECT_LT(written.size(), 4096u);
    EXPECT_GT(written.size(), 4000u);
    log.Printf("%s %d", huge.c_str(), 7);
    ASSERT_EQ(DebugCount(), 2u);
    EXPECT_LT(debugLines[1].size(), 4096u);
}

TEST_F(LogTest, PrintfIgnoresThresholdsAndStampsTheDate)
{
    log.SetThresholds(39, 39);
    log.Printf("value %d", 42);
    ASSERT_EQ(DebugCount(), 1u);
    EXPECT_NE(debugLines[0].find("] [value 42]\r\n"), std::string::npos);
    EXPECT_EQ(debugLines[0][5], '-') << "the stamp starts with the year: " << debugLines[0];
}

TEST_F(LogTest, UnwritableFileStillReachesTheDebugOutput)
{
    log.SetBasePath((dir / "missing-folder" / "package").string().c_str());
    log.Write("kept", 38, 38);
    EXPECT_EQ(DebugCount(), 1u);
}

TEST(EngineLogTest, WritersWithoutALogDoNothing)
{
    ReleaseEngineLog();
    EngineLogWrite("nobody listens", 38);
    EngineLogFormat(38, "%s", "nobody");
    SUCCEED();
}

TEST(EngineLogTest, ReleaseStopsTheReportThenWaitsForWriters)
{
    std::atomic<int> reportStops{0};
    SetReportHooks({[&] { ++reportStops; }, {}});
    std::atomic<int> seen{0};
    platform::SetDiagnosticCapture([&](const std::string &) { ++seen; });

    for (int round = 0; round < 20; ++round) {
        CreateEngineLog();
        std::atomic<bool> go{true};
        std::vector<std::thread> writers;
        for (int i = 0; i < 4; ++i) {
            writers.emplace_back([&] {
                while (go.load())
                    EngineLogFormat(23, "round %d", round);
            });
        }
        platform::SetDiagnosticCapture([&](const std::string &) { ++seen; });
        // On a loaded machine the writers may not have run yet: the release
        // must meet at least one of them inside the log.
        const int before = seen.load();
        for (int waited = 0; waited < 2000 && seen.load() == before; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ReleaseEngineLog();
        go = false;
        for (auto &writer : writers)
            writer.join();
    }
    EXPECT_EQ(reportStops.load(), 20);
    EXPECT_GT(seen.load(), 0);
    SetReportHooks({});
    platform::SetDiagnosticCapture({});
}

} // namespace
