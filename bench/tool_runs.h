#pragma once
// What the benchmarks share: a file of random bytes, timed runs of a tool
// that writes an output (synced before the clock stops, so each pays for
// durability), medians over rounds in turn, and the ratios against qlget.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/child_wait.h"
#include "platform/tick.h"

namespace bench {

namespace fs = std::filesystem;

struct TRun {
    std::string tool;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    double peakMiB = 0;
    bool ok = false;
};

inline bool WriteContent(const fs::path &path, int64_t bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<uint64_t> block(1 << 17);
    std::mt19937_64 random(42);
    for (int64_t written = 0; written < bytes && out;) {
        for (uint64_t &word : block)
            word = random();
        auto chunk = static_cast<std::streamsize>(std::min<int64_t>(bytes - written, block.size() * 8));
        out.write(reinterpret_cast<const char *>(block.data()), chunk);
        written += chunk;
    }
    return static_cast<bool>(out);
}

// Runs argv to its end; true when it exited with 0.
inline bool RunChild(const std::vector<std::string> &argv, platform::ChildResult &result)
{
    int pid = platform::StartChildProcess(argv);
    return pid > 0 && platform::WaitChild(pid, result) && result.exitCode == 0;
}

// One timed run. The output's folder (the tools' alone) is emptied, so
// that no state or control file of a previous run is resumed, and
// everything synced before the clock starts, so no run pays for the one
// before it.
inline TRun Measure(const std::string &tool, const std::vector<std::string> &argv, const fs::path &output, int64_t size)
{
    std::error_code ignored;
    for (const fs::directory_entry &entry : fs::directory_iterator(output.parent_path(), ignored))
        fs::remove_all(entry.path(), ignored);
    platform::ChildResult synced;
    RunChild({"/bin/sync"}, synced);
    TRun run;
    run.tool = tool;
    uint32_t start = platform::TickCount();
    platform::ChildResult result;
    bool ok = RunChild(argv, result);
    ok = ok && RunChild({"/bin/sync", output.string()}, synced);
    run.wallSeconds = static_cast<double>(platform::TickCount() - start) / 1000.0;
    run.cpuSeconds = result.cpuSeconds;
    run.peakMiB = static_cast<double>(result.peakResidentKb) / 1024.0;
    run.ok = ok && fs::exists(output) && static_cast<int64_t>(fs::file_size(output, ignored)) == size;
    return run;
}

struct TTool {
    std::string name;
    std::vector<std::string> argv;
};

// Runs the tools in turn, rounds times, so that a disturbance of the machine
// falls on all of them; each tool's result is its median run by wall time
// (its peak memory the largest seen). A failed run fails the tool.
inline std::vector<TRun> MeasureRounds(const std::vector<TTool> &tools, int rounds, const fs::path &output, int64_t size)
{
    std::vector<std::vector<TRun>> runs(tools.size());
    for (int round = 0; round < rounds; ++round) {
        for (size_t i = 0; i < tools.size(); ++i)
            runs[i].push_back(Measure(tools[i].name, tools[i].argv, output, size));
    }
    std::vector<TRun> medians;
    for (std::vector<TRun> &ofTool : runs) {
        std::sort(ofTool.begin(), ofTool.end(),
                  [](const TRun &a, const TRun &b) { return a.wallSeconds < b.wallSeconds; });
        TRun median = ofTool[ofTool.size() / 2];
        for (const TRun &run : ofTool) {
            median.ok = median.ok && run.ok;
            median.peakMiB = std::max(median.peakMiB, run.peakMiB);
        }
        std::printf("  %-22s wall %7.2f s  cpu %6.2f s  peak %7.1f MiB  %s  (walls:", median.tool.c_str(),
                    median.wallSeconds, median.cpuSeconds, median.peakMiB, median.ok ? "ok" : "FAILED");
        for (const TRun &run : ofTool)
            std::printf(" %.2f", run.wallSeconds);
        std::printf(")\n");
        medians.push_back(median);
    }
    std::fflush(stdout);
    return medians;
}

inline void Ratios(const TRun &ours, const TRun &other)
{
    if (!ours.ok || !other.ok || ours.wallSeconds <= 0 || other.cpuSeconds <= 0)
        return;
    std::printf("  %s / %s: wall %.2f  cpu %.2f  memory %.2f\n", ours.tool.c_str(), other.tool.c_str(),
                ours.wallSeconds / other.wallSeconds, ours.cpuSeconds / other.cpuSeconds,
                ours.peakMiB / std::max(other.peakMiB, 0.001));
}

inline std::string FindQlget(const char *argv0, const std::string &given)
{
    if (!given.empty())
        return given;
    fs::path self = fs::weakly_canonical(fs::path(argv0));
    return (self.parent_path().parent_path() / "cli" / "qlget").string();
}

// The command line every benchmark takes:
//   [--size-mb N] [--rounds N] [--qlget PATH] [--keep]
struct TBenchArgs {
    int64_t sizeMiB = 1024;
    int rounds = 3;
    std::string qlgetPath;
    bool keep = false;
};

// Reads the arguments and checks that qlget, curl, aria2c and the server
// program are there; false after saying what is wrong.
inline bool ParseBenchArgs(int argc, char **argv, const std::string &server, TBenchArgs &args)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--size-mb" && i + 1 < argc)
            args.sizeMiB = std::atoll(argv[++i]);
        else if (arg == "--rounds" && i + 1 < argc)
            args.rounds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--qlget" && i + 1 < argc)
            args.qlgetPath = argv[++i];
        else if (arg == "--keep")
            args.keep = true;
        else {
            std::fprintf(stderr, "usage: %s [--size-mb N] [--rounds N] [--qlget PATH] [--keep]\n", argv[0]);
            return false;
        }
    }
    args.qlgetPath = FindQlget(argv[0], args.qlgetPath);
    if (!fs::exists(args.qlgetPath)) {
        std::fprintf(stderr, "qlget not found at %s (build it, or pass --qlget PATH)\n", args.qlgetPath.c_str());
        return false;
    }
    for (const std::string &tool : {std::string("/usr/bin/curl"), std::string("/usr/bin/aria2c"), server}) {
        if (!fs::exists(tool)) {
            std::fprintf(stderr, "%s is missing (scripts/setup.sh installs it)\n", tool.c_str());
            return false;
        }
    }
    return true;
}

} // namespace bench
