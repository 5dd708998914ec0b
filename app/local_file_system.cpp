#include "app/local_file_system.h"

#include "platform/file_query.h"
#include "platform/file_reader.h"
#include "platform/file_status.h"
#include "platform/folder_chain.h"
#include "platform/own_file.h"
#include "platform/preallocation_probe.h"
#include "platform/remove_file.h"
#include "platform/special_folders.h"
#include "platform/writable_folder.h"

namespace {

class CLocalReadableFile : public IReadableFile {
public:
    bool Open(const std::string &path) { return file.Open(path); }
    bool Size(uint64_t &size) override { return file.Size(size); }
    int64_t Read(void *buffer, size_t size) override { return file.Read(buffer, size); }

private:
    platform::FileReader file;
};

} // namespace

bool CLocalFileSystem::Exists(const std::string &path)
{
    return platform::EntryPresent(path);
}

bool CLocalFileSystem::IsFolder(const std::string &path)
{
    return platform::FolderPresent(path);
}

bool CLocalFileSystem::MakeFolders(const std::string &path)
{
    return platform::MakeFolderChain(path);
}

bool CLocalFileSystem::QueryFile(const std::string &path, TFileFacts &facts)
{
    platform::FileStatus status;
    if (!platform::QueryRegularFile(path, status))
        return false;
    facts.size = status.size;
    facts.writeTime = status.writeTime;
    return true;
}

std::unique_ptr<IReadableFile> CLocalFileSystem::OpenForReading(const std::string &path)
{
    auto file = std::make_unique<CLocalReadableFile>();
    if (!file->Open(path))
        return nullptr;
    return file;
}

bool CLocalFileSystem::WriteOwnFile(const std::string &path, const std::string &contents)
{
    return platform::ReplaceOwnFile(path, contents);
}

bool CLocalFileSystem::RemoveFile(const std::string &path)
{
    return platform::RemoveFile(path);
}

uint64_t CLocalFileSystem::FreeBytes(const std::string &path)
{
    return platform::FreeBytesOfPath(path);
}

TStorageMode CLocalFileSystem::StorageMode(const std::string &path)
{
    switch (platform::ProbePreallocation(path)) {
    case platform::Preallocation::Supported:
        return TStorageMode::Preallocated;
    case platform::Preallocation::Sparse:
        return TStorageMode::Sparse;
    case platform::Preallocation::Dense:
        return TStorageMode::Dense;
    case platform::Preallocation::Unknown:
        break;
    }
    return TStorageMode::Unknown;
}

bool CLocalFileSystem::TakesNewFiles(const std::string &folder)
{
    return platform::FolderTakesNewFiles(folder);
}

std::string CLocalFileSystem::TempFolder()
{
    return platform::TempFolder();
}

std::string CLocalFileSystem::CommonDataFolder()
{
    return platform::CommonDataFolder();
}

std::string CLocalFileSystem::HomeFolder()
{
    return platform::HomeFolder();
}

std::string CLocalFileSystem::DownloadFolder()
{
    return platform::DownloadFolder();
}
