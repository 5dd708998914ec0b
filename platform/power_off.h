#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Asks the system to power off after the delay (rounded up to whole
// minutes), announcing the message to logged-in users; true when the request
// was accepted.
bool RequestPowerOff(uint32_t delaySeconds, const std::string &message);

// QUARROWLIGHT_FAKE_SHUTDOWN=1: shutdown requests are recorded, not made.
bool ShutdownIsFaked();

} // namespace platform
