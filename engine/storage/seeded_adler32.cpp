#include "engine/storage/seeded_adler32.h"

namespace {
constexpr uint32_t kModulus = 65521;
// The most bytes summed before B could overflow 32 bits.
constexpr size_t kRun = 5552;
} // namespace

uint32_t SeededAdler32(uint32_t start, const uint8_t *bytes, size_t length)
{
    // A seed's halves may exceed the modulus (an index's low 16 bits can).
    uint32_t a = (start & 0xFFFF) % kModulus;
    uint32_t b = (start >> 16) % kModulus;
    while (length > 0) {
        const size_t run = length < kRun ? length : kRun;
        for (size_t i = 0; i < run; ++i) {
            a += bytes[i];
            b += a;
        }
        a %= kModulus;
        b %= kModulus;
        bytes += run;
        length -= run;
    }
    return (b << 16) | a;
}
