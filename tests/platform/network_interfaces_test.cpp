#include <gtest/gtest.h>

#include <cstring>

#include "platform/network_interfaces.h"

namespace {
// The address a.b.c.d in network order.
uint32_t Net(uint32_t hostOrder)
{
    const unsigned char bytes[4] = {static_cast<unsigned char>(hostOrder >> 24),
                                    static_cast<unsigned char>(hostOrder >> 16),
                                    static_cast<unsigned char>(hostOrder >> 8), static_cast<unsigned char>(hostOrder)};
    uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}
} // namespace

TEST(IsPrivateAddress, KnowsTheReservedRanges)
{
    EXPECT_TRUE(platform::IsPrivateAddress(Net(0x06000001)));  // 6.0.0.1
    EXPECT_FALSE(platform::IsPrivateAddress(Net(0x07000001))); // 7.0.0.1
    EXPECT_TRUE(platform::IsPrivateAddress(Net(0x0A0A0A0A)));  // 10.10.10.10
    EXPECT_TRUE(platform::IsPrivateAddress(Net(0x7F000001)));  // 127.0.0.1
    EXPECT_FALSE(platform::IsPrivateAddress(Net(0xAC0F0001))); // 172.15.0.1
    EXPECT_TRUE(platform::IsPrivateAddress(Net(0xAC100000)));  // 172.16.0.0
    EXPECT_TRUE(platform::IsPrivateAddress(Net(0xAC1FFFFF)));  // 172.31.255.255
    EXPECT_FALSE(platform::IsPrivateAddress(Net(0xAC200000))); // 172.32.0.0
    EXPECT_TRUE(platform::IsPrivateAddress(Net(0xC0A80101)));  // 192.168.1.1
    EXPECT_FALSE(platform::IsPrivateAddress(Net(0xC0A90101))); // 192.169.1.1
    EXPECT_TRUE(platform::IsPrivateAddress(Net(0xA9FE0001)));  // 169.254.0.1
    EXPECT_FALSE(platform::IsPrivateAddress(Net(0x08080808))); // 8.8.8.8
}
