#pragma once
#include <atomic>
#include <cstdint>

// Engine-wide facts set by the first task's start-up.

// 16 bytes, random, first byte never 0; all zero until the first start-up.
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
