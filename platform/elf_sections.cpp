#include "platform/elf_sections.h"

namespace platform {

namespace {

constexpr size_t kHeaderBytes = 64;
constexpr size_t kSectionHeaderBytes = 64;
constexpr uint32_t kNoBits = 8;
constexpr uint16_t kExtendedIndex = 0xffff;

uint64_t Little(std::string_view bytes, size_t at, size_t width)
{
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i)
        value |= static_cast<uint64_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
    return value;
}

// Whether [offset, offset + size) lies inside an image of imageSize bytes.
bool Inside(uint64_t offset, uint64_t size, uint64_t imageSize)
{
    return offset <= imageSize && size <= imageSize - offset;
}

} // namespace

ElfLookup FindElfSection(std::string_view image, std::string_view name, ElfSection &out)
{
    if (image.size() < kHeaderBytes || image.substr(0, 4) != std::string_view("\x7f" "ELF", 4))
        return ElfLookup::NotElf;
    // 64-bit, little-endian, version 1.
    if (image[4] != 2 || image[5] != 1 || image[6] != 1)
        return ElfLookup::NotElf;

    const uint64_t tableOffset = Little(image, 0x28, 8);
    const uint64_t entrySize = Little(image, 0x3a, 2);
    const uint64_t count = Little(image, 0x3c, 2);
    const uint64_t namesIndex = Little(image, 0x3e, 2);
    if (count == 0 || namesIndex == kExtendedIndex || namesIndex >= count || entrySize < kSectionHeaderBytes)
        return ElfLookup::Corrupt;
    if (!Inside(tableOffset, count * entrySize, image.size()))
        return ElfLookup::Corrupt;

    auto header = [&](uint64_t index) { return static_cast<size_t>(tableOffset + index * entrySize); };
    const size_t names = header(namesIndex);
    const uint64_t namesOffset = Little(image, names + 24, 8);
    const uint64_t namesSize = Little(image, names + 32, 8);
    if (Little(image, names + 4, 4) == kNoBits || !Inside(namesOffset, namesSize, image.size()))
        return ElfLookup::Corrupt;
    const std::string_view nameTable = image.substr(static_cast<size_t>(namesOffset), static_cast<size_t>(namesSize));

    for (uint64_t index = 1; index < count; ++index) {
        const size_t at = header(index);
        const uint64_t nameAt = Little(image, at, 4);
        if (nameAt >= nameTable.size())
            return ElfLookup::Corrupt;
        const size_t end = nameTable.find('\0', static_cast<size_t>(nameAt));
        if (end == std::string_view::npos)
            return ElfLookup::Corrupt;
        if (nameTable.substr(static_cast<size_t>(nameAt), end - static_cast<size_t>(nameAt)) != name)
            continue;
        out.offset = Little(image, at + 24, 8);
        out.size = Little(image, at + 32, 8);
        if (Little(image, at + 4, 4) == kNoBits || !Inside(out.offset, out.size, image.size()))
            return ElfLookup::Corrupt;
        return ElfLookup::Found;
    }
    return ElfLookup::Missing;
}

} // namespace platform
