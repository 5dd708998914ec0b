#include <gtest/gtest.h>

#include <string>

#include "platform/port_table.h"
#include "platform/read_file.h"
#include "tests/platform/loopback_listener.h"

namespace {

std::string Fixture(const std::string &name)
{
    std::string text;
    platform::ReadWholeFile(std::string(QL_SOURCE_DIR) + "/tests/fixtures/proc_net/" + name, 1 << 20, text);
    return text;
}

} // namespace

TEST(PortListedInTable, FindsLocalPortsInEveryTableAndStateButNotRemoteOnes)
{
    const std::string tcp = Fixture("tcp");
    ASSERT_FALSE(tcp.empty());
    EXPECT_TRUE(platform::PortListedInTable(tcp, 40000)); // listening
    EXPECT_TRUE(platform::PortListedInTable(tcp, 8080));  // established
    EXPECT_TRUE(platform::PortListedInTable(tcp, 43200)); // time-wait
    EXPECT_FALSE(platform::PortListedInTable(tcp, 40001)) << "a remote port is someone else's";
    EXPECT_FALSE(platform::PortListedInTable(tcp, 50000));
    EXPECT_TRUE(platform::PortListedInTable(Fixture("tcp6"), 45000));
    EXPECT_TRUE(platform::PortListedInTable(Fixture("udp"), 46532));
    EXPECT_FALSE(platform::PortListedInTable(Fixture("udp"), 305)) << "the slot number is no port";
}

TEST(PortListedInTable, SkipsLinesOfAnyOtherForm)
{
    EXPECT_FALSE(platform::PortListedInTable("  sl  local_address\n", 0));
    EXPECT_FALSE(platform::PortListedInTable("   0: 0100007F:9C4", 0x9C4)); // cut short
    EXPECT_FALSE(platform::PortListedInTable("   0: 0100007F:9C40X 0", 40000));
    EXPECT_FALSE(platform::PortListedInTable("   0: 100007F:9C40 0", 40000));   // 7 address digits
    EXPECT_FALSE(platform::PortListedInTable("   0: 0100007F:9G40 0", 40000));
    EXPECT_FALSE(platform::PortListedInTable(": 0100007F:9C40 0", 40000));      // no slot
    EXPECT_TRUE(platform::PortListedInTable("   0: 0100007f:9c40", 40000));     // at the very end
}

TEST(IsPortInUse, SeesAListenerOfThisProcess)
{
    TLoopbackListener listener;
    ASSERT_TRUE(listener.Listening());
    EXPECT_TRUE(platform::IsPortInUse(listener.Port()));
}
