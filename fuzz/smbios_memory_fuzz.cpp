// SMBIOS tables come from firmware; a broken one must not crash the report.
#include <cstddef>
#include <cstdint>
#include <string>

#include "report/smbios_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string table(reinterpret_cast<const char *>(data), size);
    for (const TMemoryModule &module : ParseSmbiosMemoryModules(table)) {
        if (module.speed && *module.speed == 0)
            __builtin_trap(); // 0 means unknown and must be left out
    }
    return 0;
}
