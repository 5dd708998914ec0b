// Downloads one file from nginx on loopback with qlget, curl and aria2c in
// the same run and prints wall time, CPU seconds and peak memory of each,
// with the ratios. Every tool's output is synced before its clock stops, so
// each pays for durability.
//
//   bench_http_download [--size-mb N] [--rounds N] [--qlget PATH] [--keep]
//
// Each comparison runs its tools in turn, --rounds times (default 3), and
// reports each tool's median run.
// Like is compared with like: one URL for qlget, curl and aria2c -x1; eight
// mirror URLs on 127.0.0.1 to 127.0.0.8 for qlget and aria2c.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/child_wait.h"
#include "platform/tick.h"
#include "tests/integration/nginx_server.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMirrors = 8;

struct TRun {
    std::string tool;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    double peakMiB = 0;
    bool ok = false;
};

bool WriteContent(const fs::path &path, int64_t bytes)
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
bool RunChild(const std::vector<std::string> &argv, platform::ChildResult &result)
{
    int pid = platform::StartChildProcess(argv);
    return pid > 0 && platform::WaitChild(pid, result) && result.exitCode == 0;
}

// One timed run. The previous output is removed and everything synced
// before the clock starts, so no run pays for the one before it.
TRun Measure(const std::string &tool, const std::vector<std::string> &argv, const fs::path &output, int64_t size)
{
    std::error_code ignored;
    fs::remove(output, ignored);
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
std::vector<TRun> MeasureRounds(const std::vector<TTool> &tools, int rounds, const fs::path &output, int64_t size)
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

void Ratios(const TRun &ours, const TRun &other)
{
    if (!ours.ok || !other.ok || ours.wallSeconds <= 0 || other.cpuSeconds <= 0)
        return;
    std::printf("  %s / %s: wall %.2f  cpu %.2f  memory %.2f\n", ours.tool.c_str(), other.tool.c_str(),
                ours.wallSeconds / other.wallSeconds, ours.cpuSeconds / other.cpuSeconds,
                ours.peakMiB / std::max(other.peakMiB, 0.001));
}

std::string FindQlget(const char *argv0, const std::string &given)
{
    if (!given.empty())
        return given;
    fs::path self = fs::weakly_canonical(fs::path(argv0));
    return (self.parent_path().parent_path() / "cli" / "qlget").string();
}

} // namespace

int main(int argc, char **argv)
{
    int64_t sizeMiB = 1024;
    int rounds = 3;
    std::string qlgetPath;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--size-mb" && i + 1 < argc)
            sizeMiB = std::atoll(argv[++i]);
        else if (arg == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--qlget" && i + 1 < argc)
            qlgetPath = argv[++i];
        else if (arg == "--keep")
            keep = true;
        else {
            std::fprintf(stderr, "usage: %s [--size-mb N] [--rounds N] [--qlget PATH] [--keep]\n", argv[0]);
            return 2;
        }
    }
    qlgetPath = FindQlget(argv[0], qlgetPath);
    if (!fs::exists(qlgetPath)) {
        std::fprintf(stderr, "qlget not found at %s (build it, or pass --qlget PATH)\n", qlgetPath.c_str());
        return 2;
    }
    for (const char *tool : {"/usr/bin/curl", "/usr/bin/aria2c", "/usr/sbin/nginx"}) {
        if (!fs::exists(tool)) {
            std::fprintf(stderr, "%s is missing (scripts/setup.sh installs it)\n", tool);
            return 2;
        }
    }

    fs::path folder = fs::temp_directory_path() / ("ql-bench-" + std::to_string(platform::TickCount()));
    fs::path www = folder / "www";
    fs::path out = folder / "out";
    fs::create_directories(www);
    fs::create_directories(out);
    const int64_t size = sizeMiB * 1024 * 1024;
    std::printf("http_download: %lld MiB from nginx on loopback\n", static_cast<long long>(sizeMiB));
    platform::ChildResult synced;
    if (!WriteContent(www / "file.bin", size) || !RunChild({"/bin/sync"}, synced)) {
        std::fprintf(stderr, "cannot write the test file in %s\n", folder.c_str());
        return 1;
    }

    TNginxOptions options;
    options.addresses.clear();
    for (int i = 1; i <= kMirrors; ++i)
        options.addresses.push_back("127.0.0." + std::to_string(i));
    TNginxServer nginx;
    if (!nginx.Start(www, options)) {
        std::fprintf(stderr, "nginx did not start\n");
        return 1;
    }
    std::vector<std::string> mirrors;
    for (int i = 0; i < kMirrors; ++i)
        mirrors.push_back(nginx.Url("/file.bin", static_cast<size_t>(i)));
    fs::path target = out / "file.bin";

    std::printf("one URL (median of %d rounds):\n", rounds);
    std::vector<TRun> one = MeasureRounds(
        {{"qlget", {qlgetPath, "--force", "-o", target.string(), mirrors[0]}},
         {"curl", {"/usr/bin/curl", "-s", "-o", target.string(), mirrors[0]}},
         {"aria2c -x1",
          {"/usr/bin/aria2c", "-q", "-x1", "-s1", "--allow-overwrite=true", "--file-allocation=none",
           "--auto-file-renaming=false", "-d", out.string(), "-o", "file.bin", mirrors[0]}}},
        rounds, target, size);

    std::printf("eight mirrors (median of %d rounds):\n", rounds);
    std::vector<std::string> qlArgs{qlgetPath, "--force", "-o", target.string()};
    qlArgs.insert(qlArgs.end(), mirrors.begin(), mirrors.end());
    std::vector<std::string> ariaArgs{"/usr/bin/aria2c", "-q", "-x1", "-s8", "--allow-overwrite=true",
                                      "--file-allocation=none", "--auto-file-renaming=false", "-d", out.string(),
                                      "-o", "file.bin"};
    ariaArgs.insert(ariaArgs.end(), mirrors.begin(), mirrors.end());
    std::vector<TRun> eight =
        MeasureRounds({{"qlget (8 mirrors)", qlArgs}, {"aria2c (8 mirrors)", ariaArgs}}, rounds, target, size);

    std::printf("ratios (below 1 favours qlget):\n");
    Ratios(one[0], one[1]);
    Ratios(one[0], one[2]);
    Ratios(eight[0], eight[1]);

    nginx.Stop();
    if (!keep) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    bool allOk = true;
    for (const TRun &run : one)
        allOk = allOk && run.ok;
    for (const TRun &run : eight)
        allOk = allOk && run.ok;
    return allOk ? 0 : 1;
}
