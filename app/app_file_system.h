#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The file operations the downloader's application side needs, behind an
// interface so the controller, the persisted state and the verification run
// in tests against a scratch folder or a fake with injected failures.

// Whether a folder's file system reserves a file's blocks when the engine
// allocates it, or leaves the file sparse (the disk may then fill while
// downloading), or does neither (every byte of the length is written as the
// file grows); Unknown when the folder cannot be asked.
enum class TStorageMode { Preallocated, Sparse, Dense, Unknown };

struct TFileFacts {
    uint64_t size = 0;
    uint64_t writeTime = 0; // 100-ns units since 1601-01-01 UTC
};

class IReadableFile {
public:
    virtual ~IReadableFile() = default;
    virtual bool Size(uint64_t &size) = 0;
    // The count read, 0 at the end, -1 on an error.
    virtual int64_t Read(void *buffer, size_t size) = 0;
};

class IAppFileSystem {
public:
    virtual ~IAppFileSystem() = default;

    // Whether anything exists under the name.
    virtual bool Exists(const std::string &path) = 0;
    virtual bool IsFolder(const std::string &path) = 0;
    // Creates a folder with every missing parent; an existing one is success.
    virtual bool MakeFolders(const std::string &path) = 0;
    // Size and last write of a regular file; false when there is none.
    virtual bool QueryFile(const std::string &path, TFileFacts &facts) = 0;
    // Null when the file cannot be opened for reading.
    virtual std::unique_ptr<IReadableFile> OpenForReading(const std::string &path) = 0;
    // Writes a whole file of ours, never through a link and never over
    // another user's file (the TEMP folder is shared); false on any failure.
    virtual bool WriteOwnFile(const std::string &path, const std::string &contents) = 0;
    // True when the file is gone (also when it never existed).
    virtual bool RemoveFile(const std::string &path) = 0;
    // Bytes available on the file system of an absolute path; 0 otherwise.
    virtual uint64_t FreeBytes(const std::string &path) = 0;
    // Of the file system that holds an absolute path.
    virtual TStorageMode StorageMode(const std::string &path) = 0;
    // Whether files can be made in a folder, or where it would be made: a
    // writable folder on a file system that stores data.
    virtual bool TakesNewFiles(const std::string &folder) = 0;

    virtual std::string TempFolder() = 0;
    virtual std::string CommonDataFolder() = 0;
    virtual std::string HomeFolder() = 0;
    virtual std::string DownloadFolder() = 0;
};
