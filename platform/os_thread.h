#pragma once
#include <functional>
#include <memory>

namespace platform {

// One operating-system thread with the default stack size. The owner joins it
// once the body has returned, so an object never goes while its body still runs.
class OsThread {
public:
    OsThread();
    ~OsThread();
    OsThread(const OsThread &) = delete;
    OsThread &operator=(const OsThread &) = delete;

    // Starts body on a new thread; false when the system refused.
    bool Start(std::function<void()> body);
    // Waits for the thread to return; does nothing when there is none, or when
    // called from the thread itself.
    void Join();
    bool IsCurrent() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace platform

namespace platform {

// Runs body on a thread nobody joins; false when the system refused.
bool StartDetachedThread(std::function<void()> body);

} // namespace platform
