#pragma once
#include <atomic>
#include <cstdint>

#include "engine/base/qmutex.h"
#include "platform/os_thread.h"

// An object handed to QThread::Start; the thread deletes it when its run ends.
class QThreadAttachment {
public:
    virtual ~QThreadAttachment() = default;
};

// One cooperatively stopped operating-system thread at a time, with its own
// recursive lock. Stop raises a flag the body polls through CheckStop and waits
// for the body to return. Concrete classes call Stop in their own destructor:
// by the time this base destructor runs, the derived parts are already gone.
class QThread {
public:
    QThread();
    virtual ~QThread();
    QThread(const QThread &) = delete;
    QThread &operator=(const QThread &) = delete;

    virtual void Run() = 0;
    virtual void Refresh() = 0;
    virtual void SleepSeconds(int seconds);
    virtual void Notify(intptr_t arg);

    // Starts the body; returns once it runs (true) or creation failed (false,
    // and attached is deleted). A running thread is left alone (false, and
    // attached stays the caller's). The name is only a label for callers.
    bool Start(const char *name, QThreadAttachment *attached = nullptr);
    bool Stop();
    bool IsRunning();
    bool RequestStop(uint32_t &id);
    bool HasEnded(uint32_t id);
    bool SetPause(bool on);
    bool IsPaused();
    bool CheckStop();
    // Whether a stop was asked for, without CheckStop's wait while paused:
    // for waits inside the body that must end on a stop.
    bool StopRequested() const { return stopRequested.load(); }

    bool Lock() { return lock.Lock(); }
    bool Unlock() { return lock.Unlock(); }
    QTMutex &OwnLock() { return lock; }

    uint32_t ThreadId() const { return threadId.load(); }
    uint32_t StartSeconds() const { return startSeconds.load(); }
    int32_t Generation() const { return generation.load(); }

private:
    void ThreadProc(uint32_t id);
    void ClearRunState();
    void ReapOsThread();

    QTMutex lock;
    QThreadAttachment *attached = nullptr;
    std::atomic<uint32_t> threadId{0};
    std::atomic<bool> running{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> pauseRequested{false};
    std::atomic<uint32_t> startSeconds{0};
    std::atomic<int32_t> generation{0};
    // The generation whose body has begun; lets Start tell a body that already
    // finished from one that never started.
    std::atomic<int32_t> startedGeneration{0};

    QSMutex osThreadGuard;
    platform::OsThread osThread;
};
