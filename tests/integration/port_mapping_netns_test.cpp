// ctest-labels: netns
// quarrowlight-cli maps its listen port on a real UPnP gateway (miniupnpd
// over nftables) in network namespaces of the test's own, named after its
// pid and removed at the end: client (10.77.0.2, with its nginx on its own
// loopback) - gateway (10.77.0.1, WAN 11.22.33.1) - WAN (11.22.33.2). The WAN
// address exists only inside these namespaces, which have no way out; the
// host namespace gets nothing, and no SSDP search ever leaves from it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <fstream>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/child_wait.h"
#include "platform/tick.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"
#include "tests/integration/child_exit.h"
#include "tests/integration/network_namespace.h"
#include "tests/integration/stamped_program.h"

namespace {

constexpr int kGatewayHttpPort = 5555;
constexpr uint32_t kWaitMs = 90000;
constexpr char kDescription[] = "Quarrowlight uPnP for P2SP upload/download";
constexpr char kGatewayRules[] = R"(table inet filter {
  chain miniupnpd {
  }
  chain forward {
    type filter hook forward priority 0; policy accept;
    jump miniupnpd
  }
}
table inet nat {
  chain prerouting_miniupnpd {
  }
  chain postrouting_miniupnpd {
  }
  chain prerouting {
    type nat hook prerouting priority -100; policy accept;
    jump prerouting_miniupnpd
  }
  chain postrouting {
    type nat hook postrouting priority 100; policy accept;
    jump postrouting_miniupnpd
  }
}
)";
// Hears every SSDP datagram that reaches the gateway's LAN side.
constexpr char kSsdpListener[] = R"(import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("239.255.255.250", 1900))
s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, socket.inet_aton("239.255.255.250") + socket.inet_aton("10.77.0.1"))
out = open(sys.argv[1], "a")
while True:
    data, sender = s.recvfrom(4096)
    out.write(sender[0] + " " + data.split(b"\r\n")[0].decode("latin-1") + "\n")
    out.flush()
)";

class TUpnpNetwork {
public:
    TUpnpNetwork()
    {
        const std::string id = std::to_string(getpid());
        client = "qlUc" + id;
        gateway = "qlUg" + id;
        wan = "qlUw" + id;
    }
    ~TUpnpNetwork()
    {
        for (const std::string &name : {client, gateway, wan})
            RunQuietly({kIpProgram, "netns", "delete", name});
    }
    bool Build()
    {
        for (const std::string &name : {client, gateway, wan}) {
            if (!RunQuietly({kIpProgram, "netns", "add", name}))
                return false;
        }
        // Each veth is made inside the namespaces, never in the host's.
        return In(gateway, "ip link add ul type veth peer name uc netns " + client +
                               " && ip link add uw type veth peer name ux netns " + wan) &&
               In(client, "ip link set lo up && ip addr add 10.77.0.2/24 dev uc && ip link set uc up && "
                          "ip route add default via 10.77.0.1") &&
               In(gateway, "ip link set lo up && ip addr add 10.77.0.1/24 dev ul && ip link set ul up && "
                           "ip addr add 11.22.33.1/24 dev uw && ip link set uw up && "
                           "echo 1 > /proc/sys/net/ipv4/ip_forward") &&
               In(wan, "ip link set lo up && ip addr add 11.22.33.2/24 dev ux && ip link set ux up");
    }
    static bool Exists(const std::string &ns) { return fs::exists("/run/netns/" + ns); }
    // A shell script inside ns; nothing runs when ns is not there.
    static bool In(const std::string &ns, const std::string &script, std::string *output = nullptr)
    {
        return Exists(ns) && RunInNamespace(ns, script, output);
    }
    static int Start(const std::string &ns, const std::vector<std::string> &argv)
    {
        if (!Exists(ns))
            return -1;
        std::vector<std::string> inside{kIpProgram, "netns", "exec", ns};
        inside.insert(inside.end(), argv.begin(), argv.end());
        return platform::StartChildProcess(inside);
    }

    std::string client, gateway, wan;
};

class PortMappingNetnsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!NamespacesAvailable() || !fs::exists("/usr/sbin/miniupnpd") || !fs::exists("/usr/sbin/nft"))
            GTEST_SKIP() << "the gateway needs root, miniupnpd and nft";
        ASSERT_TRUE(network.Build()) << "could not build the test's namespaces";
        for (const char *folder : {"www", "data", "run"})
            fs::create_directories(scratch.path / folder);
        for (int i = 0; i < kStampedFiles; ++i) {
            names[i] = i == 0 ? "setup_demo.sh" : "data.7z.00" + std::to_string(i);
            WriteAll(scratch.path / "www" / names[i], PatternBytes(1024 * 1024 + 977 * i, 60 + i));
        }
        TNginxOptions options;
        options.netns = network.client;
        // Paced, so that a run lasts while the mapping is looked at.
        options.serverDirectives = "    limit_rate 100k;";
        ASSERT_TRUE(nginx.Start(scratch.path / "www", options));
    }
    void TearDown() override
    {
        for (int pid : pids)
            platform::StopChildProcess(pid);
    }

    std::string DescriptionUrl() const
    {
        return "http://10.77.0.1:" + std::to_string(kGatewayHttpPort) + "/rootDesc.xml";
    }

    void StartGateway()
    {
        const fs::path conf = scratch.path / "miniupnpd.conf";
        WriteAll(scratch.path / "rules.nft", kGatewayRules);
        ASSERT_TRUE(TUpnpNetwork::In(network.gateway, "nft -f " + (scratch.path / "rules.nft").string()));
        std::ofstream(conf) << "ext_ifname=uw\nlistening_ip=ul\nhttp_port=" << kGatewayHttpPort
                            << "\nenable_upnp=yes\nenable_natpmp=no\nsecure_mode=yes\n"
                               "uuid=3d3cec3a-8cf0-11e0-98ee-001a6bd2d07b\nfriendly_name=Quarrowlight test gateway\n"
                               "upnp_table_name=filter\nupnp_nat_table_name=nat\n"
                               "allow 1024-65535 10.77.0.0/24 1024-65535\ndeny 0-65535 0.0.0.0/0 0-65535\n";
        gatewayLog = scratch.path / "miniupnpd.log";
        const std::string run = "exec /usr/sbin/miniupnpd -d -f " + conf.string() + " -P " +
                                (scratch.path / "miniupnpd.pid").string() + " >" + gatewayLog.string() + " 2>&1";
        const int pid = TUpnpNetwork::Start(network.gateway, {"/bin/sh", "-c", run});
        ASSERT_GT(pid, 0);
        pids.push_back(pid);
        const std::string probe = "exec 2>/dev/null 3<>/dev/tcp/10.77.0.1/" + std::to_string(kGatewayHttpPort);
        for (uint32_t waited = 0; waited < 10000; waited += 100) {
            if (TUpnpNetwork::Exists(network.client) &&
                RunQuietly({kIpProgram, "netns", "exec", network.client, "/bin/bash", "-c", probe}))
                return;
            platform::SleepMs(100);
        }
        FAIL() << "miniupnpd does not answer: " << ReadAll(gatewayLog);
    }

    void Stamp(bool portMapping)
    {
        StampProgram(scratch.path, nginx, names,
                     std::string("port_mapping = ") + (portMapping ? "on" : "off") + "\nlan_discovery = off\n", program);
    }

    // quarrowlight-cli in the client namespace; upnp is QUARROWLIGHT_UPNP
    // ("" leaves it unset). Its output goes to log.
    int StartProgram(const std::string &upnp)
    {
        log = scratch.path / ("cli" + std::to_string(++runs) + ".log");
        std::vector<std::string> argv{"/usr/bin/env", "-u", "QUARROWLIGHT_UPNP",
                                      "QUARROWLIGHT_DATA_HOME=" + (scratch.path / "data").string(),
                                      "XDG_RUNTIME_DIR=" + (scratch.path / "run").string(),
                                      "QUARROWLIGHT_FAKE_SHUTDOWN=1", "QUARROWLIGHT_DEBUG_LOG=1",
                                      "QUARROWLIGHT_LAN=off", "QUARROWLIGHT_RENDEZVOUS=off"};
        if (!upnp.empty())
            argv.push_back("QUARROWLIGHT_UPNP=" + upnp);
        argv.insert(argv.end(), {"/bin/sh", "-c", "exec \"$0\" --save-dir \"$1\" >\"$2\" 2>&1", program,
                                 (scratch.path / "save").string(), log.string()});
        return TUpnpNetwork::Start(network.client, argv);
    }
    bool WaitForLog(const std::string &text, uint32_t limitMs = kWaitMs) const
    {
        for (uint32_t waited = 0; waited < limitMs; waited += 100) {
            if (ReadAll(log).find(text) != std::string::npos)
                return true;
            platform::SleepMs(100);
        }
        return false;
    }
    // The gateway's table as upnpc lists it (asked at its description URL,
    // so the listing itself sends no search).
    std::string Mappings() const
    {
        std::string listed;
        TUpnpNetwork::In(network.client, "/usr/bin/upnpc -u " + DescriptionUrl() + " -l", &listed);
        return listed;
    }
    // The external port of our mapping, 0 when the gateway lists none.
    static int MappedPort(const std::string &listed)
    {
        const size_t line = listed.find(kDescription);
        if (line == std::string::npos)
            return 0;
        const size_t start = listed.rfind("TCP", line);
        return start == std::string::npos ? 0 : std::atoi(listed.c_str() + start + 3);
    }
    void ExpectMappedAndReachableThenGoneAtExit(int pid)
    {
        ASSERT_TRUE(WaitForLog("uPnP成功")) << ReadAll(log);
        const std::string listed = Mappings();
        const int port = MappedPort(listed);
        ASSERT_GE(port, 40000) << listed;
        EXPECT_LE(port, 50000);
        const std::string target = std::to_string(port) + "->10.77.0.2:" + std::to_string(port);
        EXPECT_NE(listed.find(target), std::string::npos) << "port, internal client: " << listed;
        // The WAN reaches the program's own listener through the forward
        // (the engine opens it when its tasks begin, maybe after the mapping).
        const std::string connect = "exec 2>/dev/null 3<>/dev/tcp/11.22.33.1/" + std::to_string(port);
        bool reached = false;
        for (int attempt = 0; attempt < 100 && !reached; ++attempt) {
            reached = TUpnpNetwork::In(network.wan, "exec /bin/bash -c '" + connect + "'");
            if (!reached)
                platform::SleepMs(100);
        }
        EXPECT_TRUE(reached) << "no connection from the WAN side";
        ASSERT_EQ(kill(pid, SIGINT), 0);
        EXPECT_EQ(WaitExitWithin(pid, 30000), 128 + SIGINT) << ReadAll(log);
        EXPECT_EQ(MappedPort(Mappings()), 0) << "the mapping is removed at exit";
    }

    TScratch scratch;
    TUpnpNetwork network;
    TNginxServer nginx;
    std::string names[kStampedFiles];
    std::string program;
    fs::path log;
    fs::path gatewayLog;
    int runs = 0;
    std::vector<int> pids;
};

} // namespace

