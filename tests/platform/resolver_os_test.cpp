#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/resolver_os.h"

using platform::ParseNameServers;
using Servers = std::vector<std::string>;

TEST(ParseNameServers, TakesTheNameserverLinesInOrder)
{
    EXPECT_EQ(ParseNameServers("# generated\nsearch lan\nnameserver 10.0.0.53\nnameserver\t10.0.0.54 # second\n"
                               "  nameserver fd00::1\r\noptions ndots:1\n"),
              (Servers{"10.0.0.53", "10.0.0.54", "fd00::1"}));
    EXPECT_EQ(ParseNameServers("nameserver 10.0.0.53"), Servers{"10.0.0.53"});
}

TEST(ParseNameServers, IgnoresCommentsAndBrokenEntries)
{
    EXPECT_TRUE(ParseNameServers("").empty());
    EXPECT_TRUE(ParseNameServers("#nameserver 10.0.0.1\n;nameserver 10.0.0.2\n").empty());
    EXPECT_TRUE(ParseNameServers("nameserver\nnameserver   \nnameservers 10.0.0.3\n").empty());
    EXPECT_TRUE(ParseNameServers("nameserver " + std::string(300, '1') + "\n").empty());
}
