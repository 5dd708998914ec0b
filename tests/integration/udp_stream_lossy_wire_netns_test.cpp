// ctest-labels: netns
// The UDP stream transport over a wire that is slow and loses packets: two
// namespaces joined by tun_wire (10 ms each way, 1 % of the packets dropped
// each way, seeded), the rendezvous server on side A, a qlstream listener on
// side B and a connector on side A. 1 MiB each way must arrive intact, and
// the wire must really have dropped some of it; TCP over the same wire is
// the reference that the wire itself is sound.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/child_process.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/qlstream_pair.h"
#include "tests/integration/tun_wire_namespaces.h"

namespace {

constexpr int64_t kMiB = 1 << 20;
// A loss stalls the transport's window for at least 1.6 s, so 1 MiB needs
// tens of seconds; the limit leaves room on a loaded machine.
constexpr uint32_t kTransferLimitMs = 300000;
constexpr int kRendezvousPort = 4082;
constexpr int kServicePort = 5000;
constexpr int kClientPort = 5001;

// Packets the wire dropped in both directions, from its closing report.
long DroppedPackets(const std::string &report)
{
    long dropped = 0;
    for (size_t at = report.find("dropped "); at != std::string::npos; at = report.find("dropped ", at + 1))
        dropped += std::atol(report.c_str() + at + 8);
    return dropped;
}

class UdpStreamLossyWireTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!NamespacesAvailable())
            GTEST_SKIP() << "network namespaces need root and iproute2";
        const std::string failure = wire.Build(TUN_WIRE_PROGRAM, scratch.path / "wire.log", TWireSettings{});
        ASSERT_EQ(failure, "");
        const fs::path log = scratch.path / "rendezvous.log";
        rendezvous = StartRendezvousServer(QLRENDEZVOUS_PROGRAM, wire.SideA(), RendezvousAddress(), log);
        ASSERT_GT(rendezvous, 0) << ReadLog(log);
    }
    void TearDown() override
    {
        if (rendezvous > 0)
            platform::StopChildProcess(rendezvous);
    }
    static std::string RendezvousAddress()
    {
        return std::string(TTunWireNamespaces::kAddressA) + ":" + std::to_string(kRendezvousPort);
    }
    TStreamPairResult RunPair(bool tcp)
    {
        const TStreamPair pair(QLSTREAM_PROGRAM, RendezvousAddress(), scratch.path);
        return pair.Run({wire.SideB(), TTunWireNamespaces::kAddressB, kServicePort},
                        {wire.SideA(), TTunWireNamespaces::kAddressA, kClientPort}, tcp, kMiB, kTransferLimitMs);
    }

    TScratch scratch;
    TTunWireNamespaces wire;
    int rendezvous = -1;
};

} // namespace

TEST_F(UdpStreamLossyWireTest, TransportDeliversOneMebibyteEachWayThroughLosses)
{
    const TStreamPairResult result = RunPair(false);
    const std::string wireReport = wire.Stop();
    EXPECT_TRUE(result.verified) << result.report << wireReport;
    EXPECT_GT(DroppedPackets(wireReport), 0) << "the wire lost nothing, so no recovery was tested:\n" << wireReport;
}

TEST_F(UdpStreamLossyWireTest, TcpCrossesTheSameWire)
{
    const TStreamPairResult result = RunPair(true);
    EXPECT_TRUE(result.verified) << result.report << wire.Stop();
}
