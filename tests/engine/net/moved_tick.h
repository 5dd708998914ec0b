#pragma once
// The 32-bit tick held by the test and moved by hand, so timers of seconds
// run in milliseconds; the real tick returns when it goes.
#include <cstdint>

#include "platform/tick.h"

class TMovedTick {
public:
    explicit TMovedTick(uint32_t start = platform::TickCount()) : now(start) { platform::InjectTickCount(now); }
    ~TMovedTick() { platform::ClearInjectedTickCount(); }
    TMovedTick(const TMovedTick &) = delete;
    TMovedTick &operator=(const TMovedTick &) = delete;

    void Advance(uint32_t ms)
    {
        now += ms;
        platform::InjectTickCount(now);
    }
    uint32_t Now() const { return now; }

private:
    uint32_t now;
};
