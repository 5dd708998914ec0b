#include "app/connection_override.h"

#include "platform/ini.h"

uint32_t ReadConnectionBudget(const std::string &path)
{
    const int value = platform::IniReadInt(path, "QuarrowlightTask", "QuarrowlightTaskLink", 0);
    if (value < 10 || value > 200)
        return kDefaultHttpConnections;
    return static_cast<uint32_t>(value);
}
