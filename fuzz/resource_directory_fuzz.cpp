// Reads arbitrary bytes as a program file with an appended resource
// directory; every entry accepted must lie inside the file, and a directory
// rebuilt from the entries must read back the same.
#include "app/resource_directory.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

static void Require(bool condition)
{
    if (!condition)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string image(reinterpret_cast<const char *>(data), size);
    CMemoryByteSource source(image);
    TResourceDirectory directory;
    if (ReadResourceDirectory(source, directory) != ResourceDirectoryStatus::Valid)
        return 0;
    Require(directory.appendedOffset <= image.size());
    std::vector<TResourcePayload> payloads;
    for (const TResourceEntry &entry : directory.entries) {
        Require(entry.offset >= directory.appendedOffset);
        Require(entry.offset <= image.size() && entry.size <= image.size() - entry.offset);
        Require(!entry.type.empty() && entry.type.size() < kResourceTypeBytes);
        payloads.push_back({entry.type, entry.id, image.substr(entry.offset, entry.size)});
    }
    const std::string body = image.substr(0, directory.appendedOffset);
    const std::string rebuilt = body + BuildResourceDirectory(body.size(), payloads);
    CMemoryByteSource again(rebuilt);
    TResourceDirectory reread;
    Require(ReadResourceDirectory(again, reread) == ResourceDirectoryStatus::Valid);
    Require(reread.entries.size() == payloads.size());
    for (size_t i = 0; i < payloads.size(); ++i) {
        const TResourceEntry &entry = reread.entries[i];
        Require(entry.type == payloads[i].type && entry.id == payloads[i].id);
        Require(rebuilt.compare(entry.offset, entry.size, payloads[i].bytes) == 0);
    }
    return 0;
}
