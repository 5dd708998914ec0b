// ctest-labels: netns
// qlget and transmission fetch from each other. transmission never dials
// peers on loopback, so they meet on a network of their own: two network
// namespaces named after this test's pid and joined by a veth (198.18.0.1
// for qlget and opentracker, 198.18.0.2 for transmission), removed at the
// end. Every peer is found through the tracker alone. Nothing here touches
// the host namespace.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/storage/torrent.h"
#include "platform/child_process.h"
#include "platform/run_program.h"
#include "platform/tick.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/network_namespace.h"
#include "tests/integration/qlget_program.h"

namespace {

// 14 pieces of 256 KiB, the last one short: neither a multiple of 8 pieces
// nor of the piece size.
constexpr size_t kFileSize = 13 * 262144 + 4321;
constexpr uint32_t kWaitMs = 120000;
constexpr int kTrackerPort = 6969;
constexpr int kQlgetPort = 46881;
constexpr int kTransmissionPort = 51413;
const std::string kTransmission = "/usr/bin/transmission-cli";
// transmission's listening address as a compact tracker entry.
const std::string kTransmissionEntry("\xc6\x12\x00\x02\xc8\xd5", 6);

class BtTransmissionNetnsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!NamespacesAvailable() || !fs::exists(kTransmission))
            return;
        scratch = new TScratch;
        const std::string id = std::to_string(getpid());
        qlgetSide = "qlBtA" + id;
        transmissionSide = "qlBtB" + id;
        ASSERT_TRUE(RunQuietly({kIpProgram, "netns", "add", qlgetSide}));
        ASSERT_TRUE(RunQuietly({kIpProgram, "netns", "add", transmissionSide}));
        const std::string a = "qlva" + id, b = "qlvb" + id;
        ASSERT_TRUE(RunQuietly({kIpProgram, "link", "add", a, "netns", qlgetSide, "type", "veth", "peer", "name", b,
                                "netns", transmissionSide}));
        ASSERT_TRUE(RunInNamespace(qlgetSide, "ip link set lo up && ip addr add 198.18.0.1/30 dev " + a +
                                                  " && ip link set " + a + " up"));
        ASSERT_TRUE(RunInNamespace(transmissionSide, "ip link set lo up && ip addr add 198.18.0.2/30 dev " + b +
                                                         " && ip link set " + b + " up"));

        // opentracker drops to nobody: its list and folder must be readable.
        const fs::path &dir = scratch->path;
        chmod(dir.c_str(), 0755);
        fs::create_directories(dir / "seed");
        content = PatternBytes(kFileSize, 2027);
        WriteAll(dir / "seed" / "data.bin", content);
        torrent = dir / "data.torrent";
        const std::string tracker = "198.18.0.1:" + std::to_string(kTrackerPort) + "/announce";
        std::string made;
        ASSERT_EQ(platform::RunProgram({"/usr/bin/mktorrent", "-l", "18", "-a", "http://" + tracker, "-a",
                                        "udp://" + tracker, "-o", torrent.string(),
                                        (dir / "seed" / "data.bin").string()},
                                       &made),
                  0)
            << made;
        auto metainfo = TRef<TTorrent>::Adopt(new TTorrent("file://" + torrent.string(), nullptr));
        ASSERT_TRUE(metainfo->LoadMetainfo());
        infoHashPercent = metainfo->InfoHashPercent();
        fs::path list = dir / "whitelist";
        WriteAll(list, metainfo->InfoHashHex() + "\n");
        chmod(list.c_str(), 0644);
        const std::string port = std::to_string(kTrackerPort);
        pids.push_back(StartInNamespace(qlgetSide, dir / "opentracker.log",
                                        {"/usr/bin/opentracker", "-i", "198.18.0.1", "-p", port, "-P", port, "-w",
                                         list.string()}));
        // The list is loaded a moment after the start.
        bool ready = false;
        for (int i = 0; i < 100 && !ready; ++i) {
            std::string answer = Announce("");
            ready = answer.find("interval") != std::string::npos &&
                    answer.find("failure reason") == std::string::npos;
            if (!ready)
                platform::SleepMs(100);
        }
        ASSERT_TRUE(ready) << "opentracker never took the hash";
        Announce("&event=stopped");
        started = true;
    }

    static void TearDownTestSuite()
    {
        for (int pid : pids)
            platform::StopChildProcess(pid);
        pids.clear();
        for (const std::string &ns : {qlgetSide, transmissionSide})
            if (!ns.empty())
                RunQuietly({kIpProgram, "netns", "delete", ns});
        delete scratch;
        scratch = nullptr;
    }

    void SetUp() override
    {
        if (!NamespacesAvailable() || !fs::exists(kTransmission))
            GTEST_SKIP() << "needs root, iproute2 and transmission-cli for network namespaces";
        ASSERT_TRUE(started) << "the namespaces or the tracker did not start";
    }

    // Stops a child of the test and forgets it, so its id is never signalled
    // again.
    static void Stop(int pid)
    {
        platform::StopChildProcess(pid);
        pids.erase(std::remove(pids.begin(), pids.end(), pid), pids.end());
    }

    // An announce of the test's own from qlget's side; the tracker's answer
    // as it came. A stopped event takes the probe off the tracker's list.
    static std::string Announce(const std::string &extra)
    {
        std::string answer;
        platform::RunProgram({kIpProgram, "netns", "exec", qlgetSide, "/usr/bin/curl", "-s", "-m", "2",
                              "http://198.18.0.1:" + std::to_string(kTrackerPort) +
                                  "/announce?info_hash=" + infoHashPercent +
                                  "&peer_id=-PR0001-probeprobepr&port=1&uploaded=0&downloaded=0&left=1&compact=1" +
                                  extra},
                             &answer);
        return answer;
    }

    // transmission in its namespace, bound to 198.18.0.2, plaintext, with
    // nothing but the tracker to find peers; done runs when it completes.
    static int StartTransmission(const std::string &name, const fs::path &downloads, const std::string &done)
    {
        fs::path config = scratch->path / (name + "-config");
        fs::create_directories(config);
        WriteAll(config / "settings.json",
                 "{\"bind-address-ipv4\": \"198.18.0.2\", \"peer-port\": " + std::to_string(kTransmissionPort) +
                     ", \"peer-port-random-on-start\": false, \"dht-enabled\": false, \"lpd-enabled\": false,"
                     " \"pex-enabled\": false, \"utp-enabled\": false, \"port-forwarding-enabled\": false,"
                     " \"rpc-enabled\": false, \"blocklist-enabled\": false, \"ratio-limit-enabled\": false,"
                     " \"encryption\": 0}\n");
        std::vector<std::string> argv{kTransmission, "-g", config.string(), "-w", downloads.string()};
        if (!done.empty())
            argv.insert(argv.end(), {"-f", done});
        argv.push_back(torrent.string());
        int pid = StartInNamespace(transmissionSide, scratch->path / (name + ".log"), argv);
        pids.push_back(pid);
        return pid;
    }

    static inline bool started = false;
    static inline TScratch *scratch = nullptr;
    static inline std::string qlgetSide;
    static inline std::string transmissionSide;
    static inline std::string content;
    static inline fs::path torrent;
    static inline std::string infoHashPercent;
    static inline std::vector<int> pids;
    static inline int seedingQlget = -1;
};

} // namespace

