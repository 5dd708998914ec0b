#include <gtest/gtest.h>

#include <vector>

#include "engine/net/udp_demux.h"

namespace {
const uint8_t kIdentity[8] = {1, 2, 3, 4, 5, 6, 7, 8};

TUdpDatagramKind Kind(const std::vector<uint8_t> &bytes, bool fromRendezvous)
{
    return ClassifyUdpDatagram(bytes.data(), bytes.size(), fromRendezvous, kIdentity);
}
} // namespace

TEST(UdpDemux, SortsInTheFixedOrder)
{
    std::vector<uint8_t> transport(64, 0);
    transport[3] = 64;
    EXPECT_EQ(Kind(transport, false), TUdpDatagramKind::Transport);
    // A "d" opens another protocol's datagram, even a well-formed length.
    transport[0] = 'd';
    EXPECT_EQ(Kind(transport, true), TUdpDatagramKind::Dropped);
    // ... but eight bytes from the rendezvous server are its report.
    std::vector<uint8_t> report{'d', 0, 0, 1, 0, 0, 0x1F, 0x90};
    EXPECT_EQ(Kind(report, true), TUdpDatagramKind::AddressReport);
    EXPECT_EQ(Kind(report, false), TUdpDatagramKind::Dropped);

    std::vector<uint8_t> notice(32, 0);
    notice[0] = notice[1] = notice[2] = notice[3] = 0x33;
    EXPECT_EQ(Kind(notice, true), TUdpDatagramKind::IntroductionNotice);
    EXPECT_EQ(Kind(notice, false), TUdpDatagramKind::Dropped);

    std::vector<uint8_t> punch(48, 0);
    std::copy(kIdentity, kIdentity + 8, punch.begin() + 20);
    EXPECT_EQ(Kind(punch, false), TUdpDatagramKind::Punch);
    punch[20] = 9; // for another host
    EXPECT_EQ(Kind(punch, false), TUdpDatagramKind::Dropped);

    std::vector<uint8_t> answer(64, 0);
    EXPECT_EQ(Kind(answer, true), TUdpDatagramKind::IntroductionAnswer);
    EXPECT_EQ(Kind(answer, false), TUdpDatagramKind::Dropped);
    answer[0] = 0x80; // negative first word: still no transport packet
    EXPECT_EQ(Kind(answer, true), TUdpDatagramKind::IntroductionAnswer);
    EXPECT_EQ(Kind(std::vector<uint8_t>(3, 1), true), TUdpDatagramKind::Dropped);
}
