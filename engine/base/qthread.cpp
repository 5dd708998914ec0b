#include "engine/base/qthread.h"

#include "engine/base/engine_clock.h"
#include "platform/thread_id.h"
#include "platform/tick.h"

namespace {
constexpr uint32_t kPollMs = 50;
// Waits of a second are cut into slices so that a stop is seen promptly.
constexpr uint32_t kSliceMs = 10;
} // namespace

QThread::QThread() = default;

QThread::~QThread()
{
    Stop();
    ReapOsThread();
}

void QThread::SleepSeconds(int seconds)
{
    for (;;) {
        for (uint32_t waited = 0; waited < 1000; waited += kSliceMs) {
            if (stopRequested.load())
                return;
            platform::SleepMs(kSliceMs);
        }
        if (seconds <= 1)
            return;
        --seconds;
        if (CheckStop())
            return;
    }
}

void QThread::Notify(intptr_t) {}

void QThread::ClearRunState()
{
    attached = nullptr;
    stopRequested = false;
    pauseRequested = false;
    running = false;
    threadId = 0;
    startSeconds = 0;
}

void QThread::ReapOsThread()
{
    QAutoLock hold(osThreadGuard);
    osThread.Join();
}

bool QThread::Start(const char *, QThreadAttachment *attachment)
{
    if (IsRunning())
        return false;
    // The previous run has ended; collect its operating-system thread first.
    ReapOsThread();

    QAutoLock hold(lock);
    ClearRunState();
    int32_t gen = generation.fetch_add(1) + 1;
    uint32_t id = platform::AllocateThreadId();
    threadId = id;

    bool created;
    {
        QAutoLock guard(osThreadGuard);
        created = osThread.Start([this, id] { ThreadProc(id); });
    }
    if (!created) {
        threadId = 0;
        delete attachment;
        return false;
    }
    attached = attachment;
    while (startedGeneration.load() != gen && threadId.load() == id) {
        lock.Unlock();
        platform::SleepMs(kPollMs);
        lock.Lock();
    }
    return startedGeneration.load() == gen;
}

void QThread::ThreadProc(uint32_t id)
{
    platform::AdoptThreadId(id);
    lock.Lock();
    if (threadId.load() != id) {
        lock.Unlock();
        return;
    }
    int32_t gen = generation.load();
    running = true;
    startedGeneration = gen;
    startSeconds = EngineSeconds();
    bool stopAtOnce = stopRequested.load();
    lock.Unlock();
    platform::SleepMs(5);

    bool threw = false;
    if (!stopAtOnce) {
        try {
            Run();
        } catch (...) {
            threw = true;
        }
    }
    // A body that died by an exception may still hold levels of the own lock;
    // release them before the run is marked ended, so that Stop cannot return
    // while this thread still touches the lock.
    if (threw) {
        while (lock.Unlock()) {
        }
    }

    lock.Lock();
    if (generation.load() == gen && threadId.load() == id) {
        delete attached;
        attached = nullptr;
        threadId = 0;
        running = false;
    }
    lock.Unlock();
}

bool QThread::Stop()
{
    lock.Lock();
    uint32_t id = threadId.load();
    if (id == 0 || id == platform::CurrentThreadId()) {
        lock.Unlock();
        return id == 0;
    }
    stopRequested = true;
    while (threadId.load() != 0 && threadId.load() == id) {
        lock.Unlock();
        platform::SleepMs(kPollMs);
        lock.Lock();
    }
    lock.Unlock();
    ReapOsThread();
    return true;
}

bool QThread::IsRunning()
{
    QAutoLock hold(lock);
    return threadId.load() != 0 && running.load();
}

bool QThread::RequestStop(uint32_t &id)
{
    QAutoLock hold(lock);
    id = threadId.load();
    if (id != 0)
        stopRequested = true;
    return id != 0;
}

bool QThread::HasEnded(uint32_t id)
{
    QAutoLock hold(lock);
    if (threadId.load() != id)
        return true;
    if (running.load())
        return false;
    ClearRunState();
    return true;
}

bool QThread::SetPause(bool on)
{
    QAutoLock hold(lock);
    bool exists = threadId.load() != 0;
    pauseRequested = exists && on;
    return exists;
}

bool QThread::IsPaused()
{
    QAutoLock hold(lock);
    return threadId.load() != 0 && pauseRequested.load();
}

bool QThread::CheckStop()
{
    if (!pauseRequested.load())
        return stopRequested.load();
    lock.Lock();
    while (threadId.load() != 0 && pauseRequested.load() && !stopRequested.load()) {
        lock.Unlock();
        for (uint32_t waited = 0; waited < 1000 && pauseRequested.load() && !stopRequested.load(); waited += kSliceMs)
            platform::SleepMs(kSliceMs);
        lock.Lock();
    }
    bool stop = stopRequested.load();
    lock.Unlock();
    return stop;
}
