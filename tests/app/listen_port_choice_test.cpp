#include <gtest/gtest.h>

#include <set>

#include "app/listen_port_choice.h"
#include "app/upnp_switch.h"

namespace {

std::function<bool(int32_t)> Busy(const std::set<int32_t> &ports)
{
    return [ports](int32_t port) { return ports.count(port) != 0; };
}

} // namespace

TEST(ListenPortChoice, StartsPastTheRandomValueAndWrapsToTheRangeStart)
{
    EXPECT_EQ(FirstListenPortCandidate(0), 40001);
    EXPECT_EQ(FirstListenPortCandidate(9999), 50000);
    EXPECT_EQ(FirstListenPortCandidate(19999), 50000);
    EXPECT_EQ(FirstListenPortCandidate(411), 40413) << "40412 is never chosen";

    EXPECT_EQ(ChooseListenPort(50000, Busy({})), 50000);
    EXPECT_EQ(ChooseListenPort(50000, Busy({50000})), 40000);
    EXPECT_EQ(ChooseListenPort(44443, Busy({44443})), 44445) << "44444 is skipped";
}

TEST(ListenPortChoice, NoFreePortGivesNone)
{
    int asked = 0;
    EXPECT_EQ(ChooseListenPort(45000,
                               [&](int32_t port) {
                                   ++asked;
                                   EXPECT_FALSE(IsExcludedListenPort(port));
                                   EXPECT_TRUE(port >= kFirstListenPort && port <= kLastListenPort);
                                   return true;
                               }),
              0);
    EXPECT_EQ(asked, kLastListenPort - kFirstListenPort + 1 - 8) << "each port once, the eight excluded never";
    // The one free port is found from anywhere in the range.
    EXPECT_EQ(ChooseListenPort(45000, [](int32_t port) { return port != 44999; }), 44999);
}

TEST(UpnpSwitch, EnvironmentOverridesTheStampedSwitch)
{
    EXPECT_FALSE(ReadUpnpSwitch(nullptr, false).on);
    EXPECT_TRUE(ReadUpnpSwitch(nullptr, true).on);
    EXPECT_TRUE(ReadUpnpSwitch(nullptr, true).descriptionUrl.empty()) << "stamped on: search";
    EXPECT_FALSE(ReadUpnpSwitch("off", true).on);
    const TUpnpSwitch fixed = ReadUpnpSwitch("http://10.77.0.1:5000/rootDesc.xml", false);
    EXPECT_TRUE(fixed.on);
    EXPECT_EQ(fixed.descriptionUrl, "http://10.77.0.1:5000/rootDesc.xml");
    EXPECT_FALSE(ReadUpnpSwitch("yes", false).on) << "an unknown value leaves the stamp in force";
    EXPECT_TRUE(ReadUpnpSwitch("OFF", true).on);
}
