#include "report/smbios_memory.h"

namespace {
constexpr uint8_t kMemoryDevice = 17;
constexpr uint8_t kEndOfTable = 127;
constexpr size_t kHeaderBytes = 4;

// Offsets inside a Memory Device structure.
constexpr size_t kSize = 0x0C;
constexpr size_t kMemoryType = 0x12;
constexpr size_t kSpeed = 0x15;
constexpr size_t kExtendedSize = 0x1C;
constexpr size_t kExtendedSpeed = 0x54;

class Structure {
public:
    Structure(const std::string &table, size_t start, size_t length) : table(table), start(start), length(length) {}
    bool Has(size_t offset, size_t bytes) const { return offset + bytes <= length; }
    uint64_t Little(size_t offset, size_t bytes) const
    {
        uint64_t value = 0;
        for (size_t i = bytes; i-- > 0;)
            value = (value << 8) | static_cast<unsigned char>(table[start + offset + i]);
        return value;
    }

private:
    const std::string &table;
    size_t start;
    size_t length;
};

std::optional<uint64_t> CapacityOf(const Structure &s, uint64_t size)
{
    if (size == 0xFFFF)
        return std::nullopt; // unknown
    if (size == 0x7FFF) {
        if (!s.Has(kExtendedSize, 4))
            return std::nullopt;
        return (s.Little(kExtendedSize, 4) & 0x7FFFFFFF) << 20; // MiB
    }
    if ((size & 0x8000) != 0)
        return (size & 0x7FFF) << 10; // KiB
    return size << 20;                // MiB
}

std::optional<uint32_t> SpeedOf(const Structure &s)
{
    if (!s.Has(kSpeed, 2))
        return std::nullopt;
    uint64_t speed = s.Little(kSpeed, 2);
    if (speed == 0xFFFF && s.Has(kExtendedSpeed, 4))
        speed = s.Little(kExtendedSpeed, 4);
    if (speed == 0 || speed == 0xFFFF)
        return std::nullopt; // unknown
    return static_cast<uint32_t>(speed);
}
} // namespace

std::vector<TMemoryModule> ParseSmbiosMemoryModules(const std::string &table)
{
    std::vector<TMemoryModule> modules;
    size_t pos = 0;
    while (table.size() - pos >= kHeaderBytes) {
        auto type = static_cast<uint8_t>(table[pos]);
        auto length = static_cast<size_t>(static_cast<unsigned char>(table[pos + 1]));
        if (length < kHeaderBytes || length > table.size() - pos)
            break;
        // The formatted area is followed by its strings, ended by two NULs.
        size_t end = pos + length;
        while (end + 1 < table.size() && (table[end] != '\0' || table[end + 1] != '\0'))
            ++end;
        if (end + 1 >= table.size())
            break;
        if (type == kEndOfTable)
            break;
        if (type == kMemoryDevice) {
            Structure s(table, pos, length);
            uint64_t size = s.Has(kSize, 2) ? s.Little(kSize, 2) : 0xFFFF;
            if (size != 0) { // 0: an empty slot
                TMemoryModule module;
                if (s.Has(kMemoryType, 1))
                    module.smbiosType = static_cast<uint8_t>(s.Little(kMemoryType, 1));
                module.capacity = CapacityOf(s, size);
                module.speed = SpeedOf(s);
                modules.push_back(module);
            }
        }
        pos = end + 2;
    }
    return modules;
}
