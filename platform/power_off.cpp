#include "platform/power_off.h"

#include <cstdlib>
#include <cstring>

#include "platform/run_program.h"

namespace platform {

bool RequestPowerOff(uint32_t delaySeconds, const std::string &message)
{
    const uint32_t minutes = (delaySeconds + 59) / 60;
    return RunProgram({"shutdown", "--poweroff", "+" + std::to_string(minutes), message}) == 0;
}

bool ShutdownIsFaked()
{
    const char *value = std::getenv("QUARROWLIGHT_FAKE_SHUTDOWN");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

} // namespace platform
