#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// A torrent's identity: the SHA-1 of its info dictionary, all zero while
// unknown, and the two text forms that trackers and records use.
class TInfoHash {
public:
    static constexpr size_t kSize = 20;

    // The hash of the bytes; false, leaving out untouched, when the digest
    // cannot be computed.
    static bool Compute(const char *bytes, size_t length, TInfoHash &out);

    const uint8_t *Bytes() const { return bytes.data(); }
    bool IsZero() const;
    // For tracker queries: ASCII letters and digits as they are, every other
    // byte '%' and two lower-case hex digits.
    std::string Percent() const;
    // 40 lower-case hex digits.
    std::string Hex() const;

    bool operator==(const TInfoHash &other) const = default;

private:
    std::array<uint8_t, kSize> bytes{};
};
