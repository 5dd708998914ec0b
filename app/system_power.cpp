#include "app/power_control.h"

#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "platform/power_off.h"

namespace {

// Privileges have no counterpart here: the shutdown program decides who may
// power off.
class CSystemPower : public IPowerControl {
public:
    bool OpenToken() override { return true; }
    bool SetShutdownPrivilege(bool) override { return true; }
    bool RequestShutdown(uint32_t delaySeconds, const std::string &message) override
    {
        return platform::RequestPowerOff(delaySeconds, message);
    }
};

class CLoggedPower : public IPowerControl {
public:
    bool OpenToken() override { return true; }
    bool SetShutdownPrivilege(bool) override { return true; }
    bool RequestShutdown(uint32_t delaySeconds, const std::string &message) override
    {
        EngineLogFormat(LOG_CHANNEL_CONTROLLER, "shutdown requested (not made): in %u s, %s", delaySeconds, message.c_str());
        return true;
    }
};

} // namespace

std::unique_ptr<IPowerControl> MakeSystemPowerControl()
{
    if (platform::ShutdownIsFaked())
        return std::make_unique<CLoggedPower>();
    return std::make_unique<CSystemPower>();
}
