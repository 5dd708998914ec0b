#include "app/mapping_gate.h"

#include <chrono>

void CMappingGate::Open()
{
    std::lock_guard<std::mutex> hold(lock);
    opened = true;
    changed.notify_all();
}

void CMappingGate::Stop()
{
    std::lock_guard<std::mutex> hold(lock);
    stopped = true;
    changed.notify_all();
}

bool CMappingGate::IsOpen()
{
    std::lock_guard<std::mutex> hold(lock);
    return opened;
}

CMappingGate::EWait CMappingGate::WaitOpen(uint32_t ms)
{
    std::unique_lock<std::mutex> hold(lock);
    changed.wait_for(hold, std::chrono::milliseconds(ms), [this] { return opened || stopped; });
    if (stopped)
        return EWait::Stopped;
    return opened ? EWait::Opened : EWait::TimedOut;
}

bool CMappingGate::SleepUnlessStopped(uint32_t ms)
{
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::milliseconds(ms), [this] { return stopped; });
}
