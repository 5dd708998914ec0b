#pragma once
#include <array>
#include <cstdint>
#include <string>

// The BitTorrent handshake a task sends: 19, "BitTorrent protocol", eight
// zero bytes, the info hash and the peer id.
struct TBtHandshake {
    std::array<uint8_t, 68> bytes{};
    std::array<uint8_t, 20> peerId{};
};

// A peer id of this task and moment: 00 01 'Q' 'l', then an MD5 over the
// torrent's name, the thread, the task, the tick and the local address.
std::array<uint8_t, 20> DigestPeerId(const std::string &torrentName, uint64_t threadHandle, uint64_t taskAddress,
                                     uint32_t tick, uint32_t localAddress);

// The peer id starts with 00 01 'Q' 'l'; bytes 4..7 come from an MD5 over
// facts of this task and moment (so two tasks differ), bytes 8..19 are the
// engine id, so peers can tell two tasks of one engine apart yet see they
// share a host.
TBtHandshake BuildHandshake(const uint8_t infoHash[20], const std::string &torrentName, uint64_t threadHandle,
                            uint64_t taskAddress, uint32_t tick, uint32_t localAddress, const uint8_t engineId[16]);
