#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The stream transport's datagram: a 64-byte header, then the payload of a
// data packet. All fields are big-endian. The checksum (offset 4) is
// Adler-32 over bytes 32 to the end, started from the connection id of
// offset 8, so a packet moved to another connection no longer matches.
constexpr size_t kStreamHeaderBytes = 64;
// The largest payload: a whole datagram of 8192 bytes.
constexpr int32_t kStreamMaxPayload = 8128;
constexpr size_t kStreamIdentityBytes = 12;

enum : uint32_t {
    STREAM_CONNECT = 1,
    STREAM_ACCEPT = 0x10001,
    STREAM_ACCEPT_ACK = 0x80010001,
    STREAM_DATA = 2,
    STREAM_ACK = 16,
    STREAM_KEEP_ALIVE = 0x10002,
    STREAM_CLOSE = 0x80000000,
    STREAM_REFUSE = 3,
    STREAM_SINGLE_ACK = 0x80000002,
};

struct TStreamPacket {
    uint32_t connectionId = 0;
    uint32_t sequence = 0;
    uint32_t type = 0;
    // The receiver's identity: 8 bytes of host identity, "UDP", "0".
    uint8_t identity[kStreamIdentityBytes] = {};
    // Header bytes 32 to 63, read and written through Field/SetField.
    uint8_t fields[32] = {};
    // A data packet's payload (inside the parsed datagram), else empty.
    const uint8_t *payload = nullptr;
    int32_t payloadLength = 0;

    // offset is the header offset, 32 to 60.
    uint32_t Field(int offset) const;
    void SetField(int offset, uint32_t value);
};

// The datagram for packet; for data, payloadLength bytes of payload follow
// and offset 32 carries their count.
std::vector<uint8_t> EncodeStreamPacket(const TStreamPacket &packet, const uint8_t *payload = nullptr,
                                        int32_t payloadLength = 0);

// False unless the length field equals length, the checksum is right, the
// connection id is not 0 and the datagram is exactly the header, or for data
// the header plus a payload of 0 to kStreamMaxPayload bytes.
bool ParseStreamPacket(const uint8_t *bytes, size_t length, TStreamPacket &out);
