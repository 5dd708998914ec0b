#pragma once
#include <string>

namespace platform {

// A lock held while its object lives: an flock on a lock file in the
// runtime folder (one quarrowlight-cli per package, one qlget per output).
// The kernel drops the lock when the holder ends however it ends, so a
// crashed instance never blocks the next one, and a live one is never
// disturbed. The file is never removed or replaced: a lock on a replaced
// file would no longer exclude anyone.
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
