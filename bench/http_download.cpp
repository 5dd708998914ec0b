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
#include <filesystem>
#include <string>
#include <vector>

#include "bench/tool_runs.h"
#include "tests/integration/nginx_server.h"

namespace fs = std::filesystem;
using namespace bench;

namespace {

constexpr int kMirrors = 8;

} // namespace

int main(int argc, char **argv)
{
    TBenchArgs args;
    if (!ParseBenchArgs(argc, argv, "/usr/sbin/nginx", args))
        return 2;
    const int64_t sizeMiB = args.sizeMiB;
    const int rounds = args.rounds;
    const std::string qlgetPath = args.qlgetPath;
    const bool keep = args.keep;

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
