#pragma once
#include <atomic>
#include <cstdint>

// Engine-wide facts set by the first task's start-up.

// 16 bytes, random; bytes 0 and 1 never 0 (bytes 0-7 are the UDP identity);
// all zero until the first start-up.
const uint8_t *EngineId();
void EnsureEngineId();

// Connection attempts that may be pending at once across the engine.
extern std::atomic<int32_t> halfOpenLimit;
// While set, the UDP transport stays off.
extern std::atomic<bool> engineIdle;
// Set once this host proved reachable from outside.
extern std::atomic<bool> outsideReachable;

// Outgoing BitTorrent connections open with an HTTP request line.
void SetHttpWrap(bool on);
bool IsHttpWrap();
