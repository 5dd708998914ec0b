// The machine profile's text sources: /proc/cpuinfo, /proc/meminfo, a pci.ids
// database, interface addresses and decimal sysfs values.
#include <cstddef>
#include <cstdint>
#include <string>

#include "report/machine_id.h"
#include "report/pci_ids.h"
#include "report/proc_facts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    ParseCpuPackages(text);
    ParseMemTotalBytes(text);
    ParseMacText(text);
    ParseDecimal(text);
    // The first eight bytes choose the ids looked up in the rest.
    if (size >= 8)
        LookUpPciNames(text.substr(8), text.substr(0, 4), text.substr(4, 4));
    return 0;
}
