#pragma once
#include <pthread.h>

namespace platform {

// A non-recursive, robust operating-system mutex. A lock whose owner died
// while holding it is taken over by the next locker ("abandoned" wait).
class OsMutex {
public:
    enum class LockResult { Acquired, Abandoned, Failed };

    OsMutex();
    ~OsMutex();
    OsMutex(const OsMutex &) = delete;
    OsMutex &operator=(const OsMutex &) = delete;

    bool IsValid() const { return valid; }
    LockResult Lock();
    LockResult TryLock();
    bool Unlock();

private:
    LockResult Finish(int rc);

    pthread_mutex_t mutex;
    bool valid = false;
};

} // namespace platform
