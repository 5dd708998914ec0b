// ctest-labels: netns
// The UDP stream transport between real qlstream processes, introduced by a
// real qlrendezvous, inside network namespaces this test makes (named after
// its pid, removed at the end; nothing reaches the host namespace):
//  - one namespace with only loopback: 16 MiB each way by identity, a refused
//    service port, an identity the rendezvous server does not know;
//  - two homes behind NAT routers and a public namespace with the rendezvous
//    server: NAT1 is iptables MASQUERADE, NAT2 nftables masquerade to ports
//    40000-40999, both dropping unsolicited UDP to the router; A reaches C
//    by identity and by address, and not through a symmetric NAT2.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/tick.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/network_namespace.h"
#include "tests/integration/qlget_program.h"

namespace {

const std::string kIptables = "/usr/sbin/iptables";
const std::string kNft = "/usr/sbin/nft";
constexpr uint32_t kTransferLimitMs = 120000;
constexpr const char *kMiB16 = "16777216";
constexpr const char *kRendezvousPort = "4082";
constexpr const char *kServicePort = "5000";
constexpr const char *kClientPort = "5001";

// Namespaces named after the pid, each removed when the test ends.
class TNamespaces {
public:
    ~TNamespaces()
    {
        for (const std::string &name : names)
            RunQuietly({kIpProgram, "netns", "delete", name});
    }
    std::string Add(const std::string &stem)
    {
        std::string name = stem + std::to_string(getpid());
        if (!RunQuietly({kIpProgram, "netns", "add", name}))
            return std::string();
        names.push_back(name);
        In(name, "ip link set lo up");
        return name;
    }
    bool In(const std::string &ns, const std::string &script) { return RunInNamespace(ns, script); }
    // A veth pair: end a (address a/prefix) in ns first, end b in ns second.
    bool Link(const std::string &first, const std::string &a, const std::string &addressA, const std::string &second,
              const std::string &b, const std::string &addressB)
    {
        return RunQuietly({kIpProgram, "link", "add", a, "netns", first, "type", "veth", "peer", "name", b, "netns", second}) &&
               In(first, "ip addr add " + addressA + " dev " + a + " && ip link set " + a + " up") &&
               In(second, "ip addr add " + addressB + " dev " + b + " && ip link set " + b + " up");
    }
    // argv run inside ns with the rendezvous server named, output in log.
    int Start(const std::string &ns, const std::string &rendezvous, const fs::path &log,
              const std::vector<std::string> &argv)
    {
        return StartInNamespace(ns, log, argv, {"QUARROWLIGHT_RENDEZVOUS=" + rendezvous});
    }

private:
    std::vector<std::string> names;
};

class UdpStreamNetnsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!NamespacesAvailable())
            GTEST_SKIP() << "network namespaces need root and iproute2";
    }
    void TearDown() override
    {
        for (int pid : pids)
            platform::StopChildProcess(pid);
    }
    void StartRendezvous(const std::string &ns, const std::string &address)
    {
        const fs::path log = scratch.path / "rendezvous.log";
        pids.push_back(spaces.Start(ns, "off", log, {QLRENDEZVOUS_PROGRAM, "--listen", address}));
        ASSERT_TRUE(WaitFor(log, "listening on")) << ReadAll(log);
    }
    // A listening qlstream: its identity once it has its public address.
    std::string StartListener(const std::string &ns, const std::string &rendezvous, const std::string &local,
                              const std::string &name)
    {
        listenLog = scratch.path / (name + ".log");
        listener = spaces.Start(ns, rendezvous, listenLog,
                                {QLSTREAM_PROGRAM, "listen", "--port", kServicePort, "--local", local, "--bytes",
                                 kMiB16});
        pids.push_back(listener);
        if (!WaitFor(listenLog, "listening on"))
            return std::string();
        const std::string text = ReadAll(listenLog);
        const size_t at = text.find("identity ");
        return text.find("public 255.255.255.255") == std::string::npos && at != std::string::npos
                   ? text.substr(at + 9, 16)
                   : std::string();
    }
    // Runs a connecting qlstream to its end: its exit status, output in log.
    int Connect(const std::string &ns, const std::string &rendezvous, const std::string &local,
                const std::string &target, const fs::path &log)
    {
        int pid = spaces.Start(ns, rendezvous, log,
                               {QLSTREAM_PROGRAM, "connect", target, "--port", kClientPort, "--local", local,
                                "--bytes", kMiB16});
        return WaitExitWithin(pid, kTransferLimitMs);
    }
    bool WaitFor(const fs::path &log, const std::string &text)
    {
        for (uint32_t waited = 0; waited < 20000; waited += 50) {
            if (ReadAll(log).find(text) != std::string::npos)
                return true;
            platform::SleepMs(50);
        }
        return false;
    }

    TScratch scratch;
    TNamespaces spaces;
    std::vector<int> pids;
    int listener = -1;
    fs::path listenLog;
};

} // namespace

