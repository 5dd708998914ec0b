#include "platform/thread_id.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<uint32_t> nextThreadId{1};
thread_local uint32_t currentThreadId = 0;
} // namespace

uint32_t AllocateThreadId()
{
    return nextThreadId.fetch_add(1, std::memory_order_relaxed);
}

uint32_t CurrentThreadId()
{
    if (currentThreadId == 0)
        currentThreadId = AllocateThreadId();
    return currentThreadId;
}

void AdoptThreadId(uint32_t id)
{
    currentThreadId = id;
}

} // namespace platform
