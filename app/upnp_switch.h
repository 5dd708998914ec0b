#pragma once
#include <string>

// Whether the port is mapped, and how the gateway is found.
struct TUpnpSwitch {
    bool on = false;
    // The gateway's root description: no search on the LAN. Empty: search.
    std::string descriptionUrl;
};

// QUARROWLIGHT_UPNP's value (null when unset) over the stamped switch:
// "off" switches mapping off, an http:// URL names the gateway's root
// description, anything else leaves the stamped switch in force.
TUpnpSwitch ReadUpnpSwitch(const char *environment, bool stamped);
