#pragma once
#include "app/app_clock.h"

// The platform's clocks.
class CSystemClock : public IAppClock {
public:
    uint32_t TickCount() override;
    void SleepMs(uint32_t ms) override;
    std::string LocalTimeText(const char *format) override;
};
