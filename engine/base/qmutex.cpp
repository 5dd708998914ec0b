#include "engine/base/qmutex.h"

#include "platform/os_mutex.h"
#include "platform/thread_id.h"

using platform::OsMutex;

QBaseMutex::~QBaseMutex() = default;

static bool Succeeded(OsMutex::LockResult result)
{
    return result != OsMutex::LockResult::Failed;
}

QTMutex::QTMutex()
{
    Create();
}

QTMutex::~QTMutex()
{
    Destroy();
}

bool QTMutex::Create()
{
    if (handle)
        return true;
    auto made = std::make_unique<OsMutex>();
    if (!made->IsValid())
        return false;
    handle = std::move(made);
    owner.store(0);
    count.store(0);
    return true;
}

void QTMutex::Destroy()
{
    if (!handle)
        return;
    if (!IsOwnedByCaller())
        handle->Lock();
    owner.store(0);
    count.store(0);
    std::unique_ptr<OsMutex> detached = std::move(handle);
    detached->Unlock();
}

bool QTMutex::IsOwnedByCaller() const
{
    return owner.load(std::memory_order_acquire) == platform::CurrentThreadId();
}

bool QTMutex::Lock()
{
    if (IsOwnedByCaller()) {
        count.fetch_add(1);
        return true;
    }
    if (!handle || !Succeeded(handle->Lock()))
        return false;
    count.store(1);
    owner.store(platform::CurrentThreadId(), std::memory_order_release);
    return true;
}

bool QTMutex::TryLock()
{
    uint32_t holder = owner.load(std::memory_order_acquire);
    if (holder != 0) {
        if (holder != platform::CurrentThreadId())
            return false;
        count.fetch_add(1);
        return true;
    }
    if (!handle || !Succeeded(handle->TryLock()))
        return false;
    count.store(1);
    owner.store(platform::CurrentThreadId(), std::memory_order_release);
    return true;
}

bool QTMutex::Unlock()
{
    if (!IsOwnedByCaller())
        return false;
    if (count.fetch_sub(1) - 1 > 0)
        return true;
    owner.store(0, std::memory_order_release);
    if (!handle->Unlock()) {
        owner.store(platform::CurrentThreadId(), std::memory_order_release);
        count.store(1);
        return false;
    }
    return true;
}

QSMutex::QSMutex()
{
    Create();
}

QSMutex::~QSMutex()
{
    Destroy();
}

bool QSMutex::Create()
{
    if (handle)
        return true;
    auto made = std::make_unique<OsMutex>();
    if (!made->IsValid())
        return false;
    handle = std::move(made);
    return true;
}

void QSMutex::Destroy()
{
    if (!handle)
        return;
    handle->Lock();
    std::unique_ptr<OsMutex> detached = std::move(handle);
    detached->Unlock();
}

bool QSMutex::Lock()
{
    return handle && Succeeded(handle->Lock());
}

bool QSMutex::TryLock()
{
    return handle && Succeeded(handle->TryLock());
}

bool QSMutex::Unlock()
{
    return handle && handle->Unlock();
}

QAutoLock::QAutoLock(QBaseMutex *lock, bool lockNow) : lock(lock)
{
    if (lockNow)
        Lock();
}

QAutoLock::~QAutoLock()
{
    Release();
}

bool QAutoLock::Lock()
{
    if (lock != nullptr && !locked)
        locked = lock->Lock();
    return locked;
}

void QAutoLock::Release()
{
    if (lock != nullptr && locked) {
        lock->Unlock();
        locked = false;
    }
}
