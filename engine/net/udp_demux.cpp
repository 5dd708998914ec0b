#include "engine/net/udp_demux.h"

#include <cstring>

#include "engine/base/zero_bytes.h"
#include "engine/net/bt_wire.h"

namespace {
constexpr size_t kReportBytes = 8;
constexpr size_t kNoticeBytes = 32;
constexpr uint32_t kNoticeMark = 0x33333333;
constexpr size_t kPunchBytes = 48;
constexpr size_t kPunchZeroBytes = 20;
constexpr size_t kSmallestPacket = 64;
} // namespace

TUdpDatagramKind ClassifyUdpDatagram(const uint8_t *bytes, size_t length, bool fromRendezvous,
                                     const uint8_t *identity8)
{
    if (bytes == nullptr || length == 0)
        return TUdpDatagramKind::Dropped;
    if (length > kReportBytes && bytes[0] == 'd')
        return TUdpDatagramKind::Dropped;
    if (length == kReportBytes)
        return fromRendezvous ? TUdpDatagramKind::AddressReport : TUdpDatagramKind::Dropped;
    if (length < 4)
        return TUdpDatagramKind::Dropped;
    const auto first = static_cast<int32_t>(ReadBigEndian32(bytes));
    if (length == kNoticeBytes && static_cast<uint32_t>(first) == kNoticeMark)
        return fromRendezvous ? TUdpDatagramKind::IntroductionNotice : TUdpDatagramKind::Dropped;
    if (length == kPunchBytes && AllZeroBytes(bytes, kPunchZeroBytes) &&
        std::memcmp(bytes + kPunchZeroBytes, identity8, 8) == 0)
        return TUdpDatagramKind::Punch;
    if (length >= kSmallestPacket && first > 0)
        return TUdpDatagramKind::Transport;
    if (length >= kSmallestPacket && fromRendezvous)
        return TUdpDatagramKind::IntroductionAnswer;
    return TUdpDatagramKind::Dropped;
}
