#pragma once
#include <cstdint>
#include <memory>

namespace platform {

// A manual-reset event: once set it stays set, and every wait returns at once.
class OsEvent {
public:
    OsEvent();
    ~OsEvent();
    OsEvent(const OsEvent &) = delete;
    OsEvent &operator=(const OsEvent &) = delete;

    void Set();
    // True when the event was set within timeoutMs milliseconds.
    bool Wait(uint32_t timeoutMs);

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace platform
