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

#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/tick.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/nat_homes.h"
#include "tests/integration/network_namespace.h"
#include "tests/integration/qlget_program.h"

namespace {

constexpr uint32_t kTransferLimitMs = 120000;
constexpr const char *kMiB16 = "16777216";
constexpr const char *kRendezvousPort = "4082";
constexpr const char *kServicePort = "5000";
constexpr const char *kClientPort = "5001";

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
// A reaches C through the NAT routers of nat_homes.h; the rendezvous server
// runs in the public namespace.
class NatNetnsTest : public UdpStreamNetnsTest {
protected:
    const std::string rendezvous = kPublicServerAddress + ":" + kRendezvousPort;

    void Build(const std::string &nat2Rule)
    {
        if (!NatToolsAvailable())
            GTEST_SKIP() << "iptables and nftables are needed";
        ASSERT_NO_FATAL_FAILURE(BuildNatHomes(spaces, nat2Rule, homes));
        ASSERT_NO_FATAL_FAILURE(StartRendezvous(homes.pub, rendezvous));
        identity = StartListener(homes.c, rendezvous, kHomeCAddress, "home_c");
        ASSERT_FALSE(identity.empty()) << ReadAll(listenLog);
        EXPECT_NE(ReadAll(listenLog).find("public " + kRouter2Outside + ":"), std::string::npos) << ReadAll(listenLog);
    }
    int ConnectFromA(const std::string &tag, const fs::path &log)
    {
        return Connect(homes.a, rendezvous, kHomeAAddress, tag + "@" + kRouter2Outside + ":" + kServicePort, log);
    }

    TNatHomes homes;
    std::string identity;
};
} // namespace

TEST_F(NatNetnsTest, ThroughBothNatsByIdentity)
{
    ASSERT_NO_FATAL_FAILURE(Build(kNat2PortRange));
    const fs::path log = scratch.path / "home_a.log";
    EXPECT_EQ(ConnectFromA(identity, log), 0) << ReadAll(log) << ReadAll(listenLog);
    EXPECT_NE(ReadAll(log).find("public " + kRouter1Outside + ":"), std::string::npos) << ReadAll(log);
    EXPECT_EQ(WaitExitWithin(listener, kTransferLimitMs), 0) << ReadAll(listenLog);
}

TEST_F(NatNetnsTest, ThroughBothNatsByAddress)
{
    ASSERT_NO_FATAL_FAILURE(Build(kNat2PortRange));
    const fs::path log = scratch.path / "home_a.log";
    EXPECT_EQ(ConnectFromA("address", log), 0) << ReadAll(log) << ReadAll(listenLog);
    EXPECT_EQ(WaitExitWithin(listener, kTransferLimitMs), 0) << ReadAll(listenLog);
}

TEST_F(NatNetnsTest, ASymmetricNatLetsNoConnectionThrough)
{
    ASSERT_NO_FATAL_FAILURE(Build(kNat2Symmetric));
    const fs::path log = scratch.path / "home_a.log";
    const uint32_t start = platform::TickCount();
    EXPECT_EQ(ConnectFromA(identity, log), 1) << ReadAll(log);
    EXPECT_NE(ReadAll(log).find("connect failed: error 10060"), std::string::npos) << ReadAll(log);
    EXPECT_LT(platform::TickCount() - start, 45000u);
}
