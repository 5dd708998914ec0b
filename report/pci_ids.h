#pragma once
#include <optional>
#include <string>

struct TPciNames {
    std::string vendor;
    std::optional<std::string> device;
};

// Looks a PCI vendor and device (four lower-case hex digits each) up in the
// text of a pci.ids database; nothing when the vendor is not listed.
std::optional<TPciNames> LookUpPciNames(const std::string &database, const std::string &vendor,
                                        const std::string &device);
