#pragma once
#include <cstdint>
#include <string>

// Time as the application side sees it, behind an interface so tests run
// the once-a-second waits and throttles without waiting.
class IAppClock {
public:
    virtual ~IAppClock() = default;
    // Milliseconds, 32 bits, wrapping like the platform tick count.
    virtual uint32_t TickCount() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
    // Local time now, strftime format in the C locale.
    virtual std::string LocalTimeText(const char *format) = 0;
};
