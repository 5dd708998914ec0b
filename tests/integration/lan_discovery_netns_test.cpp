// ctest-labels: netns
// LAN discovery between two engines on a network of their own: two network
// namespaces joined by a bridge in a third, all named after this test's pid
// and removed at the end. Engine A holds the file (from a server inside its
// own namespace); engine B's only server is dead, so it can complete only
// from A, found by LAN discovery alone. Nothing here touches the host
// namespace, and no multicast leaves the test's namespaces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/child_wait.h"
#include "platform/run_program.h"
#include "platform/tick.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/network_namespace.h"
#include "tests/integration/qlget_program.h"

namespace {

constexpr size_t kFileSize = 3 * 262144 + 777;
constexpr uint32_t kWaitMs = 120000;
constexpr int kPeerPort = 46881;
constexpr int kHttpPort = 18080;
// Two hosts, 192.168.77.1 and .2, on a bridge; every name carries the pid.
class TLanNetwork {
public:
    TLanNetwork()
    {
        const std::string id = std::to_string(getpid());
        a = "qlA" + id;
        b = "qlB" + id;
        bridge = "qlBr" + id;
    }
    ~TLanNetwork()
    {
        for (const std::string &name : {a, b, bridge})
            RunQuietly({kIpProgram, "netns", "delete", name});
    }
    bool Build()
    {
        if (!RunQuietly({kIpProgram, "netns", "add", a}) || !RunQuietly({kIpProgram, "netns", "add", b}) ||
            !RunQuietly({kIpProgram, "netns", "add", bridge}))
            return false;
        return Link("va", a, "ba") && Link("vb", b, "bb") &&
               In(bridge, "ip link add br0 type bridge && ip link set br0 up && ip link set ba master br0 && "
                          "ip link set bb master br0 && ip link set ba up && ip link set bb up") &&
               In(a, "ip link set lo up && ip addr add 192.168.77.1/24 dev va && ip link set va up") &&
               In(b, "ip link set lo up && ip addr add 192.168.77.2/24 dev vb && ip link set vb up");
    }
    bool In(const std::string &ns, const std::string &script) { return RunInNamespace(ns, script); }
    // A veth from host's namespace to the bridge's.
    bool Link(const std::string &end, const std::string &host, const std::string &bridgeEnd)
    {
        return RunQuietly({kIpProgram, "link", "add", end, "netns", host, "type", "veth", "peer", "name", bridgeEnd, "netns",
                           bridge});
    }
    // argv run inside namespace ns with QUARROWLIGHT_LAN set, its output in log.
    int Start(const std::string &ns, const std::string &lan, const fs::path &log, const std::vector<std::string> &argv)
    {
        return StartInNamespace(ns, log, argv, {"QUARROWLIGHT_LAN=" + lan});
    }

    std::string a, b, bridge;
};

class LanDiscoveryNetnsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!NamespacesAvailable())
            GTEST_SKIP() << "network namespaces need root and iproute2";
        ASSERT_TRUE(network.Build()) << "could not build the test's namespaces";
        fs::create_directories(scratch.path / "www");
        content = PatternBytes(kFileSize, 41);
        WriteAll(scratch.path / "www" / "data.bin", content);
        torrent = scratch.path / "data.torrent";
        ASSERT_EQ(platform::RunProgram({"/usr/bin/mktorrent", "-l", "18", "-o", torrent.string(),
                                        (scratch.path / "www" / "data.bin").string()}),
                  0);
    }
    void TearDown() override
    {
        for (int pid : pids)
            platform::StopChildProcess(pid);
    }
    // Engine A: fetches the file from a server in its own namespace, then serves.
    void StartSeeder(const std::string &lan)
    {
        pids.push_back(platform::StartChildProcess({kIpProgram, "netns", "exec", network.a, "/usr/bin/python3", "-m",
                                                    "http.server", std::to_string(kHttpPort), "--bind", "127.0.0.1",
                                                    "-d", (scratch.path / "www").string()}));
        fs::create_directories(scratch.path / "a");
        seedLog = scratch.path / "a.log";
        pids.push_back(network.Start(network.a, lan, seedLog,
                                     {QLGET_PROGRAM, "--torrent", torrent.string(), "--port", std::to_string(kPeerPort),
                                      "--seed", "-o", (scratch.path / "a" / "data.bin").string(),
                                      "http://127.0.0.1:" + std::to_string(kHttpPort) + "/data.bin"}));
        for (uint32_t waited = 0; waited < kWaitMs && ReadAll(seedLog).find("serving peers") == std::string::npos;
             waited += 100)
            platform::SleepMs(100);
        ASSERT_NE(ReadAll(seedLog).find("serving peers"), std::string::npos) << ReadAll(seedLog);
    }
    // Engine B: its only server is dead.
    int RunLeecher(const std::string &lan, uint32_t limitMs)
    {
        fs::create_directories(scratch.path / "b");
        leechLog = scratch.path / "b.log";
        int pid = network.Start(network.b, lan, leechLog,
                                {QLGET_PROGRAM, "--torrent", torrent.string(), "--port", std::to_string(kPeerPort),
                                 "-o", (scratch.path / "b" / "data.bin").string(), "http://127.0.0.1:1/data.bin"});
        return WaitExitWithin(pid, limitMs);
    }

    TScratch scratch;
    TLanNetwork network;
    std::string content;
    fs::path torrent;
    fs::path seedLog;
    fs::path leechLog;
    std::vector<int> pids;
};

} // namespace

TEST_F(LanDiscoveryNetnsTest, AnEngineWhoseServerIsDeadCompletesFromAPeerFoundOnTheLan)
{
    ASSERT_NO_FATAL_FAILURE(StartSeeder("192.168.77.1"));
    ASSERT_EQ(RunLeecher("192.168.77.2", kWaitMs), 0) << ReadAll(leechLog);
    EXPECT_EQ(Md5Hex(ReadAll(scratch.path / "b" / "data.bin")), Md5Hex(content));
    EXPECT_EQ(ReadAll(leechLog).find("peers 0 B)"), std::string::npos) << "the bytes came from the peer: "
                                                                          << ReadAll(leechLog);
}

TEST_F(LanDiscoveryNetnsTest, SwitchedOffNothingIsFound)
{
    ASSERT_NO_FATAL_FAILURE(StartSeeder("off"));
    // A neither announces nor answers: B, with discovery on and its server
    // dead, finds no one within three exchange periods and more.
    EXPECT_NE(RunLeecher("192.168.77.2", 30000), 0) << ReadAll(leechLog);
    EXPECT_FALSE(fs::exists(scratch.path / "b" / "data.bin"));
}
