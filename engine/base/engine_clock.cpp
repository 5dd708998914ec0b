#include "engine/base/engine_clock.h"

#include <atomic>
#include <cstdlib>
#include <ctime>

#include "engine/base/engine_locks.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "platform/tick.h"

namespace {
std::atomic<uint32_t> engineSeconds{1};
std::atomic<int64_t> engineTime{0};
// Added by AdvanceEngineClock; kept apart so the time thread's own
// arithmetic from its bases stays untouched.
std::atomic<uint32_t> advancedSeconds{0};
std::atomic<QTimeThread *> timeThread{nullptr};

void StopAtExit()
{
    StopTimeThread();
}
} // namespace

void TimeEnsure()
{
    if (timeThread.load() != nullptr)
        return;
    QAutoLock hold(RegistryLock());
    if (timeThread.load() != nullptr)
        return;
    static std::atomic<bool> exitHookSet{false};
    if (!exitHookSet.exchange(true))
        std::atexit(StopAtExit); // a thread made by a late clock read is still stopped
    engineTime = 0;
    auto *made = new QTimeThread;
    // Published before Start: the body reads the clock, which must not recurse here.
    timeThread = made;
    made->Start("TimeEnsure");
}

void StopTimeThread()
{
    QTimeThread *stopping;
    {
        QAutoLock hold(RegistryLock());
        stopping = timeThread.exchange(nullptr);
    }
    if (stopping == nullptr)
        return;
    stopping->Stop();
    EngineLogWrite("Time Ensure Thread Stopped.. ", LOG_CHANNEL_CLOCK);
    delete stopping;
}

uint32_t EngineSeconds()
{
    if (timeThread.load() == nullptr)
        TimeEnsure();
    return engineSeconds.load() + advancedSeconds.load();
}

int64_t EngineTime()
{
    if (timeThread.load() == nullptr)
        TimeEnsure();
    int64_t value = engineTime.load();
    if (value == 0)
        return static_cast<int64_t>(std::time(nullptr)) + advancedSeconds.load();
    return value + advancedSeconds.load();
}

void AdvanceEngineClock(uint32_t seconds)
{
    advancedSeconds.fetch_add(seconds);
}

QTimeThread::~QTimeThread()
{
    Stop();
}

void QTimeThread::BeginRounds()
{
    baseTick = platform::TickCount();
    if (engineTime.load() == 0)
        engineTime = static_cast<int64_t>(std::time(nullptr));
    baseTime = engineTime.load();
    baseSeconds = engineSeconds.load();
}

void QTimeThread::Round()
{
    uint32_t tick = platform::TickCount();
    if (tick < baseTick) {
        // The 32-bit tick count wrapped: count one second and start new bases.
        engineTime.fetch_add(1);
        engineSeconds.fetch_add(1);
        baseTick = tick;
        baseTime = engineTime.load();
        baseSeconds = engineSeconds.load();
        return;
    }
    uint32_t elapsed = (tick - baseTick) / 1000;
    engineTime = baseTime + elapsed;
    engineSeconds = baseSeconds + elapsed;
}

void QTimeThread::Run()
{
    BeginRounds();
    for (;;) {
        Round();
        for (int i = 0; i < 10; ++i) {
            if (CheckStop())
                return;
            platform::SleepMs(100);
        }
        if (CheckStop())
            return;
    }
}
