#pragma once
// Wire formats mark empty fields and reserved runs with zero bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>

inline bool AllZeroBytes(const uint8_t *bytes, size_t count)
{
    return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
}
