// Downloads one file from vsftpd on loopback with qlget, curl and aria2c in
// turn and prints wall time, CPU seconds and peak memory of each, with the
// ratios. Every tool's output is synced before its clock stops.
//
//   bench_ftp_fetch [--size-mb N] [--rounds N] [--qlget PATH] [--keep]
//
// Each tool runs --rounds times (default 3); its median run is reported.
// Like is compared with like: one ftp:// URL, one connection each.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/tool_runs.h"
#include "tests/integration/ftp_servers.h"

namespace fs = std::filesystem;
using namespace bench;

int main(int argc, char **argv)
{
    TBenchArgs args;
    if (!ParseBenchArgs(argc, argv, "/usr/sbin/vsftpd", args))
        return 2;
    const int64_t sizeMiB = args.sizeMiB;
    const int rounds = args.rounds;
    const std::string qlgetPath = args.qlgetPath;
    const bool keep = args.keep;

    fs::path folder = fs::temp_directory_path() / ("ql-bench-ftp-" + std::to_string(platform::TickCount()));
    fs::path root = folder / "root";
    fs::path out = folder / "out";
    fs::create_directories(root);
    fs::create_directories(out);
    // vsftpd's unprivileged user reads the file through these folders.
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const int64_t size = sizeMiB * 1024 * 1024;
    std::printf("ftp_fetch: %lld MiB from vsftpd on loopback\n", static_cast<long long>(sizeMiB));
    platform::ChildResult synced;
    if (!WriteContent(root / "file.bin", size) || !RunChild({"/bin/sync"}, synced)) {
        std::fprintf(stderr, "cannot write the test file in %s\n", folder.c_str());
        return 1;
    }
    TVsftpdServer vsftpd;
    if (!vsftpd.Start(root)) {
        std::fprintf(stderr, "vsftpd did not start\n");
        return 1;
    }
    const std::string url = vsftpd.Url("/file.bin");
    fs::path target = out / "file.bin";

    std::printf("one URL (median of %d rounds):\n", rounds);
    std::vector<TRun> runs = MeasureRounds(
        {{"qlget", {qlgetPath, "--force", "-o", target.string(), url}},
         {"curl", {"/usr/bin/curl", "-s", "-o", target.string(), url}},
         {"aria2c -x1",
          {"/usr/bin/aria2c", "-q", "-x1", "-s1", "--allow-overwrite=true", "--file-allocation=none",
           "--auto-file-renaming=false", "-d", out.string(), "-o", "file.bin", url}}},
        rounds, target, size);
    std::printf("ratios (below 1 favours qlget):\n");
    Ratios(runs[0], runs[1]);
    Ratios(runs[0], runs[2]);

    vsftpd.Stop();
    if (!keep) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    bool allOk = true;
    for (const TRun &run : runs)
        allOk = allOk && run.ok;
    return allOk ? 0 : 1;
}
