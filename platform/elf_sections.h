#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Finds a named section in a 64-bit little-endian ELF program image (the
// format this platform's programs come in), so a stamper can rewrite the
// bytes of a data section in place. Every header field is checked against
// the image before it is used.
struct ElfSection {
    uint64_t offset = 0; // in the file
    uint64_t size = 0;
};

enum class ElfLookup { Found, NotElf, Missing, Corrupt };

ElfLookup FindElfSection(std::string_view image, std::string_view name, ElfSection &out);

} // namespace platform
