#include "platform/tick.h"

#include <atomic>
#include <ctime>
#include <cerrno>

namespace platform {
namespace {
std::atomic<bool> tickInjected{false};
std::atomic<uint32_t> injectedTick{0};
} // namespace

uint32_t TickCount()
{
    if (tickInjected.load(std::memory_order_acquire))
        return injectedTick.load(std::memory_order_acquire);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void SleepMs(uint32_t ms)
{
    timespec wait{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

void InjectTickCount(uint32_t value)
{
    injectedTick.store(value, std::memory_order_release);
    tickInjected.store(true, std::memory_order_release);
}

void ClearInjectedTickCount()
{
    tickInjected.store(false, std::memory_order_release);
}

} // namespace platform
