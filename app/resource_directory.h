#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The embedded resources (torrents, report configuration) travel as a
// directory appended to the program file, after everything the loader maps:
//
//   payloads      the bytes of each resource, one after another
//   entries       count × 40 bytes: type (16 bytes, NUL-padded), id (i32),
//                 language (u32), offset (u64, in the file), size (u64)
//   trailer       32 bytes: magic "QLRSRC\0\1", count (u32), 0 (u32),
//                 offset of the entries (u64), offset of the appended part
//                 (u64, the size of the program without it)
//
// Numbers are little-endian. The program finds the directory through the
// trailer at the end of its own file (/proc/self/exe); the stamper replaces
// an existing one. Stripping a stamped program drops it: stamp after strip.

inline constexpr uint32_t kResourceLanguage = 2052;
inline constexpr size_t kResourceTypeBytes = 16;
inline constexpr size_t kResourceEntryBytes = 40;
inline constexpr size_t kResourceTrailerBytes = 32;
inline constexpr size_t kMaxResources = 64;
inline constexpr uint64_t kMaxResourceBytes = 64ULL * 1024 * 1024;

struct TResourceEntry {
    std::string type;
    int32_t id = 0;
    uint32_t language = kResourceLanguage;
    uint64_t offset = 0;
    uint64_t size = 0;
};

struct TResourceDirectory {
    uint64_t appendedOffset = 0; // where the appended part begins
    std::vector<TResourceEntry> entries;
};

// Positioned reads from a program file or an image in memory.
class IByteSource {
public:
    virtual ~IByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Exactly size bytes at offset, or false.
    virtual bool ReadAt(uint64_t offset, void *buffer, size_t size) const = 0;
};

class CMemoryByteSource : public IByteSource {
public:
    explicit CMemoryByteSource(std::string_view bytes) : bytes(bytes) {}
    uint64_t Size() const override { return bytes.size(); }
    bool ReadAt(uint64_t offset, void *buffer, size_t size) const override;

private:
    std::string_view bytes;
};

enum class ResourceDirectoryStatus { Absent, Valid, Corrupt, Unreadable };

// Reads and checks the directory: every entry must lie inside the appended
// part, before the entries, and name a type of 1 to 15 bytes.
ResourceDirectoryStatus ReadResourceDirectory(const IByteSource &source, TResourceDirectory &out);

// The first entry of that type (compared exactly) and id; null when none.
const TResourceEntry *FindResourceEntry(const TResourceDirectory &directory, std::string_view type, int32_t id);

struct TResourcePayload {
    std::string type;
    int32_t id = 0;
    std::string bytes;
};

// The bytes to append to a program of programSize bytes (without any earlier
// directory) so that it carries these resources. The caller keeps to
// kMaxResources, kMaxResourceBytes and types of 1 to 15 bytes.
std::string BuildResourceDirectory(uint64_t programSize, const std::vector<TResourcePayload> &resources);
