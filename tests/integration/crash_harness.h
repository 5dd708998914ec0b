#pragma once
// Kills qlget at pseudo-random moments while it downloads from a paced nginx,
// runs it again after every kill, and checks that the file ends byte-identical
// and that no resume lost more than the periodic save interval of work.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>

#include "platform/child_process.h"
#include "platform/child_wait.h"
#include "platform/run_program.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"

struct TCrashFigures {
    int kills = 0;
    int crashPoints = 0;
    double largestLossSeconds = 0;
    int64_t largestLossBytes = 0;
    int64_t bytesSent = 0;
};

class TCrashHarness {
public:
    // The task saves its state this often; a resume may lose this much work,
    // plus the moments a kill takes to land and the server takes to notice.
    static constexpr double kSaveSeconds = 20;
    static constexpr double kSlackSeconds = 3;

    TCrashHarness(uint32_t seed, bool withTorrent, int32_t limitKBps)
        : random(seed), withTorrent(withTorrent), limitKBps(limitKBps)
    {
        std::printf("crash harness: seed %u, %s task\n", seed, withTorrent ? "P2SP" : "HTTP");
    }

    // Serves a file of size bytes at a paced rate; false when set-up failed.
    bool Start(size_t size)
    {
        root = scratch.path / "www";
        fs::create_directories(root);
        content = PatternBytes(size, 29);
        WriteAll(root / "data.bin", content);
        output = scratch.path / "out" / "data.bin";
        fs::create_directories(output.parent_path());
        if (withTorrent) {
            torrent = scratch.path / "data.torrent";
            if (platform::RunProgram({"mktorrent", "-l", "18", "-a", "http://127.0.0.1:9/announce", "-o",
                                      torrent.string(), (root / "data.bin").string()}) != 0)
                return false;
        }
        accessLog = scratch.path / "sent.log";
        fullSpeedMark = scratch.path / "full-speed";
        TNginxOptions options;
        options.httpDirectives = "  log_format sent '$body_bytes_sent';";
        // The server paces the first moments of a run, before the client's
        // own limit takes hold, until FullSpeed.
        options.serverDirectives = "    set $pace 512k;\n    if (-f " + fullSpeedMark.string() +
                                   ") { set $pace 0; }\n    limit_rate $pace;\n    access_log " +
                                   accessLog.string() + " sent;";
        return nginx.Start(root, options);
    }

    // Later runs download without a limit on either side: the slow pace only
    // makes the file outlast the kills.
    void FullSpeed()
    {
        WriteAll(fullSpeedMark, "");
        limitKBps = 0;
    }

    enum class TEnd { Kill, Interrupt };

    // One run ended after delayMs by a kill (a crash) or an interrupt (a
    // clean stop), unless it ends first. With a crash point the run must die
    // there instead. True when the run was ended from outside.
    bool RunAndEnd(uint32_t delayMs, TEnd how, const std::string &crashPoint = "")
    {
        size_t logMark = SentEntries().size();
        int pid = Start(crashPoint);
        EXPECT_GT(pid, 0);
        uint32_t started = platform::TickCount();
        platform::ChildResult result;
        bool ended = false;
        while (!ended && platform::TickCount() - started < delayMs) {
            platform::SleepMs(10);
            ended = platform::ChildHasEnded(pid, result);
        }
        bool endedFromOutside = !ended;
        bool killed = !ended && how == TEnd::Kill;
        if (killed) {
            platform::KillChildProcess(pid);
        } else if (!ended) {
            platform::InterruptChildProcess(pid);
            platform::WaitChild(pid, result);
            if (crashPoint.empty()) {
                EXPECT_EQ(result.exitCode, 130) << Said();
            }
        }
        double seconds = (platform::TickCount() - started) / 1000.0;
        // nginx logs a request once it notices the closed connection.
        platform::SleepMs(400);
        Account(logMark, seconds);
        if (!crashPoint.empty()) {
            // Our own kill would read as a death by a signal too.
            EXPECT_TRUE(!killed && result.exitCode == -1)
                << "the run did not die at " << crashPoint << ": " << Said();
        } else if (ended) {
            complete = result.exitCode == 0;
            EXPECT_EQ(result.exitCode, 0) << Said();
        }
        return endedFromOutside;
    }

