// Arbitrary bytes as a LAN discovery datagram: whatever parses encodes to
// the same 56 bytes, except the type word, which only tells answer or not.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/net/lan_datagram.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TLanDatagram datagram;
    if (!ParseLanDatagram(data, size, datagram))
        return 0;
    const auto again = EncodeLanDatagram(datagram);
    if (std::memcmp(again.data(), data, 12) != 0 || std::memcmp(again.data() + 16, data + 16, 40) != 0)
        std::abort();
    return 0;
}
