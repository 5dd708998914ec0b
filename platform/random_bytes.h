#pragma once
#include <cstddef>

namespace platform {

// Fills buf with bytes from the kernel's random source; false when it failed.
bool RandomBytes(void *buf, size_t size);

} // namespace platform
