#pragma once
// Profile sources over the fixture trees of tests/fixtures/report.
#include <string>
#include <utility>
#include <vector>

#include "report/profile_sources.h"

inline std::string ProfileFixture(const std::string &name)
{
    return std::string(QL_SOURCE_DIR) + "/tests/fixtures/report/" + name;
}

inline platform::NetworkAdapterFact FixtureAdapter(const std::string &name, std::vector<uint8_t> mac,
                                                   const std::string &ipv4, bool loopback = false)
{
    platform::NetworkAdapterFact adapter;
    adapter.name = name;
    for (size_t i = 0; i < mac.size() && i < 6; ++i)
        adapter.hardware[i] = mac[i];
    adapter.firstIpv4 = ipv4;
    adapter.loopback = loopback;
    return adapter;
}

// A 64-bit Linux 6.1 under a Chinese locale with a loopback and two adapters.
inline TSystemSnapshot FixtureSnapshot()
{
    TSystemSnapshot snapshot;
    snapshot.kernel = {"6.1.0-18-amd64", "x86_64"};
    snapshot.adaptersReadable = true;
    snapshot.adapters = {
        FixtureAdapter("lo", {0, 0, 0, 0, 0, 0}, "127.0.0.1", true),
        FixtureAdapter("eth1", {0x52, 0x54, 0x00, 0x12, 0x34, 0x56}, "192.168.1.20"),
        FixtureAdapter("wlan0", {0xa0, 0xb1, 0xc2, 0xd3, 0xe4, 0xf5}, ""),
    };
    snapshot.localeName = "zh_CN.UTF-8";
    return snapshot;
}

inline TProfileSources FixtureSources(const std::string &root, TSystemSnapshot snapshot = FixtureSnapshot())
{
    TProfileSources sources;
    sources.root = root;
    sources.readSystem = [snapshot] { return snapshot; };
    return sources;
}
