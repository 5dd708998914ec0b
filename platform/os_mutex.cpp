#include "platform/os_mutex.h"

#include <cerrno>

namespace platform {

OsMutex::OsMutex()
{
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0)
        return;
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    valid = pthread_mutex_init(&mutex, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
}

OsMutex::~OsMutex()
{
    if (valid)
        pthread_mutex_destroy(&mutex);
}

OsMutex::LockResult OsMutex::Finish(int rc)
{
    if (rc == 0)
        return LockResult::Acquired;
    if (rc == EOWNERDEAD) {
        pthread_mutex_consistent(&mutex);
        return LockResult::Abandoned;
    }
    return LockResult::Failed;
}

OsMutex::LockResult OsMutex::Lock()
{
    if (!valid)
        return LockResult::Failed;
    return Finish(pthread_mutex_lock(&mutex));
}

OsMutex::LockResult OsMutex::TryLock()
{
    if (!valid)
        return LockResult::Failed;
    return Finish(pthread_mutex_trylock(&mutex));
}

bool OsMutex::Unlock()
{
    return valid && pthread_mutex_unlock(&mutex) == 0;
}

} // namespace platform
