#pragma once

namespace platform {

// Names the calling thread for debuggers and `top -H` (cut to 15 bytes).
void NameCurrentThread(const char *name);

} // namespace platform
