#pragma once
#include <cstdint>
#include <memory>
#include <string>

// The steps of an automatic shutdown, so the controller's handling of each
// failure can be followed without powering anything off.
class IPowerControl {
public:
    virtual ~IPowerControl() = default;
    // Access to the process's privileges; false ends the attempt.
    virtual bool OpenToken() = 0;
    // Enables or disables the right to shut the machine down.
    virtual bool SetShutdownPrivilege(bool enable) = 0;
    // Shuts down after the delay, without forcing programs closed and
    // without a restart, telling the users the message.
    virtual bool RequestShutdown(uint32_t delaySeconds, const std::string &message) = 0;
};

// The machine's own power control; with QUARROWLIGHT_FAKE_SHUTDOWN=1 one
// that only writes each request to the log.
std::unique_ptr<IPowerControl> MakeSystemPowerControl();