TEST_F(UdpStreamNetnsTest, LoopbackByIdentityRefusedPortAndUnknownIdentity)
{
    const std::string ns = spaces.Add("qlU");
    ASSERT_FALSE(ns.empty());
    const std::string rendezvous = std::string("127.0.0.1:") + kRendezvousPort;
    ASSERT_NO_FATAL_FAILURE(StartRendezvous(ns, rendezvous));
    const std::string identity = StartListener(ns, rendezvous, "127.0.0.1", "listener");
    ASSERT_FALSE(identity.empty()) << ReadAll(listenLog);

    const fs::path refusedLog = scratch.path / "refused.log";
    EXPECT_EQ(Connect(ns, rendezvous, "127.0.0.1", identity + "@127.0.0.1:5002", refusedLog), 1);
    EXPECT_NE(ReadAll(refusedLog).find("connect failed: error 10061"), std::string::npos) << ReadAll(refusedLog);

    const fs::path unknownLog = scratch.path / "unknown.log";
    const uint32_t start = platform::TickCount();
    EXPECT_EQ(Connect(ns, rendezvous, "127.0.0.1", "7777777777777777@127.0.0.1:5000", unknownLog), 1);
    EXPECT_NE(ReadAll(unknownLog).find("connect failed: error 10060"), std::string::npos) << ReadAll(unknownLog);
    EXPECT_LT(platform::TickCount() - start, 20000u) << "the rendezvous server's answer ends it, not the time-out";

    const fs::path clientLog = scratch.path / "client.log";
    EXPECT_EQ(Connect(ns, rendezvous, "127.0.0.1", identity + "@127.0.0.1:" + kServicePort, clientLog), 0)
        << ReadAll(clientLog);
    EXPECT_EQ(WaitExitWithin(listener, kTransferLimitMs), 0) << ReadAll(listenLog);
    EXPECT_NE(ReadAll(clientLog).find("verified 16777216 bytes each way"), std::string::npos);
}

namespace {
// Home A (10.1.0.2) behind router R1, home C (10.2.0.2) behind router R2,
// and a public namespace P (198.51.100.1 and .5) that routes between the
// routers' outside addresses 198.51.100.2 and .6 and runs the rendezvous
// server on an address of its own, 203.0.113.1, so that it answers both
// routers from the address they sent to.
class NatNetnsTest : public UdpStreamNetnsTest {
protected:
    const std::string rendezvous = std::string("203.0.113.1:") + kRendezvousPort;

