#include "engine/net/tracker_udp.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int32_t kConnectAnswerBytes = 16;
constexpr int32_t kAnnounceHeaderBytes = 20;
constexpr int32_t kErrorHeaderBytes = 8;
// An error text longer than this is cut: it only goes to the log.
constexpr size_t kMaxErrorText = 256;

void Put32(uint8_t *at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

void Put64(uint8_t *at, uint64_t value)
{
    Put32(at, static_cast<uint32_t>(value >> 32));
    Put32(at + 4, static_cast<uint32_t>(value));
}

uint32_t Get32(const uint8_t *at)
{
    return (uint32_t{at[0]} << 24) | (uint32_t{at[1]} << 16) | (uint32_t{at[2]} << 8) | at[3];
}

uint64_t Get64(const uint8_t *at)
{
    return (uint64_t{Get32(at)} << 32) | Get32(at + 4);
}

uint64_t Unsigned(int64_t value)
{
    return value < 0 ? 0 : static_cast<uint64_t>(value);
}
} // namespace

std::array<uint8_t, kUdpConnectBytes> BuildUdpConnect(uint32_t transaction)
{
    std::array<uint8_t, kUdpConnectBytes> out{};
    Put64(out.data(), kUdpTrackerProtocolId);
    Put32(out.data() + 8, UDP_TRACKER_CONNECT);
    Put32(out.data() + 12, transaction);
    return out;
}

std::array<uint8_t, kUdpAnnounceBytes> BuildUdpAnnounce(uint64_t connectionId, uint32_t transaction,
                                                        const TAnnounceFacts &facts)
{
    std::array<uint8_t, kUdpAnnounceBytes> out{};
    uint8_t *p = out.data();
    Put64(p, connectionId);
    Put32(p + 8, UDP_TRACKER_ANNOUNCE);
    Put32(p + 12, transaction);
    std::memcpy(p + 16, facts.infoHash.data(), 20);
    std::memcpy(p + 36, facts.peerId.data(), 20);
    Put64(p + 56, Unsigned(facts.downloaded));
    Put64(p + 64, Unsigned(facts.left));
    Put64(p + 72, Unsigned(facts.uploaded));
    Put32(p + 80, kAnnounceEventStarted);
    // 84: IP 0, 88: key 0.
    Put32(p + 92, kAnnounceNumWant);
    p[96] = static_cast<uint8_t>(facts.port >> 8);
    p[97] = static_cast<uint8_t>(facts.port);
    return out;
}

TUdpTrackerAnswer ParseUdpTrackerAnswer(const uint8_t *data, int32_t length)
{
    TUdpTrackerAnswer answer;
    if (data == nullptr || length < kErrorHeaderBytes)
        return answer;
    uint32_t action = Get32(data);
    answer.transaction = Get32(data + 4);
    if (action == UDP_TRACKER_CONNECT && length >= kConnectAnswerBytes) {
        answer.kind = TUdpTrackerAnswer::Kind::Connected;
        answer.connectionId = Get64(data + 8);
    } else if (action == UDP_TRACKER_ANNOUNCE && length >= kAnnounceHeaderBytes) {
        answer.kind = TUdpTrackerAnswer::Kind::Announced;
        answer.interval = TrackerInterval(Get32(data + 8));
        AppendCompactPeers(data + kAnnounceHeaderBytes, static_cast<size_t>(length - kAnnounceHeaderBytes),
                           answer.peers);
    } else if (action == UDP_TRACKER_ERROR) {
        answer.kind = TUdpTrackerAnswer::Kind::Error;
        size_t textLength = std::min(static_cast<size_t>(length - kErrorHeaderBytes), kMaxErrorText);
        answer.message.assign(reinterpret_cast<const char *>(data + kErrorHeaderBytes), textLength);
    }
    return answer;
}
