#pragma once
#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start, as a 32-bit value that wraps after
// about 49.7 days like the tick count the engine's transport timers expect.
uint32_t TickCount();

void SleepMs(uint32_t ms);

// Test control: while an injected value is set, TickCount returns it instead
// of the monotonic clock, so tests can make the count wrap.
void InjectTickCount(uint32_t value);
void ClearInjectedTickCount();

} // namespace platform
