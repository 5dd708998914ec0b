#include "engine/net/lan_datagram.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr size_t kAddressAt = 4;
constexpr size_t kPortAt = 8;
constexpr size_t kTypeAt = 12;
constexpr size_t kHashAt = 16;
constexpr size_t kPeerIdAt = 36;
} // namespace

std::array<uint8_t, kLanDatagramBytes> EncodeLanDatagram(const TLanDatagram &datagram)
{
    std::array<uint8_t, kLanDatagramBytes> bytes{};
    std::memcpy(bytes.data() + kAddressAt, &datagram.address, 4);
    bytes[kPortAt] = static_cast<uint8_t>(datagram.port >> 8);
    bytes[kPortAt + 1] = static_cast<uint8_t>(datagram.port);
    bytes[kTypeAt] = datagram.answer ? 1 : 0;
    std::copy(datagram.infoHash.begin(), datagram.infoHash.end(), bytes.begin() + kHashAt);
    std::copy(datagram.peerId.begin(), datagram.peerId.end(), bytes.begin() + kPeerIdAt);
    return bytes;
}

bool ParseLanDatagram(const uint8_t *bytes, size_t length, TLanDatagram &out)
{
    if (bytes == nullptr || length != kLanDatagramBytes)
        return false;
    if (bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 0 || bytes[3] != 0)
        return false;
    TLanDatagram read;
    std::memcpy(&read.address, bytes + kAddressAt, 4);
    read.port = static_cast<uint16_t>(bytes[kPortAt] << 8 | bytes[kPortAt + 1]);
    read.answer = bytes[kTypeAt] != 0 || bytes[kTypeAt + 1] != 0 || bytes[kTypeAt + 2] != 0 || bytes[kTypeAt + 3] != 0;
    std::copy(bytes + kHashAt, bytes + kHashAt + 20, read.infoHash.begin());
    std::copy(bytes + kPeerIdAt, bytes + kPeerIdAt + 20, read.peerId.begin());
    const bool noHash = std::all_of(read.infoHash.begin(), read.infoHash.end(), [](uint8_t b) { return b == 0; });
    if (read.port == 0 || noHash)
        return false;
    out = read;
    return true;
}
