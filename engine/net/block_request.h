#pragma once
#include <cstdint>

constexpr int32_t kBlockBytes = 16384;

// One 16 KiB block asked of a remote party, or parked in the task's pending
// list for any connection to take. Block numbers are absolute offsets / 16384,
// 64-bit so that files beyond 32 TiB never wrap.
struct TBlockRequest {
    int64_t block = 0;
    int32_t length = 0;
    int64_t time = 0;  // engine time it was queued
    bool sent = false; // already on the wire (BitTorrent)
};
