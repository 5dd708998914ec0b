#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

namespace platform {
class OsMutex;
}

// Base of the engine's two lock classes.
class QBaseMutex {
public:
    virtual bool Create() = 0;
    virtual void Destroy() = 0;
    virtual ~QBaseMutex();
    virtual bool Lock() = 0;
    virtual bool TryLock() = 0;
    virtual bool Unlock() = 0;

protected:
    std::unique_ptr<platform::OsMutex> handle;
};

// Recursive lock with an owner thread id and a recursion count kept beside the
// operating-system mutex. Unlock by a non-owner fails, so calling Unlock until
// it fails releases every level the calling thread holds.
class QTMutex : public QBaseMutex {
public:
    QTMutex();
    ~QTMutex() override;
    QTMutex(const QTMutex &) = delete;
    QTMutex &operator=(const QTMutex &) = delete;

    bool Create() override;
    void Destroy() override;
    bool Lock() override;
    bool TryLock() override;
    bool Unlock() override;

    // Whether the calling thread holds the lock (at any level).
    bool IsOwnedByCaller() const;

private:
    std::atomic<uint32_t> owner{0};
    std::atomic<int32_t> count{0};
};

// A bare operating-system mutex: no owner, no recursion.
class QSMutex : public QBaseMutex {
public:
    QSMutex();
    ~QSMutex() override;
    QSMutex(const QSMutex &) = delete;
    QSMutex &operator=(const QSMutex &) = delete;

    bool Create() override;
    void Destroy() override;
    bool Lock() override;
    bool TryLock() override;
    bool Unlock() override;
};

// Scoped lock: locks on request, unlocks on release only what it locked.
class QAutoLock {
public:
    explicit QAutoLock(QBaseMutex *lock, bool lockNow = true);
    explicit QAutoLock(QBaseMutex &lock, bool lockNow = true) : QAutoLock(&lock, lockNow) {}
    ~QAutoLock();
    QAutoLock(const QAutoLock &) = delete;
    QAutoLock &operator=(const QAutoLock &) = delete;

    bool Lock();
    void Release();
    bool IsLocked() const { return locked; }

private:
    QBaseMutex *lock;
    bool locked = false;
};
