#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What a tracker's bencoded answer (or a UDP announce answer) gives us.
// Every value is type-checked and range-checked before it is kept.

struct TTrackerPeerAddress {
    uint32_t address = 0; // network order
    int32_t port = 0;
    bool hasPeerId = false;
    std::array<uint8_t, 20> peerId{};
};

struct TTrackerAnswer {
    bool bencoded = false;     // the body was a bencoded dictionary
    std::string failureReason; // the tracker's own refusal, when it gave one
    int32_t interval = 600;    // seconds until the next announce
    std::vector<TTrackerPeerAddress> peers;
};

// The announce interval a tracker asked for: below 61 (or none) means 600,
// above a day is held to a day.
int32_t TrackerInterval(int64_t asked);

// Whether a peer may be dialled: port 1..65535, and an address that is not
// 0, the broadcast address or multicast.
bool UsablePeerAddress(uint32_t networkOrder, int64_t port);

// Appends the usable peers of a compact list (4 address bytes and 2 port
// bytes each, network order); a trailing partial entry is ignored.
void AppendCompactPeers(const uint8_t *bytes, size_t length, std::vector<TTrackerPeerAddress> &peers);

// Decodes a bencoded answer: "failure reason", "interval", and "peers" as a
// compact string or a list of dictionaries ("ip" in dotted text, "port",
// optional "peer id").
TTrackerAnswer DecodeTrackerAnswer(const std::string &body);
