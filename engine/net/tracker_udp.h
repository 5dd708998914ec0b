#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/net/tracker_announce.h"
#include "engine/net/tracker_answer.h"

// The datagrams of the UDP tracker exchange: a connect that earns a
// connection id, then announces that carry it. Numbers are big-endian.
constexpr uint64_t kUdpTrackerProtocolId = 0x41727101980ull;
constexpr int32_t kUdpConnectBytes = 16;
constexpr int32_t kUdpAnnounceBytes = 104;

enum : uint32_t {
    UDP_TRACKER_CONNECT = 0,
    UDP_TRACKER_ANNOUNCE = 1,
    UDP_TRACKER_ERROR = 3,
};

std::array<uint8_t, kUdpConnectBytes> BuildUdpConnect(uint32_t transaction);
// Key 0 and IP 0 (the tracker takes the datagram's source), event started.
std::array<uint8_t, kUdpAnnounceBytes> BuildUdpAnnounce(uint64_t connectionId, uint32_t transaction,
                                                        const TAnnounceFacts &facts);

struct TUdpTrackerAnswer {
    enum class Kind { Ignored, Connected, Announced, Error } kind = Kind::Ignored;
    uint32_t transaction = 0;
    uint64_t connectionId = 0;          // Connected
    int32_t interval = 600;             // Announced
    std::vector<TTrackerPeerAddress> peers; // Announced
    std::string message;                // Error
};

// A datagram too short for its action (a connect answer under 16 bytes, an
// announce answer under 20, an error under 8) or of another action is
// Ignored.
TUdpTrackerAnswer ParseUdpTrackerAnswer(const uint8_t *data, int32_t length);