    // Runs qlget to its end without a kill (unless a run already completed
    // the file) and checks the file.
    void Finish()
    {
        if (!complete) {
            size_t logMark = SentEntries().size();
            int pid = Start("");
            ASSERT_GT(pid, 0);
            uint32_t started = platform::TickCount();
            platform::ChildResult result;
            ASSERT_TRUE(platform::WaitChild(pid, result));
            Account(logMark, (platform::TickCount() - started) / 1000.0);
            ASSERT_EQ(result.exitCode, 0) << Said();
        }
        std::string got = ReadAll(output);
        ASSERT_EQ(got.size(), content.size());
        size_t mismatch = std::mismatch(got.begin(), got.end(), content.begin()).first - got.begin();
        EXPECT_EQ(mismatch, got.size()) << "first differing byte at " << mismatch;
        EXPECT_FALSE(fs::exists(output.string() + ".qltmp"));
        EXPECT_FALSE(fs::exists(output.string() + ".qlinfo")) << "the record goes with completion";
    }

    void RemoveStateFile() { fs::remove(output.string() + ".qlinfo"); }

    uint32_t KillDelay(uint32_t lowMs, uint32_t highMs)
    {
        return std::uniform_int_distribution<uint32_t>(lowMs, highMs)(random);
    }

    TCrashFigures figures;
    // The file was completed by a run (no further kill can land).
    bool complete = false;

private:
    int Start(const std::string &crashPoint)
    {
        std::string command = "exec \"$0\" \"$@\" 2>\"" + (scratch.path / "said.txt").string() + "\"";
        if (!crashPoint.empty())
            command = "QL_CRASH_POINT=" + crashPoint + " " + command;
        std::vector<std::string> argv{"/bin/sh", "-c", command, QLGET_PROGRAM, "-o", output.string(),
                                      "--limit", std::to_string(limitKBps)};
        if (withTorrent) {
            argv.push_back("--torrent");
            argv.push_back(torrent.string());
        }
        argv.push_back(nginx.Url("/data.bin"));
        return platform::StartChildProcess(argv);
    }

    std::string Said() const { return ReadAll(scratch.path / "said.txt"); }

    std::vector<int64_t> SentEntries() const
    {
        std::vector<int64_t> entries;
        std::istringstream lines(ReadAll(accessLog));
        for (std::string line; std::getline(lines, line);)
            entries.push_back(std::atoll(line.c_str()));
        return entries;
    }

    // What the run kept from the one before it, as qlget reports it.
    int64_t KeptByThisRun() const
    {
        std::string said = Said();
        size_t at = said.find("kept ");
        return at == std::string::npos ? -1 : std::atoll(said.c_str() + at + 5);
    }

    // The previous run's loss is what the server sent it minus what this
    // run kept beyond the run before.
    void Account(size_t logMark, double seconds)
    {
        std::vector<int64_t> entries = SentEntries();
        int64_t sent = 0;
        for (size_t i = logMark; i < entries.size(); ++i)
            sent += entries[i];
        figures.bytesSent += sent;
        int64_t kept = KeptByThisRun();
        if (kept < 0) {
            // Died before it knew the size (a crash point in the start-up):
            // the next run measures from its own start.
            havePrevious = false;
            return;
        }
        if (havePrevious) {
            int64_t loss = previousSent - (kept - previousKept);
            double rate = previousSeconds > 0 ? previousSent / previousSeconds : 0;
            double lossSeconds = rate > 0 ? std::max<int64_t>(loss, 0) / rate : 0;
            figures.largestLossBytes = std::max(figures.largestLossBytes, loss);
            figures.largestLossSeconds = std::max(figures.largestLossSeconds, lossSeconds);
            EXPECT_GE(kept, previousKept - 1) << "a resume went backwards";
            EXPECT_LE(lossSeconds, kSaveSeconds + kSlackSeconds)
                << "lost " << loss << " bytes (" << lossSeconds << " s of work)";
        }
        havePrevious = true;
        previousSent = sent;
        previousKept = kept;
        previousSeconds = seconds;
    }

    std::mt19937 random;
    bool withTorrent;
    int32_t limitKBps;
    TScratch scratch;
    TNginxServer nginx;
    fs::path root, output, torrent, accessLog, fullSpeedMark;
    std::string content;
    bool havePrevious = false;
    int64_t previousSent = 0;
    int64_t previousKept = 0;
    double previousSeconds = 0;
};

// Seed from QL_CRASH_SEED when set, so a failing run can be repeated.
inline uint32_t CrashSeed()
{
    const char *given = std::getenv("QL_CRASH_SEED");
    return given != nullptr ? static_cast<uint32_t>(std::strtoul(given, nullptr, 10))
                            : static_cast<uint32_t>(platform::TickCount());
}
