#pragma once
#include <cstdint>

namespace platform {

// The most memory this process has held resident so far, in bytes.
int64_t PeakResidentBytes();

} // namespace platform
