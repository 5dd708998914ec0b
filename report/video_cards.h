#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/profile_sources.h"

struct TVideoCard {
    std::optional<std::string> name;
    std::optional<uint64_t> memoryBytes;
    std::optional<std::string> driverVersion;
};

// The display devices of /sys/class/drm ("card0", "card1" …, connectors left
// out) in number order. The name comes from the pci.ids database when one is
// installed, else it is the PCI ids "vvvv:dddd"; the memory is what the driver
// publishes (amdgpu's "mem_info_vram_total"), the version that of the driver's
// module. Each is left out when the system does not tell it.
std::vector<TVideoCard> CollectVideoCards(const TProfileSources &sources);
