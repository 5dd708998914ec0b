// Reads arbitrary bytes as the start of an incoming connection: the disguise
// header and the handshake checks must stay inside the bytes given.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/core/incoming_handshake.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact-size copy lets the address sanitizer see any read past it.
    std::vector<uint8_t> bytes(data, data + size);
    const uint8_t *start = bytes.empty() ? nullptr : bytes.data();
    auto length = static_cast<int32_t>(bytes.size() > 65536 ? 65536 : bytes.size());
    int32_t disguise = DisguiseLength(start, length);
    if (disguise > length)
        std::abort();
    if (disguise > 0) {
        start += disguise;
        length -= disguise;
    }
    const uint8_t *hash = HandshakeInfoHash(start, length);
    if (hash != nullptr && (length < kHandshakeHashEnd || hash + 20 > start + length))
        std::abort();
    OpensHandshake(start, length);
    return 0;
}
