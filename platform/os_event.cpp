#include "platform/os_event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

struct OsEvent::Impl {
    std::mutex lock;
    std::condition_variable changed;
    bool set = false;
};

OsEvent::OsEvent() : impl(std::make_unique<Impl>()) {}

OsEvent::~OsEvent() = default;

void OsEvent::Set()
{
    std::lock_guard<std::mutex> hold(impl->lock);
    impl->set = true;
    impl->changed.notify_all();
}

bool OsEvent::Wait(uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> hold(impl->lock);
    return impl->changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return impl->set; });
}

} // namespace platform
