// ctest-labels: netns
// Two engines (qlget) exchange a torrent over the UDP stream transport alone,
// through the two NAT routers of nat_homes.h: the public namespace forwards
// no TCP between the homes, so only the path the rendezvous server helps
// them punch joins them. The seeder in home C fetches the file from a server
// of its own; the leecher in home A has no server and learns of the seeder
// from opentracker alone, as a compact entry without a peer id, so its
// first attempt names the seeder by the address form and the rendezvous
// server answers with the engine found there. Everything runs in namespaces
// named after this test's pid, removed at the end.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include "engine/storage/torrent.h"
#include "platform/child_process.h"
#include "platform/run_program.h"
#include "platform/tick.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/nat_homes.h"
#include "tests/integration/network_namespace.h"
#include "tests/integration/qlget_program.h"

namespace {

// 11 pieces of 256 KiB, the last one short.
constexpr size_t kFileSize = 10 * 262144 + 3333;
constexpr uint32_t kWaitMs = 150000;
constexpr int kSeederPort = 46881;
constexpr int kLeecherPort = 46882;
constexpr int kHttpPort = 18080;
const std::string kTrackerPort = "6969";
const std::string kRendezvousPort = "4082";
const std::string kOpentracker = "/usr/bin/opentracker";
const std::string kCurl = "/usr/bin/curl";

class BtOverUdpNetnsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!NatToolsAvailable() || !fs::exists(kOpentracker) || !fs::exists(kCurl))
            GTEST_SKIP() << "needs root, iproute2, iptables, nftables, opentracker and curl";
        ASSERT_NO_FATAL_FAILURE(BuildNatHomes(spaces, kNat2PortRange, homes));
        // No TCP between the homes: a connection between them can only be
        // the punched UDP path, whose bytes the second rule counts.
        ASSERT_TRUE(spaces.Run(homes.pub, {kIptablesProgram, "-A", "FORWARD", "-p", "tcp", "-j", "DROP"}));
        ASSERT_TRUE(spaces.Run(homes.pub, {kIptablesProgram, "-A", "FORWARD", "-p", "udp", "-j", "ACCEPT"}));

        // opentracker drops to nobody: its list and folder must be readable.
        chmod(scratch.path.c_str(), 0755);
        fs::create_directories(scratch.path / "www");
        content = PatternBytes(kFileSize, 3301);
        WriteAll(scratch.path / "www" / "data.bin", content);
        torrent = scratch.path / "data.torrent";
        std::string made;
        ASSERT_EQ(platform::RunProgram({"/usr/bin/mktorrent", "-l", "18", "-a", TrackerUrl(), "-o", torrent.string(),
                                        (scratch.path / "www" / "data.bin").string()},
                                       &made),
                  0)
            << made;
        StartTracker();
        StartRendezvous();
    }
    void TearDown() override
    {
        for (int pid : pids)
            platform::StopChildProcess(pid);
    }

    static std::string TrackerUrl() { return "http://" + kPublicServerAddress + ":" + kTrackerPort + "/announce"; }
    std::string Rendezvous() const { return kPublicServerAddress + ":" + kRendezvousPort; }

    void StartTracker()
    {
        auto metainfo = TRef<TTorrent>::Adopt(new TTorrent("file://" + torrent.string(), nullptr));
        ASSERT_TRUE(metainfo->LoadMetainfo());
        const fs::path list = scratch.path / "whitelist";
        WriteAll(list, metainfo->InfoHashHex() + "\n");
        chmod(list.c_str(), 0644);
        pids.push_back(StartInNamespace(homes.pub, scratch.path / "opentracker.log",
                                        {kOpentracker, "-i", kPublicServerAddress, "-p", kTrackerPort, "-P",
                                         kTrackerPort, "-w", list.string()}));
        // The list is loaded a moment after the start: a probe announce is
        // answered with an interval once the hash is taken. The probe then
        // leaves, so the engines hear only of each other.
        const std::string probe = TrackerUrl() + "?info_hash=" + metainfo->InfoHashPercent() +
                                  "&peer_id=-PR0001-probeprobepr&port=1&uploaded=0&downloaded=0&left=1&compact=1";
        bool taken = false;
        for (int i = 0; i < 100 && !taken; ++i) {
            std::string answer;
            platform::RunProgram({kIpProgram, "netns", "exec", homes.pub, kCurl, "-s", "-m", "2", probe}, &answer);
            taken = answer.find("interval") != std::string::npos && answer.find("failure") == std::string::npos;
            if (!taken)
                platform::SleepMs(100);
        }
        ASSERT_TRUE(taken) << "opentracker never took the hash";
        std::string ignored;
        platform::RunProgram({kIpProgram, "netns", "exec", homes.pub, kCurl, "-s", "-m", "2", probe + "&event=stopped"},
                             &ignored);
    }
    void StartRendezvous()
    {
        const fs::path log = scratch.path / "rendezvous.log";
        pids.push_back(spaces.Start(homes.pub, "off", log,
                                    {QLRENDEZVOUS_PROGRAM, "--listen", Rendezvous()}));
        ASSERT_TRUE(WaitForText(log, "listening on", 20000)) << ReadAll(log);
    }
    // The seeder in home C: fetches the file from its own server, then
    // serves it.
    void StartSeeder()
    {
        pids.push_back(StartInNamespace(homes.c, scratch.path / "http.log",
                                        {"/usr/bin/python3", "-m", "http.server", std::to_string(kHttpPort), "--bind",
                                         "127.0.0.1", "-d", (scratch.path / "www").string()}));
        fs::create_directories(scratch.path / "c");
        seederLog = scratch.path / "c.log";
        pids.push_back(spaces.Start(homes.c, Rendezvous(), seederLog,
                                    {QLGET_PROGRAM, "--torrent", torrent.string(), "--port",
                                     std::to_string(kSeederPort), "--seed", "-o",
                                     (scratch.path / "c" / "data.bin").string(),
                                     "http://127.0.0.1:" + std::to_string(kHttpPort) + "/data.bin"},
                                    {"QUARROWLIGHT_DEBUG_LOG=1"}));
        ASSERT_TRUE(WaitForText(seederLog, "serving peers", kWaitMs)) << ReadAll(seederLog);
    }
    // The leecher in home A, from peers alone: its exit status.
    int RunLeecher()
    {
        fs::create_directories(scratch.path / "a");
        leecherLog = scratch.path / "a.log";
        int pid = spaces.Start(homes.a, Rendezvous(), leecherLog,
                               {QLGET_PROGRAM, "--torrent", torrent.string(), "--port", std::to_string(kLeecherPort),
                                "-o", (scratch.path / "a" / "data.bin").string()},
                               {"QUARROWLIGHT_DEBUG_LOG=1"});
        return WaitExitWithin(pid, kWaitMs);
    }
    // Bytes of UDP the public namespace forwarded between the homes.
    uint64_t UdpBytesBetweenHomes()
    {
        std::string table;
        platform::RunProgram({kIpProgram, "netns", "exec", homes.pub, kIptablesProgram, "-n", "-v", "-x", "-L",
                              "FORWARD"},
                             &table);
        std::istringstream lines(table);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string packets, bytes, target, protocol;
            // The protocol shows as its number (17) or its name.
            if (fields >> packets >> bytes >> target >> protocol && target == "ACCEPT" &&
                (protocol == "17" || protocol == "udp"))
                return std::stoull(bytes);
        }
        return 0;
    }
    static bool WaitForText(const fs::path &log, const std::string &text, uint32_t limitMs)
    {
        for (uint32_t waited = 0; waited < limitMs; waited += 100) {
            if (ReadAll(log).find(text) != std::string::npos)
                return true;
            platform::SleepMs(100);
        }
        return false;
    }

    TScratch scratch;
    TNamespaces spaces;
    TNatHomes homes;
    std::vector<int> pids;
    std::string content;
    fs::path torrent;
    fs::path seederLog;
    fs::path leecherLog;
};

} // namespace

TEST_F(BtOverUdpNetnsTest, EnginesBehindTwoNatsExchangeATorrentOverTheUdpTransportAlone)
{
    ASSERT_NO_FATAL_FAILURE(StartSeeder());
    const uint32_t start = platform::TickCount();
    ASSERT_EQ(RunLeecher(), 0) << ReadAll(leecherLog) << "\n--- seeder ---\n" << ReadAll(seederLog);
    EXPECT_EQ(Md5Hex(ReadAll(scratch.path / "a" / "data.bin")), Md5Hex(content));
    const std::string leecher = ReadAll(leecherLog);
    EXPECT_NE(leecher.find("servers 0 B, peers"), std::string::npos) << leecher;
    EXPECT_EQ(leecher.find("peers 0 B)"), std::string::npos) << "the bytes came from the seeder: " << leecher;
    EXPECT_GT(UdpBytesBetweenHomes(), kFileSize) << "the file crossed between the homes over UDP";
    // The first attempt went over the transport: no TCP attempt had to time
    // out (22 s) before it.
    EXPECT_LT(platform::TickCount() - start, 21000u) << leecher;
}
