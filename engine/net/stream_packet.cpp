#include "engine/net/stream_packet.h"

#include <cstring>

#include "engine/net/bt_wire.h"
#include "engine/storage/seeded_adler32.h"

namespace {
constexpr size_t kChecksummedFrom = 32;
constexpr size_t kDatagramLimit = kStreamHeaderBytes + kStreamMaxPayload;
constexpr int kPayloadLengthField = 32;

uint32_t Checksum(uint32_t connectionId, const uint8_t *datagram, size_t length)
{
    return SeededAdler32(connectionId, datagram + kChecksummedFrom, length - kChecksummedFrom);
}
} // namespace

uint32_t TStreamPacket::Field(int offset) const
{
    return ReadBigEndian32(fields + (offset - 32));
}

void TStreamPacket::SetField(int offset, uint32_t value)
{
    WriteBigEndian32(fields + (offset - 32), value);
}

std::vector<uint8_t> EncodeStreamPacket(const TStreamPacket &packet, const uint8_t *payload, int32_t payloadLength)
{
    if (payload == nullptr || payloadLength < 0)
        payloadLength = 0;
    if (payloadLength > kStreamMaxPayload)
        payloadLength = kStreamMaxPayload;
    const size_t total = kStreamHeaderBytes + static_cast<size_t>(payloadLength);
    std::vector<uint8_t> datagram(total);
    uint8_t *out = datagram.data();
    WriteBigEndian32(out, static_cast<uint32_t>(total));
    WriteBigEndian32(out + 8, packet.connectionId);
    WriteBigEndian32(out + 12, packet.sequence);
    WriteBigEndian32(out + 16, packet.type);
    std::memcpy(out + 20, packet.identity, kStreamIdentityBytes);
    std::memcpy(out + 32, packet.fields, sizeof packet.fields);
    if (packet.type == STREAM_DATA)
        WriteBigEndian32(out + kPayloadLengthField, static_cast<uint32_t>(payloadLength));
    if (payloadLength > 0)
        std::memcpy(out + kStreamHeaderBytes, payload, static_cast<size_t>(payloadLength));
    WriteBigEndian32(out + 4, Checksum(packet.connectionId, out, total));
    return datagram;
}

bool ParseStreamPacket(const uint8_t *bytes, size_t length, TStreamPacket &out)
{
    if (bytes == nullptr || length < kStreamHeaderBytes || length > kDatagramLimit)
        return false;
    if (ReadBigEndian32(bytes) != length)
        return false;
    out = TStreamPacket();
    out.connectionId = ReadBigEndian32(bytes + 8);
    if (out.connectionId == 0 || ReadBigEndian32(bytes + 4) != Checksum(out.connectionId, bytes, length))
        return false;
    out.sequence = ReadBigEndian32(bytes + 12);
    out.type = ReadBigEndian32(bytes + 16);
    std::memcpy(out.identity, bytes + 20, kStreamIdentityBytes);
    std::memcpy(out.fields, bytes + 32, sizeof out.fields);
    if (out.type == STREAM_DATA) {
        // Signed: a "negative" length is as wrong as one past the datagram.
        const auto announced = static_cast<int32_t>(out.Field(kPayloadLengthField));
        if (announced < 0 || announced > kStreamMaxPayload ||
            length != kStreamHeaderBytes + static_cast<size_t>(announced))
            return false;
        out.payload = bytes + kStreamHeaderBytes;
        out.payloadLength = announced;
    } else if (length != kStreamHeaderBytes) {
        return false; // only data carries bytes past the header
    }
    return true;
}
