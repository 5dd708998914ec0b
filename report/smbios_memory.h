#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One installed memory module: an SMBIOS "Memory Device" (type 17) structure
// with a non-zero size.
struct TMemoryModule {
    std::optional<uint8_t> smbiosType; // "Memory Type" byte
    std::optional<uint64_t> capacity;  // bytes
    std::optional<uint32_t> speed;     // MT/s
};

// The memory modules of a raw SMBIOS structure table (as in
// /sys/firmware/dmi/tables/DMI). Reading stops at the end-of-table structure
// or at the first structure that does not fit in the bytes given.
std::vector<TMemoryModule> ParseSmbiosMemoryModules(const std::string &table);
