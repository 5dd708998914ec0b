#pragma once
// Two homes behind NAT routers and a public network between them, made of
// network namespaces named after the test's pid and removed when it ends:
//  - home A (10.1.0.2) behind router R1, home C (10.2.0.2) behind R2;
//  - a public namespace P (198.51.100.1 and .5) that routes between the
//    routers' outside addresses 198.51.100.2 and .6 and holds an address of
//    its own, 203.0.113.1, for its servers, so that they answer both
//    routers from the address those sent to.
// R1 is iptables MASQUERADE; R2 masquerades UDP by the nftables rule the
// test gives (to ports 40000-40999, or random: a symmetric NAT) and TCP
// plainly. Both drop unsolicited UDP to themselves, as home routers do, so
// that hole punching fails only for the right reasons.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/integration/network_namespace.h"

inline const std::string kIptablesProgram = "/usr/sbin/iptables";
inline const std::string kNftProgram = "/usr/sbin/nft";

// Where the public namespace's servers listen.
inline const std::string kPublicServerAddress = "203.0.113.1";
inline const std::string kHomeAAddress = "10.1.0.2";
inline const std::string kHomeCAddress = "10.2.0.2";
// The routers' outside addresses, as servers in P see the homes.
inline const std::string kRouter1Outside = "198.51.100.2";
inline const std::string kRouter2Outside = "198.51.100.6";

// An endpoint-independent mapping of UDP (holes can be punched) and a
// symmetric one (they cannot).
inline const std::string kNat2PortRange = "masquerade to :40000-40999";
inline const std::string kNat2Symmetric = "masquerade random";

inline bool NatToolsAvailable()
{
    return NamespacesAvailable() && std::filesystem::exists(kIptablesProgram) && std::filesystem::exists(kNftProgram);
}

// Namespaces named after the pid, each removed when the object goes.
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
    // Runs argv inside ns to its end; true when it exited with 0.
    bool Run(const std::string &ns, std::vector<std::string> argv)
    {
        argv.insert(argv.begin(), {kIpProgram, "netns", "exec", ns});
        return RunQuietly(argv);
    }
    // A veth pair: end a (address a/prefix) in ns first, end b in ns second.
    bool Link(const std::string &first, const std::string &a, const std::string &addressA, const std::string &second,
              const std::string &b, const std::string &addressB)
    {
        return RunQuietly({kIpProgram, "link", "add", a, "netns", first, "type", "veth", "peer", "name", b, "netns",
                           second}) &&
               In(first, "ip addr add " + addressA + " dev " + a + " && ip link set " + a + " up") &&
               In(second, "ip addr add " + addressB + " dev " + b + " && ip link set " + b + " up");
    }
    // argv run inside ns with the rendezvous server named (and env), its
    // output in log.
    int Start(const std::string &ns, const std::string &rendezvous, const std::filesystem::path &log,
              const std::vector<std::string> &argv, std::vector<std::string> env = {})
    {
        env.push_back("QUARROWLIGHT_RENDEZVOUS=" + rendezvous);
        return StartInNamespace(ns, log, argv, env);
    }

private:
    std::vector<std::string> names;
};

struct TNatHomes {
    std::string pub, r1, r2, a, c;
};

// Builds the homes, the routers and the public namespace in spaces; a fatal
// failure when a step fails.
inline void BuildNatHomes(TNamespaces &spaces, const std::string &nat2Rule, TNatHomes &homes)
{
    homes.pub = spaces.Add("qlP");
    homes.r1 = spaces.Add("qlR1");
    homes.r2 = spaces.Add("qlR2");
    homes.a = spaces.Add("qlHA");
    homes.c = spaces.Add("qlHC");
    ASSERT_FALSE(homes.c.empty());
    const std::string &pub = homes.pub, &r1 = homes.r1, &r2 = homes.r2, &a = homes.a, &c = homes.c;
    ASSERT_TRUE(spaces.Link(pub, "p1", "198.51.100.1/30", r1, "w1", kRouter1Outside + "/30"));
    ASSERT_TRUE(spaces.Link(pub, "p2", "198.51.100.5/30", r2, "w2", kRouter2Outside + "/30"));
    ASSERT_TRUE(spaces.Link(r1, "l1", "10.1.0.1/24", a, "ha", kHomeAAddress + "/24"));
    ASSERT_TRUE(spaces.Link(r2, "l2", "10.2.0.1/24", c, "hc", kHomeCAddress + "/24"));
    ASSERT_TRUE(spaces.In(pub, "sysctl -qw net.ipv4.ip_forward=1 && ip addr add " + kPublicServerAddress + "/32 dev lo"));
    ASSERT_TRUE(spaces.In(r1, "sysctl -qw net.ipv4.ip_forward=1 && ip route add default via 198.51.100.1"));
    ASSERT_TRUE(spaces.In(r2, "sysctl -qw net.ipv4.ip_forward=1 && ip route add default via 198.51.100.5"));
    ASSERT_TRUE(spaces.In(a, "ip route add default via 10.1.0.1"));
    ASSERT_TRUE(spaces.In(c, "ip route add default via 10.2.0.1"));
    ASSERT_TRUE(spaces.Run(r1, {kIptablesProgram, "-t", "nat", "-A", "POSTROUTING", "-o", "w1", "-j", "MASQUERADE"}));
    ASSERT_TRUE(spaces.Run(r1, {kIptablesProgram, "-A", "INPUT", "-i", "w1", "-p", "udp", "-j", "DROP"}));
    ASSERT_TRUE(spaces.Run(r2, {kNftProgram, "add table ip nat; "
                                             "add chain ip nat postrouting { type nat hook postrouting priority 100 ; }; "
                                             "add rule ip nat postrouting oifname w2 meta l4proto udp " + nat2Rule + "; "
                                             "add rule ip nat postrouting oifname w2 meta l4proto tcp masquerade; "
                                             "add table ip filter; "
                                             "add chain ip filter input { type filter hook input priority 0 ; }; "
                                             "add rule ip filter input iifname w2 meta l4proto udp drop"}));
}
