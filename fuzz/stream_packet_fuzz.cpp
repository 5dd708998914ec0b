// Arbitrary bytes as a stream transport datagram: whatever parses encodes to
// the same bytes again (every header field, checksum and payload included).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/net/stream_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TStreamPacket packet;
    if (!ParseStreamPacket(data, size, packet))
        return 0;
    if (packet.type == STREAM_DATA && packet.payload + packet.payloadLength != data + size)
        std::abort();
    const auto again = EncodeStreamPacket(packet, packet.payload, packet.payloadLength);
    if (again.size() != size || std::memcmp(again.data(), data, size) != 0)
        std::abort();
    return 0;
}
