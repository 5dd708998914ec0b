#include "app/program_resources.h"

#include "app/resource_directory.h"
#include "platform/file_reader.h"
#include "platform/program_file.h"

#include <utility>

namespace {

class CFileByteSource : public IByteSource {
public:
    CFileByteSource(const platform::FileReader &file, uint64_t size) : file(file), size(size) {}
    uint64_t Size() const override { return size; }
    bool ReadAt(uint64_t offset, void *buffer, size_t count) const override
    {
        return file.ReadAt(offset, buffer, count);
    }

private:
    const platform::FileReader &file;
    uint64_t size;
};

} // namespace

CProgramResources::CProgramResources() : programPath(platform::OwnProgramPath()) {}

CProgramResources::CProgramResources(std::string programPath) : programPath(std::move(programPath)) {}

ResourceLoad CProgramResources::Load(std::string_view type, int32_t id, std::string &bytes)
{
    bytes.clear();
    platform::FileReader file;
    uint64_t size = 0;
    if (!file.Open(programPath) || !file.Size(size))
        return ResourceLoad::NoModule;
    CFileByteSource source(file, size);
    TResourceDirectory directory;
    switch (ReadResourceDirectory(source, directory)) {
    case ResourceDirectoryStatus::Absent:
        return ResourceLoad::NotFound;
    case ResourceDirectoryStatus::Valid:
        break;
    case ResourceDirectoryStatus::Corrupt:
    case ResourceDirectoryStatus::Unreadable:
        return ResourceLoad::LoadFailed;
    }
    const TResourceEntry *entry = FindResourceEntry(directory, type, id);
    if (entry == nullptr)
        return ResourceLoad::NotFound;
    std::string loaded(static_cast<size_t>(entry->size), '\0');
    if (!loaded.empty() && !file.ReadAt(entry->offset, loaded.data(), loaded.size()))
        return ResourceLoad::LoadFailed;
    bytes = std::move(loaded);
    return ResourceLoad::Loaded;
}
