#include "app/system_clock.h"

#include "platform/local_time.h"
#include "platform/tick.h"

uint32_t CSystemClock::TickCount()
{
    return platform::TickCount();
}

void CSystemClock::SleepMs(uint32_t ms)
{
    platform::SleepMs(ms);
}

std::string CSystemClock::LocalTimeText(const char *format)
{
    return platform::FormatLocalTimeNow(format);
}
