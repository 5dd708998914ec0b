#include "app/resource_directory.h"

#include <cstring>

namespace {

constexpr char kMagic[8] = {'Q', 'L', 'R', 'S', 'R', 'C', '\0', '\1'};

uint64_t Little(const unsigned char *at, size_t width)
{
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i)
        value |= static_cast<uint64_t>(at[i]) << (8 * i);
    return value;
}

void PutLittle(std::string &out, uint64_t value, size_t width)
{
    for (size_t i = 0; i < width; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

bool ValidType(const unsigned char *field, std::string &type)
{
    const void *nul = std::memchr(field, 0, kResourceTypeBytes);
    if (nul == nullptr)
        return false;
    type.assign(reinterpret_cast<const char *>(field), static_cast<const unsigned char *>(nul) - field);
    return !type.empty();
}

} // namespace

bool CMemoryByteSource::ReadAt(uint64_t offset, void *buffer, size_t size) const
{
    if (offset > bytes.size() || size > bytes.size() - offset)
        return false;
    std::memcpy(buffer, bytes.data() + offset, size);
    return true;
}

ResourceDirectoryStatus ReadResourceDirectory(const IByteSource &source, TResourceDirectory &out)
{
    out = TResourceDirectory();
    const uint64_t fileSize = source.Size();
    out.appendedOffset = fileSize;
    if (fileSize < kResourceTrailerBytes)
        return ResourceDirectoryStatus::Absent;
    unsigned char trailer[kResourceTrailerBytes];
    if (!source.ReadAt(fileSize - kResourceTrailerBytes, trailer, sizeof trailer))
        return ResourceDirectoryStatus::Unreadable;
    if (std::memcmp(trailer, kMagic, sizeof kMagic) != 0)
        return ResourceDirectoryStatus::Absent;

    const uint64_t count = Little(trailer + 8, 4);
    const uint64_t entriesOffset = Little(trailer + 16, 8);
    const uint64_t appendedOffset = Little(trailer + 24, 8);
    const uint64_t entriesEnd = fileSize - kResourceTrailerBytes;
    if (count > kMaxResources || Little(trailer + 12, 4) != 0 || entriesEnd < count * kResourceEntryBytes ||
        entriesOffset != entriesEnd - count * kResourceEntryBytes || appendedOffset > entriesOffset)
        return ResourceDirectoryStatus::Corrupt;

    std::string table(static_cast<size_t>(count * kResourceEntryBytes), '\0');
    if (!table.empty() && !source.ReadAt(entriesOffset, table.data(), table.size()))
        return ResourceDirectoryStatus::Unreadable;
    TResourceDirectory directory;
    directory.appendedOffset = appendedOffset;
    for (uint64_t i = 0; i < count; ++i) {
        const auto *at = reinterpret_cast<const unsigned char *>(table.data()) + i * kResourceEntryBytes;
        TResourceEntry entry;
        if (!ValidType(at, entry.type))
            return ResourceDirectoryStatus::Corrupt;
        entry.id = static_cast<int32_t>(static_cast<uint32_t>(Little(at + 16, 4)));
        entry.language = static_cast<uint32_t>(Little(at + 20, 4));
        entry.offset = Little(at + 24, 8);
        entry.size = Little(at + 32, 8);
        if (entry.offset < appendedOffset || entry.offset > entriesOffset || entry.size > entriesOffset - entry.offset ||
            entry.size > kMaxResourceBytes)
            return ResourceDirectoryStatus::Corrupt;
        directory.entries.push_back(std::move(entry));
    }
    out = std::move(directory);
    return ResourceDirectoryStatus::Valid;
}

const TResourceEntry *FindResourceEntry(const TResourceDirectory &directory, std::string_view type, int32_t id)
{
    for (const TResourceEntry &entry : directory.entries) {
        if (entry.type == type && entry.id == id)
            return &entry;
    }
    return nullptr;
}

std::string BuildResourceDirectory(uint64_t programSize, const std::vector<TResourcePayload> &resources)
{
    std::string out;
    std::string table;
    for (const TResourcePayload &resource : resources) {
        std::string type = resource.type.substr(0, kResourceTypeBytes - 1);
        type.resize(kResourceTypeBytes, '\0');
        table += type;
        PutLittle(table, static_cast<uint32_t>(resource.id), 4);
        PutLittle(table, kResourceLanguage, 4);
        PutLittle(table, programSize + out.size(), 8);
        PutLittle(table, resource.bytes.size(), 8);
        out += resource.bytes;
    }
    const uint64_t entriesOffset = programSize + out.size();
    out += table;
    out.append(kMagic, sizeof kMagic);
    PutLittle(out, resources.size(), 4);
    PutLittle(out, 0, 4);
    PutLittle(out, entriesOffset, 8);
    PutLittle(out, programSize, 8);
    return out;
}
