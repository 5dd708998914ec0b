// Looks for a section in arbitrary bytes read as an ELF program; a section
// found must lie inside them.
#include "platform/elf_sections.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view image(reinterpret_cast<const char *>(data), size);
    for (const char *name : {".qlmanifest", ".text", ""}) {
        platform::ElfSection section;
        if (platform::FindElfSection(image, name, section) == platform::ElfLookup::Found &&
            (section.offset > size || section.size > size - section.offset))
            std::abort();
    }
    return 0;
}
