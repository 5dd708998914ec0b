#include "engine/core/incoming_handshake.h"

#include <cstring>
#include <string_view>

namespace {
constexpr char kProtocol[] = "\x13" "BitTorrent protocol";
constexpr int32_t kProtocolBytes = 20;
constexpr int32_t kHashOffset = 28;

bool StartsWith(const uint8_t *data, int32_t length, std::string_view prefix)
{
    return length >= static_cast<int32_t>(prefix.size()) && std::memcmp(data, prefix.data(), prefix.size()) == 0;
}
} // namespace

int32_t DisguiseLength(const uint8_t *data, int32_t length)
{
    if (data == nullptr || length <= 0)
        return 0;
    if (!StartsWith(data, length, "HTTP") && !StartsWith(data, length, "POST") && !StartsWith(data, length, "GET"))
        return 0;
    std::string_view text(reinterpret_cast<const char *>(data), static_cast<size_t>(length));
    size_t end = text.find("\r\n\r\n");
    if (end != std::string_view::npos)
        return static_cast<int32_t>(end + 4);
    end = text.find("\n\n");
    if (end != std::string_view::npos)
        return static_cast<int32_t>(end + 2);
    return -1;
}

bool OpensHandshake(const uint8_t *data, int32_t length)
{
    return data != nullptr && length >= kProtocolBytes && std::memcmp(data, kProtocol, kProtocolBytes) == 0;
}

const uint8_t *HandshakeInfoHash(const uint8_t *data, int32_t length)
{
    if (length < kHandshakeHashEnd || !OpensHandshake(data, length))
        return nullptr;
    return data + kHashOffset;
}
