#pragma once
#include "app/app_file_system.h"

// The real file system.
class CLocalFileSystem : public IAppFileSystem {
public:
    bool Exists(const std::string &path) override;
    bool IsFolder(const std::string &path) override;
    bool MakeFolders(const std::string &path) override;
    bool QueryFile(const std::string &path, TFileFacts &facts) override;
    std::unique_ptr<IReadableFile> OpenForReading(const std::string &path) override;
    bool WriteOwnFile(const std::string &path, const std::string &contents) override;
    bool RemoveFile(const std::string &path) override;
    uint64_t FreeBytes(const std::string &path) override;
    TStorageMode StorageMode(const std::string &path) override;
    bool TakesNewFiles(const std::string &folder) override;
    std::string TempFolder() override;
    std::string CommonDataFolder() override;
    std::string HomeFolder() override;
    std::string DownloadFolder() override;
};
