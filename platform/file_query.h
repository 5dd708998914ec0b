#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Bytes available to the caller on the file system holding an absolute path,
// asked of its nearest existing ancestor; 0 for a relative path or a failure.
uint64_t FreeBytesOfPath(const std::string &path);

struct DiskUsage {
    enum class Status { Ok, NotFound, OpenFailed, QueryFailed };
    Status status = Status::NotFound;
    int64_t bytes = 0; // blocks the file occupies, st_blocks × 512
};

// How much disk space an existing file occupies.
DiskUsage FileBytesOnDisk(const std::string &path);

} // namespace platform