TEST_F(BtTransmissionNetnsTest, QlgetFetchesFromTransmissionAndThenServes)
{
    int seeder = StartTransmission("transmission-seed", scratch->path / "seed", "");
    bool listed = false;
    for (uint32_t waited = 0; waited < 30000 && !listed; waited += 200) {
        listed = Announce("").find(kTransmissionEntry) != std::string::npos;
        if (!listed)
            platform::SleepMs(200);
    }
    Announce("&event=stopped");
    ASSERT_TRUE(listed) << ReadAll(scratch->path / "transmission-seed.log");

    fs::path out = scratch->path / "qlget" / "data.bin";
    fs::create_directories(out.parent_path());
    fs::path log = scratch->path / "qlget.log";
    uint32_t started = platform::TickCount();
    seedingQlget = StartInNamespace(qlgetSide, log,
                                    {QLGET_PROGRAM, "--torrent", torrent.string(), "--port",
                                     std::to_string(kQlgetPort), "--seed", "-o", out.string()},
                                    {"QUARROWLIGHT_DEBUG_LOG=1"});
    pids.push_back(seedingQlget);
    for (uint32_t waited = 0; waited < kWaitMs && ReadAll(log).find("serving peers") == std::string::npos;
         waited += 100)
        platform::SleepMs(100);
    ASSERT_NE(ReadAll(log).find("serving peers"), std::string::npos) << ReadAll(log);
    std::printf("[ qlget    ] from transmission in %.1f s\n", (platform::TickCount() - started) / 1000.0);
    EXPECT_EQ(Md5Hex(ReadAll(out)), Md5Hex(content));
    // From here on qlget is the only seeder.
    Stop(seeder);
}

TEST_F(BtTransmissionNetnsTest, TransmissionFetchesFromQlget)
{
    ASSERT_GT(seedingQlget, 0) << "needs the seeding qlget of the case before";
    fs::path downloads = scratch->path / "transmission-leech";
    fs::create_directories(downloads);
    fs::path finished = scratch->path / "transmission-finished";
    fs::path done = scratch->path / "done.sh";
    WriteAll(done, "#!/bin/sh\n: >\"" + finished.string() + "\"\n");
    chmod(done.c_str(), 0755);
    uint32_t started = platform::TickCount();
    int leecher = StartTransmission("transmission-leech", downloads, done.string());
    for (uint32_t waited = 0; waited < kWaitMs && !fs::exists(finished); waited += 100)
        platform::SleepMs(100);
    ASSERT_TRUE(fs::exists(finished)) << ReadAll(scratch->path / "transmission-leech.log");
    std::printf("[ transmission ] from qlget in %.1f s\n", (platform::TickCount() - started) / 1000.0);
    Stop(leecher);
    EXPECT_EQ(Md5Hex(ReadAll(downloads / "data.bin")), Md5Hex(content));
}
