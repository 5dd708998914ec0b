#include "engine/base/engine_locks.h"

QTMutex &EngineLock()
{
    static QTMutex *lock = new QTMutex;
    return *lock;
}

QTMutex &RegistryLock()
{
    static QTMutex *lock = new QTMutex;
    return *lock;
}

QTMutex &SocketLock()
{
    static QTMutex *lock = new QTMutex;
    return *lock;
}

QTMutex &DiskLock()
{
    static QTMutex *lock = new QTMutex;
    return *lock;
}