    void Build(const std::string &nat2Rule)
    {
        if (!fs::exists(kIptables) || !fs::exists(kNft))
            GTEST_SKIP() << "iptables and nftables are needed";
        pub = spaces.Add("qlP");
        r1 = spaces.Add("qlR1");
        r2 = spaces.Add("qlR2");
        a = spaces.Add("qlHA");
        c = spaces.Add("qlHC");
        ASSERT_FALSE(c.empty());
        ASSERT_TRUE(spaces.Link(pub, "p1", "198.51.100.1/30", r1, "w1", "198.51.100.2/30"));
        ASSERT_TRUE(spaces.Link(pub, "p2", "198.51.100.5/30", r2, "w2", "198.51.100.6/30"));
        ASSERT_TRUE(spaces.Link(r1, "l1", "10.1.0.1/24", a, "ha", "10.1.0.2/24"));
        ASSERT_TRUE(spaces.Link(r2, "l2", "10.2.0.1/24", c, "hc", "10.2.0.2/24"));
        ASSERT_TRUE(spaces.In(pub, "sysctl -qw net.ipv4.ip_forward=1 && ip addr add 203.0.113.1/32 dev lo"));
        ASSERT_TRUE(spaces.In(r1, "sysctl -qw net.ipv4.ip_forward=1 && ip route add default via 198.51.100.1"));
        ASSERT_TRUE(spaces.In(r2, "sysctl -qw net.ipv4.ip_forward=1 && ip route add default via 198.51.100.5"));
        ASSERT_TRUE(spaces.In(a, "ip route add default via 10.1.0.1"));
        ASSERT_TRUE(spaces.In(c, "ip route add default via 10.2.0.1"));
        ASSERT_TRUE(RunQuietly({kIpProgram, "netns", "exec", r1, kIptables, "-t", "nat", "-A", "POSTROUTING", "-o", "w1",
                                "-j", "MASQUERADE"}));
        ASSERT_TRUE(RunQuietly({kIpProgram, "netns", "exec", r1, kIptables, "-A", "INPUT", "-i", "w1", "-p", "udp", "-j",
                                "DROP"}));
        ASSERT_TRUE(RunQuietly({kIpProgram, "netns", "exec", r2, kNft, "add table ip nat; "
                                "add chain ip nat postrouting { type nat hook postrouting priority 100 ; }; "
                                "add rule ip nat postrouting oifname w2 meta l4proto udp " + nat2Rule + "; "
                                "add table ip filter; "
                                "add chain ip filter input { type filter hook input priority 0 ; }; "
                                "add rule ip filter input iifname w2 meta l4proto udp drop"}));
        ASSERT_NO_FATAL_FAILURE(StartRendezvous(pub, rendezvous));
        identity = StartListener(c, rendezvous, "10.2.0.2", "home_c");
        ASSERT_FALSE(identity.empty()) << ReadAll(listenLog);
        EXPECT_NE(ReadAll(listenLog).find("public 198.51.100.6:"), std::string::npos) << ReadAll(listenLog);
    }
    int ConnectFromA(const std::string &tag, const fs::path &log)
    {
        return Connect(a, rendezvous, "10.1.0.2", tag + "@198.51.100.6:" + kServicePort, log);
    }

    std::string pub, r1, r2, a, c, identity;
};
} // namespace

TEST_F(NatNetnsTest, ThroughBothNatsByIdentity)
{
    ASSERT_NO_FATAL_FAILURE(Build("masquerade to :40000-40999"));
    const fs::path log = scratch.path / "home_a.log";
    EXPECT_EQ(ConnectFromA(identity, log), 0) << ReadAll(log) << ReadAll(listenLog);
    EXPECT_NE(ReadAll(log).find("public 198.51.100.2:"), std::string::npos) << ReadAll(log);
    EXPECT_EQ(WaitExitWithin(listener, kTransferLimitMs), 0) << ReadAll(listenLog);
}

TEST_F(NatNetnsTest, ThroughBothNatsByAddress)
{
    ASSERT_NO_FATAL_FAILURE(Build("masquerade to :40000-40999"));
    const fs::path log = scratch.path / "home_a.log";
    EXPECT_EQ(ConnectFromA("address", log), 0) << ReadAll(log) << ReadAll(listenLog);
    EXPECT_EQ(WaitExitWithin(listener, kTransferLimitMs), 0) << ReadAll(listenLog);
}

TEST_F(NatNetnsTest, ASymmetricNatLetsNoConnectionThrough)
{
    ASSERT_NO_FATAL_FAILURE(Build("masquerade random"));
    const fs::path log = scratch.path / "home_a.log";
    const uint32_t start = platform::TickCount();
    EXPECT_EQ(ConnectFromA(identity, log), 1) << ReadAll(log);
    EXPECT_NE(ReadAll(log).find("connect failed: error 10060"), std::string::npos) << ReadAll(log);
    EXPECT_LT(platform::TickCount() - start, 45000u);
}
