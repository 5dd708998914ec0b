#include "app/upnp_switch.h"

TUpnpSwitch ReadUpnpSwitch(const char *environment, bool stamped)
{
    TUpnpSwitch result;
    result.on = stamped;
    if (environment == nullptr)
        return result;
    const std::string value = environment;
    if (value == "off") {
        result.on = false;
    } else if (value.rfind("http://", 0) == 0) {
        result.on = true;
        result.descriptionUrl = value;
    }
    return result;
}
