#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

// What the mapping worker waits on: opened once the gateway search has
// ended, and stopped for good when the controller goes, which ends every
// wait at once. Tests override the waits to run a minute in no time.
class CMappingGate {
public:
    enum class EWait { Opened, TimedOut, Stopped };

    virtual ~CMappingGate() = default;

    void Open();
    void Stop();
    bool IsOpen();

    // Up to ms for Open; a stop wins over an open gate.
    virtual EWait WaitOpen(uint32_t ms);
    // Sleeps ms unless a stop comes first; true when stopped.
    virtual bool SleepUnlessStopped(uint32_t ms);

private:
    std::mutex lock;
    std::condition_variable changed;
    bool opened = false;
    bool stopped = false;
};
