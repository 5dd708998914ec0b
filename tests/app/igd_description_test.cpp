#include <gtest/gtest.h>

#include "app/igd_description.h"

namespace {

std::string Description(const std::string &name)
{
    return "<?xml version=\"1.0\"?>\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><specVersion><major>1</major>"
           "</specVersion><device><deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>"
           "<friendlyName>" +
           name + "</friendlyName><deviceList><device><friendlyName>WANDevice</friendlyName></device></deviceList>"
                  "</device></root>";
}

} // namespace

TEST(ReadFriendlyName, TakesTheRootDevicesName)
{
    EXPECT_EQ(ReadFriendlyName(Description("Home Router")), "Home Router");
    EXPECT_EQ(ReadFriendlyName(Description("  Home   Router \n")), "Home Router");
    EXPECT_EQ(ReadFriendlyName(Description("R&amp;D gw")), "R&D gw");
    EXPECT_EQ(ReadFriendlyName(Description("")), "");
}

TEST(ReadFriendlyName, WhatIsNotARootDescriptionHasNoName)
{
    EXPECT_EQ(ReadFriendlyName(""), "");
    EXPECT_EQ(ReadFriendlyName("<root><device><friendlyName>x</friendlyName>"), "") << "cut short";
    EXPECT_EQ(ReadFriendlyName("<scpd><device><friendlyName>x</friendlyName></device></scpd>"), "");
    EXPECT_EQ(ReadFriendlyName("<root><friendlyName>x</friendlyName></root>"), "");
}

TEST(ReadFriendlyName, AHostileGatewaysNameIsCutAndCleanedBeforeAnyoneLogsIt)
{
    // Line breaks would forge log lines, escapes would drive a terminal.
    EXPECT_EQ(ReadFriendlyName(Description("Router&#13;&#10;uPnP成功&#27;[2J&#127;")), "Router uPnP成功[2J");

    std::string chinese;
    for (int i = 0; i < 100; ++i)
        chinese += "路";
    const std::string cut = ReadFriendlyName(Description("a" + chinese));
    EXPECT_LE(cut.size(), kMaxFriendlyNameBytes);
    EXPECT_EQ(cut.size(), 1 + 85 * 3u) << "a UTF-8 character is never split";
    EXPECT_EQ(cut.substr(0, 4), "a路");

    std::string padded = Description("Router");
    padded.insert(padded.find("<root"), std::string(kMaxIgdDescriptionBytes, ' '));
    EXPECT_EQ(ReadFriendlyName(padded), "") << "more than the description limit is not read";
}