TEST_F(PortMappingNetnsTest, TheStampedProgramFindsTheGatewayMapsItsPortAndRemovesItAtExit)
{
    ASSERT_NO_FATAL_FAILURE(StartGateway());
    ASSERT_NO_FATAL_FAILURE(Stamp(true));
    const int pid = StartProgram("");
    ASSERT_GT(pid, 0);
    ExpectMappedAndReachableThenGoneAtExit(pid);
    EXPECT_NE(ReadAll(log).find("NAT Device found : Name : <Quarrowlight test gateway>"), std::string::npos)
        << ReadAll(log);
    EXPECT_NE(ReadAll(gatewayLog).find("M-SEARCH from 10.77.0.2"), std::string::npos) << ReadAll(gatewayLog);
}

TEST_F(PortMappingNetnsTest, AGivenGatewayUrlMapsWithoutASearch)
{
    ASSERT_NO_FATAL_FAILURE(StartGateway());
    ASSERT_NO_FATAL_FAILURE(Stamp(false));
    const int pid = StartProgram(DescriptionUrl());
    ASSERT_GT(pid, 0);
    ExpectMappedAndReachableThenGoneAtExit(pid);
    EXPECT_EQ(ReadAll(gatewayLog).find("M-SEARCH"), std::string::npos) << ReadAll(gatewayLog);
}

TEST_F(PortMappingNetnsTest, WithoutAGatewayTheDownloadGoesOn)
{
    ASSERT_NO_FATAL_FAILURE(Stamp(true));
    const int pid = StartProgram("");
    ASSERT_GT(pid, 0);
    EXPECT_EQ(WaitExitWithin(pid, kWaitMs), 0) << ReadAll(log);
    EXPECT_NE(ReadAll(log).find("NAT device ^Not^ found.."), std::string::npos) << ReadAll(log);
    EXPECT_NE(ReadAll(log).find("uPnP失败，因为没有IGD设备信息"), std::string::npos) << ReadAll(log);
}

TEST_F(PortMappingNetnsTest, SwitchedOffOrUnstampedNoSearchIsSent)
{
    const fs::path heard = scratch.path / "ssdp.log";
    const int listener = TUpnpNetwork::Start(network.gateway, {"/usr/bin/python3", "-c", kSsdpListener, heard.string()});
    ASSERT_GT(listener, 0);
    pids.push_back(listener);
    // The listener hears a search when there is one: upnpc's own.
    for (int attempt = 0; attempt < 5 && ReadAll(heard).find("M-SEARCH") == std::string::npos; ++attempt)
        TUpnpNetwork::In(network.client, "/usr/bin/upnpc -l");
    ASSERT_NE(ReadAll(heard).find("M-SEARCH"), std::string::npos) << "the listener hears nothing at all";
    fs::resize_file(heard, 0);

    ASSERT_NO_FATAL_FAILURE(Stamp(true));
    int pid = StartProgram("off");
    EXPECT_EQ(WaitExitWithin(pid, kWaitMs), 0) << ReadAll(log);
    EXPECT_NE(ReadAll(log).find("port mapping is off"), std::string::npos) << ReadAll(log);

    fs::remove_all(scratch.path / "save");
    ASSERT_NO_FATAL_FAILURE(Stamp(false));
    pid = StartProgram("");
    EXPECT_EQ(WaitExitWithin(pid, kWaitMs), 0) << ReadAll(log);
    EXPECT_NE(ReadAll(log).find("port mapping is off"), std::string::npos) << ReadAll(log);
    EXPECT_EQ(ReadAll(heard), "") << "a search was sent";
}
