#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

// The LAN discovery datagram: a task's announcement (or answer) that it
// downloads a torrent and where it listens. 56 bytes: a zero word, the
// sender's IPv4 (network order), its TCP port (network order), two zero
// bytes, the type word (0 announcement, else answer; little-endian), the
// info hash and the sender task's peer id.
constexpr size_t kLanDatagramBytes = 56;
constexpr char kLanGroupAddress[] = "233.65.31.78";
constexpr uint16_t kLanGroupPort = 31576;

using TLanHash = std::array<uint8_t, 20>;

struct TLanDatagram {
    uint32_t address = 0; // network order, as sent
    uint16_t port = 0;
    bool answer = false;
    TLanHash infoHash{};
    TLanHash peerId{};
};

std::array<uint8_t, kLanDatagramBytes> EncodeLanDatagram(const TLanDatagram &datagram);

// False for anything but exactly 56 bytes with a zero first word, a port
// and an info hash that is not all zero: a longer datagram is no shorter
// one with a tail, and a port or hash of 0 names no peer.
bool ParseLanDatagram(const uint8_t *bytes, size_t length, TLanDatagram &out);
