#pragma once

namespace platform {

// A TCP port on 127.0.0.1 that nothing listens on at this moment (the
// system picks it); 0 when none could be had. For tests that start servers.
int FreeLoopbackPort();

} // namespace platform
