// Downloads one file from a swarm on loopback with qlget, aria2c and
// transmission-cli in turn and prints wall time, CPU seconds and peak memory
// of each, with the ratios. The swarm: opentracker and three aria2c seeders
// on 127.0.0.2 to 127.0.0.4, re-announcing every second, so they also dial
// a leecher that never dials loopback peers itself (transmission).
//
//   bench_bt_swarm [--size-mb N] [--rounds N] [--qlget PATH] [--keep]
//
// Each tool runs --rounds times (default 3) from a clean start; its median
// run is reported. Every leecher finds the seeders through the tracker alone.
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/tool_runs.h"
#include "engine/storage/torrent.h"
#include "platform/free_port.h"
#include "platform/run_program.h"

namespace fs = std::filesystem;
using namespace bench;

namespace {

const std::string kTransmission = "/usr/bin/transmission-cli";
const std::vector<std::string> kSeederAddresses{"127.0.0.2", "127.0.0.3", "127.0.0.4"};

struct TSwarm {
    fs::path folder;
    fs::path torrent;
    std::string infoHashPercent;
    int trackerPort = 0;
    std::vector<int> pids;

    ~TSwarm() { Stop(); }

    void Stop()
    {
        for (int pid : pids)
            platform::StopChildProcess(pid);
        pids.clear();
    }

    // The tracker's answer to an announce of the benchmark's own (port 1, at
    // 127.0.0.1, which no client here dials).
    std::string Probe() const
    {
        std::string answer;
        platform::RunProgram({"/usr/bin/curl", "-s", "-m", "2",
                              "http://127.0.0.1:" + std::to_string(trackerPort) + "/announce?info_hash=" +
                                  infoHashPercent +
                                  "&peer_id=-PR0001-benchprobe00&port=1&uploaded=0&downloaded=0&left=1&compact=1"},
                             &answer);
        return answer;
    }

    bool ListsEverySeeder() const
    {
        std::string answer = Probe();
        for (int n = 2; n <= 4; ++n)
            if (answer.find(std::string("\x7f\x00\x00", 3) + static_cast<char>(n)) == std::string::npos)
                return false;
        return true;
    }

    bool Start(const fs::path &file)
    {
        trackerPort = platform::FreeLoopbackPort();
        torrent = folder / "file.torrent";
        std::string made;
        if (trackerPort == 0 ||
            platform::RunProgram({"/usr/bin/mktorrent", "-l", "20", "-a",
                                  "http://127.0.0.1:" + std::to_string(trackerPort) + "/announce", "-o",
                                  torrent.string(), file.string()},
                                 &made) != 0)
            return false;
        auto metainfo = TRef<TTorrent>::Adopt(new TTorrent("file://" + torrent.string(), nullptr));
        if (!metainfo->LoadMetainfo())
            return false;
        infoHashPercent = metainfo->InfoHashPercent();
        // opentracker drops to nobody: its list must be readable by all.
        fs::path list = folder / "whitelist";
        std::FILE *out = std::fopen(list.c_str(), "w");
        if (out == nullptr)
            return false;
        std::fprintf(out, "%s\n", metainfo->InfoHashHex().c_str());
        std::fclose(out);
        chmod(list.c_str(), 0644);
        const std::string port = std::to_string(trackerPort);
        pids.push_back(platform::StartChildProcess(
            {"/usr/bin/opentracker", "-i", "127.0.0.1", "-p", port, "-P", port, "-w", list.string()}));
        // The list is loaded a moment after the start.
        bool ready = false;
        for (int i = 0; i < 100 && !ready; ++i) {
            std::string answer = Probe();
            ready = answer.find("interval") != std::string::npos && answer.find("failure reason") == std::string::npos;
            if (!ready)
                platform::SleepMs(100);
        }
        if (!ready)
            return false;
        for (const std::string &address : kSeederAddresses)
            pids.push_back(platform::StartChildProcess(
                {"/usr/bin/aria2c", "--dir=" + file.parent_path().string(), "--interface=" + address,
                 "--listen-port=" + std::to_string(platform::FreeLoopbackPort()), "--seed-ratio=0.0",
                 "--bt-seed-unverified=true", "--bt-tracker-interval=1", "--enable-dht=false",
                 "--bt-enable-lpd=false", "--enable-peer-exchange=false", "--quiet=true", torrent.string()}));
        for (int i = 0; i < 600; ++i) {
            if (ListsEverySeeder())
                return true;
            platform::SleepMs(100);
        }
        return false;
    }
};

// transmission-cli seeds on after completing; its finish script stops it by
// the id it left behind, and a fresh configuration gives each run a clean
// start. Bound to 127.0.0.5, plaintext, nothing but the tracker.
std::vector<std::string> TransmissionRun(const fs::path &folder, const fs::path &torrent, const fs::path &out)
{
    fs::path config = folder / "transmission";
    fs::create_directories(config);
    std::FILE *settings = std::fopen((config / "settings.json").c_str(), "w");
    if (settings != nullptr) {
        std::fprintf(settings, "{\"bind-address-ipv4\": \"127.0.0.5\", \"peer-port\": %d,"
                               " \"peer-port-random-on-start\": false, \"dht-enabled\": false,"
                               " \"lpd-enabled\": false, \"pex-enabled\": false, \"utp-enabled\": false,"
                               " \"port-forwarding-enabled\": false, \"rpc-enabled\": false,"
                               " \"blocklist-enabled\": false, \"ratio-limit-enabled\": false,"
                               " \"encryption\": 0}\n",
                     platform::FreeLoopbackPort());
        std::fclose(settings);
    }
    fs::path pidFile = folder / "transmission.pid";
    fs::path finish = folder / "transmission-finished.sh";
    std::FILE *script = std::fopen(finish.c_str(), "w");
    if (script != nullptr) {
        std::fprintf(script, "#!/bin/sh\nkill -INT \"$(cat '%s')\"\n", pidFile.c_str());
        std::fclose(script);
        chmod(finish.c_str(), 0755);
    }
    return {"/bin/sh", "-c",
            "rm -rf \"$1/resume\" \"$1/torrents\"; echo $$ >\"$2\"; exec \"$0\" -g \"$1\" -w \"$3\" -f \"$4\" \"$5\" "
            ">/dev/null 2>&1",
            kTransmission, config.string(), pidFile.string(), out.string(), finish.string(), torrent.string()};
}

} // namespace

