// ctest-labels: netns
// LAN discovery between two engines on a network of their own: two network
// namespaces joined by a bridge in a third, all named after this test's pid
// and removed at the end. Engine A holds the file (from a server inside its
// own namespace); engine B's only server is dead, so it can complete only
// from A, found by LAN discovery alone. A plain socket joined to the group
// in B's namespace hears what reaches it there. Nothing here touches the
// host namespace, and no multicast leaves the test's namespaces.
#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>
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
constexpr char kHostA[] = "192.168.77.1";
constexpr char kHostB[] = "192.168.77.2";

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
    // argv run inside namespace ns with QUARROWLIGHT_LAN set to lan (unset
    // when empty), its output in log.
    int Start(const std::string &ns, const std::string &lan, const fs::path &log, const std::vector<std::string> &argv)
    {
        std::vector<std::string> env{"-u", "QUARROWLIGHT_LAN"};
        if (!lan.empty())
            env = {"QUARROWLIGHT_LAN=" + lan};
        return StartInNamespace(ns, log, argv, env);
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
    // A server in A's namespace for the seeders.
    void StartServer()
    {
        pids.push_back(platform::StartChildProcess({kIpProgram, "netns", "exec", network.a, "/usr/bin/python3", "-m",
                                                    "http.server", std::to_string(kHttpPort), "--bind", "127.0.0.1",
                                                    "-d", (scratch.path / "www").string()}));
    }
    // An engine in A's namespace: fetches the file from the server, then
    // serves it on port; name keeps its output and log apart.
    void StartSeeder(const std::string &lan, const std::string &name = "a", int port = kPeerPort)
    {
        fs::create_directories(scratch.path / name);
        seedLog = scratch.path / (name + ".log");
        pids.push_back(network.Start(network.a, lan, seedLog,
                                     {QLGET_PROGRAM, "--torrent", torrent.string(), "--port", std::to_string(port),
                                      "--seed", "-o", (scratch.path / name / "data.bin").string(),
                                      "http://127.0.0.1:" + std::to_string(kHttpPort) + "/data.bin"}));
        for (uint32_t waited = 0; waited < kWaitMs && ReadAll(seedLog).find("serving peers") == std::string::npos;
             waited += 100)
            platform::SleepMs(100);
        ASSERT_NE(ReadAll(seedLog).find("serving peers"), std::string::npos) << ReadAll(seedLog);
    }
    // A socket joined to the group on B's interface; one line per datagram
    // heard, its source address first.
    void StartListener()
    {
        heard = scratch.path / "heard.txt";
        const std::string script = "import socket, sys\n"
                                   "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
                                   "s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
                                   "s.bind(('233.65.31.78', 31576))\n"
                                   "s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,\n"
                                   "             socket.inet_aton('233.65.31.78') + socket.inet_aton(sys.argv[2]))\n"
                                   "out = open(sys.argv[1], 'w', buffering=1)\n"
                                   "out.write('ready\\n')\n"
                                   "while True:\n"
                                   "    data, source = s.recvfrom(2048)\n"
                                   "    out.write('%s %d\\n' % (source[0], len(data)))\n";
        pids.push_back(platform::StartChildProcess(
            {kIpProgram, "netns", "exec", network.b, "/usr/bin/python3", "-c", script, heard.string(), kHostB}));
        for (uint32_t waited = 0; waited < 10000 && ReadAll(heard).find("ready") == std::string::npos; waited += 100)
            platform::SleepMs(100);
        ASSERT_NE(ReadAll(heard).find("ready"), std::string::npos) << "the listener did not join the group";
    }
    // Datagrams the listener heard from host.
    int HeardFrom(const std::string &host)
    {
        std::istringstream lines(ReadAll(heard));
        int count = 0;
        for (std::string line; std::getline(lines, line);)
            count += line.rfind(host + " ", 0) == 0 ? 1 : 0;
        return count;
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
    fs::path heard;
    std::vector<int> pids;
};

} // namespace

TEST_F(LanDiscoveryNetnsTest, AnEngineWhoseServerIsDeadCompletesFromAPeerFoundOnTheLan)
{
    ASSERT_NO_FATAL_FAILURE(StartListener());
    StartServer();
    ASSERT_NO_FATAL_FAILURE(StartSeeder(kHostA));
    ASSERT_EQ(RunLeecher(kHostB, kWaitMs), 0) << ReadAll(leechLog);
    EXPECT_EQ(Md5Hex(ReadAll(scratch.path / "b" / "data.bin")), Md5Hex(content));
    EXPECT_EQ(ReadAll(leechLog).find("peers 0 B)"), std::string::npos) << "the bytes came from the peer: "
                                                                          << ReadAll(leechLog);
    // What the switched-off case relies on: the group carries A's datagrams
    // to the socket next door.
    EXPECT_GT(HeardFrom(kHostA), 0) << ReadAll(heard);
}

TEST_F(LanDiscoveryNetnsTest, SwitchedOffNothingIsFound)
{
    ASSERT_NO_FATAL_FAILURE(StartListener());
    StartServer();
    // Switched off, and left to a variable that is not set (qlget has no
    // stamped switch): neither engine announces nor answers.
    ASSERT_NO_FATAL_FAILURE(StartSeeder("off"));
    ASSERT_NO_FATAL_FAILURE(StartSeeder("", "unset", kPeerPort + 1));
    // B, with discovery on and its server dead, finds no one within three
    // exchange periods and more.
    EXPECT_NE(RunLeecher(kHostB, 30000), 0) << ReadAll(leechLog);
    EXPECT_FALSE(fs::exists(scratch.path / "b" / "data.bin"));
    EXPECT_EQ(HeardFrom(kHostA), 0) << "nothing from A reaches the group: " << ReadAll(heard);
    EXPECT_GT(HeardFrom(kHostB), 0) << "B's own announcements show the listener hears the group: " << ReadAll(heard);
}
