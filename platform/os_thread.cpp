#include "platform/os_thread.h"

#include <system_error>
#include <thread>

namespace platform {

struct OsThread::Impl {
    std::thread thread;
};

OsThread::OsThread() : impl(std::make_unique<Impl>()) {}

OsThread::~OsThread()
{
    Join();
    if (impl->thread.joinable())
        impl->thread.detach();
}

bool OsThread::Start(std::function<void()> body)
{
    Join();
    try {
        impl->thread = std::thread(std::move(body));
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

void OsThread::Join()
{
    if (impl->thread.joinable() && !IsCurrent())
        impl->thread.join();
}

bool OsThread::IsCurrent() const
{
    return impl->thread.joinable() && impl->thread.get_id() == std::this_thread::get_id();
}

} // namespace platform

namespace platform {

bool StartDetachedThread(std::function<void()> body)
{
    try {
        std::thread(std::move(body)).detach();
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

} // namespace platform
