#include "engine/core/bt_handshake.h"

#include <cstring>
#include <openssl/evp.h>

namespace {
constexpr char kProtocol[] = "BitTorrent protocol";
constexpr uint8_t kPeerIdPrefix[4] = {0x00, 0x01, 'Q', 'l'};
} // namespace

std::array<uint8_t, 20> DigestPeerId(const std::string &torrentName, uint64_t threadHandle, uint64_t taskAddress,
                                     uint32_t tick, uint32_t localAddress)
{
    std::string seed = torrentName + std::to_string(threadHandle) + std::to_string(taskAddress) +
                       std::to_string(tick) + std::to_string(localAddress);
    uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    EVP_Digest(seed.data(), seed.size(), digest, &digestLength, EVP_md5(), nullptr);
    std::array<uint8_t, 20> peerId{};
    std::memcpy(peerId.data(), kPeerIdPrefix, sizeof kPeerIdPrefix);
    std::memcpy(peerId.data() + 4, digest, 16);
    return peerId;
}

TBtHandshake BuildHandshake(const uint8_t infoHash[20], const std::string &torrentName, uint64_t threadHandle,
                            uint64_t taskAddress, uint32_t tick, uint32_t localAddress, const uint8_t engineId[16])
{
    TBtHandshake result;
    result.peerId = DigestPeerId(torrentName, threadHandle, taskAddress, tick, localAddress);
    std::memcpy(result.peerId.data() + 8, engineId, 12);

    uint8_t *out = result.bytes.data();
    out[0] = 19;
    std::memcpy(out + 1, kProtocol, 19);
    std::memset(out + 20, 0, 8);
    std::memcpy(out + 28, infoHash, 20);
    std::memcpy(out + 48, result.peerId.data(), 20);
    return result;
}
