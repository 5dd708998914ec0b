#pragma once
#include <string>

namespace platform {

// The single-instance lock of one package: an flock on a lock file in the
// runtime folder. The kernel drops the lock when
// the holder ends however it ends, so a crashed instance never blocks the
// next one, and a live one is never disturbed.
class InstanceLock {
public:
    enum class Result { Acquired, HeldByAnother, Failed };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // Takes the lock named name (a plain file name) without waiting.
    Result Acquire(const std::string &name);
    // The lock file's path (set by Acquire).
    const std::string &Path() const { return path; }

private:
    int fd = -1;
    std::string path;
};

} // namespace platform