int main(int argc, char **argv)
{
    TBenchArgs args;
    if (!ParseBenchArgs(argc, argv, "/usr/bin/opentracker", args))
        return 2;
    for (const std::string &tool : {kTransmission, std::string("/usr/bin/mktorrent")}) {
        if (!fs::exists(tool)) {
            std::fprintf(stderr, "%s is missing (scripts/setup.sh installs it)\n", tool.c_str());
            return 2;
        }
    }
    const int64_t size = args.sizeMiB * 1024 * 1024;
    TSwarm swarm;
    swarm.folder = fs::temp_directory_path() / ("ql-bench-bt-" + std::to_string(platform::TickCount()));
    fs::path seed = swarm.folder / "seed";
    fs::path out = swarm.folder / "out";
    fs::create_directories(seed);
    fs::create_directories(out);
    fs::permissions(swarm.folder, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    std::printf("bt_swarm: %lld MiB from three aria2c seeders on loopback, found through opentracker\n",
                static_cast<long long>(args.sizeMiB));
    std::fflush(stdout);
    platform::ChildResult synced;
    bool swarmUp = WriteContent(seed / "file.bin", size) && RunChild({"/bin/sync"}, synced) &&
                   swarm.Start(seed / "file.bin");
    bool allOk = swarmUp;
    if (!swarmUp) {
        std::fprintf(stderr, "the swarm did not start in %s\n", swarm.folder.c_str());
    } else {
        fs::path target = out / "file.bin";
        std::printf("whole file (median of %d rounds):\n", args.rounds);
        std::vector<TRun> runs = MeasureRounds(
            {{"qlget --torrent",
              {args.qlgetPath, "--torrent", swarm.torrent.string(), "--port",
               std::to_string(platform::FreeLoopbackPort()), "-o", target.string()}},
             {"aria2c",
              {"/usr/bin/aria2c", "-q", "--dir=" + out.string(), "--interface=127.0.0.6",
               "--listen-port=" + std::to_string(platform::FreeLoopbackPort()), "--seed-time=0",
               "--enable-dht=false", "--bt-enable-lpd=false", "--enable-peer-exchange=false",
               swarm.torrent.string()}},
             {"transmission-cli", TransmissionRun(swarm.folder, swarm.torrent, out)}},
            args.rounds, target, size);
        std::printf("ratios (below 1 favours qlget):\n");
        Ratios(runs[0], runs[1]);
        Ratios(runs[0], runs[2]);
        for (const TRun &run : runs)
            allOk = allOk && run.ok;
    }
    swarm.Stop();
    if (!args.keep) {
        std::error_code ignored;
        fs::remove_all(swarm.folder, ignored);
    }
    return allOk ? 0 : 1;
}
