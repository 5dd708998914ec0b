#include "platform/process_memory.h"

#include <sys/resource.h>

namespace platform {

int64_t PeakResidentBytes()
{
    struct rusage usage {};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return -1;
    return static_cast<int64_t>(usage.ru_maxrss) * 1024; // reported in KiB
}

} // namespace platform
