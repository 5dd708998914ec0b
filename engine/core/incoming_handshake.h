#pragma once
#include <cstdint>

// The first bytes of an incoming BitTorrent connection, as the pool reads
// them before any peer object exists. Lengths are those buffered; nothing
// is read past them.

constexpr int32_t kHandshakeHashEnd = 48; // protocol byte, name, reserved, info hash
constexpr int32_t kHandshakeBytes = 68;   // ... and the peer id

// An HTTP request or answer put in front of the handshake to disguise it:
// the bytes up to and including the blank line that ends its header, 0 when
// the data does not start with one, -1 while its end has not arrived.
int32_t DisguiseLength(const uint8_t *data, int32_t length);

// The data opens with the protocol byte 19 and "BitTorrent protocol".
bool OpensHandshake(const uint8_t *data, int32_t length);

// The 20-byte info hash the handshake names, or null when fewer than 48
// bytes are there or it is no handshake.
const uint8_t *HandshakeInfoHash(const uint8_t *data, int32_t length);
