#include <gtest/gtest.h>

#include "engine/net/ipv4_address.h"
#include "engine/net/local_address.h"

namespace {
uint32_t Net(uint32_t hostOrder)
{
    return HostToNetwork32(hostOrder);
}
} // namespace

TEST(DottedParse, FillsBytesFromTheMostSignificantOne)
{
    EXPECT_EQ(DottedParse("10.1.2.3"), 0x0A010203u);
    EXPECT_EQ(DottedParse("10.0.0"), 0x0A000000u);
    EXPECT_EQ(DottedParse("10"), 0x0A000000u);
    EXPECT_EQ(DottedParse("192.168.001.010"), 0xC0A8010Au);
    EXPECT_EQ(DottedParse("0.0.0.1"), 1u);
}

TEST(DottedParse, RefusesZeroAndMalformedText)
{
    EXPECT_EQ(DottedParse("0.0.0.0"), kNoAddress);
    EXPECT_EQ(DottedParse("0"), kNoAddress);
    EXPECT_EQ(DottedParse(""), kNoAddress);
    EXPECT_EQ(DottedParse("1.2.3.4.5"), kNoAddress); // at most four parts
    EXPECT_EQ(DottedParse("256.1.1.1"), kNoAddress); // at most 255 each
    EXPECT_EQ(DottedParse("1.2.3.99999999999999999999"), kNoAddress);
    EXPECT_EQ(DottedParse("1..2"), kNoAddress);
    EXPECT_EQ(DottedParse("1.2."), kNoAddress);
    EXPECT_EQ(DottedParse(".1.2"), kNoAddress);
    EXPECT_EQ(DottedParse("1.2.3.4x"), kNoAddress);
    EXPECT_EQ(DottedParse("-1.2.3.4"), kNoAddress);
}

TEST(DottedText, PrintsNetworkOrderAddresses)
{
    EXPECT_EQ(DottedText(Net(0x7F000001)), "127.0.0.1");
    EXPECT_EQ(DottedText(Net(0xFFFFFFFF)), "255.255.255.255");
    EXPECT_EQ(DottedText(0), "0.0.0.0");
}

TEST(ChooseLocalAddress, PrefersAnAddressReachableFromOutside)
{
    const uint32_t lan = Net(0xC0A80105);    // 192.168.1.5
    const uint32_t other = Net(0x0A000003);  // 10.0.0.3
    const uint32_t outside = Net(0xCB007122); // 203.0.113.34
    EXPECT_EQ(ChooseLocalAddress({}, -1), kNoAddress);
    EXPECT_EQ(ChooseLocalAddress({lan, other}, -1), lan);
    EXPECT_EQ(ChooseLocalAddress({lan, outside}, -1), outside);
    EXPECT_EQ(ChooseLocalAddress({lan, outside}, 1), lan); // the count limits the walk
    EXPECT_EQ(ChooseLocalAddress({lan, outside}, 0), kNoAddress);
}
