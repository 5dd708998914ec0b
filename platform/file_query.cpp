#include "platform/file_query.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {

uint64_t FreeBytesOfPath(const std::string &path)
{
    if (path.empty() || path[0] != '/')
        return 0;
    std::string probe = path;
    for (;;) {
        struct statvfs fs {};
        if (statvfs(probe.c_str(), &fs) == 0)
            return static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_frsize);
        if (errno != ENOENT && errno != ENOTDIR)
            return 0;
        while (probe.size() > 1 && probe.back() == '/')
            probe.pop_back();
        size_t cut = probe.find_last_of('/');
        if (probe == "/" || cut == std::string::npos)
            return 0;
        probe.erase(cut == 0 ? 1 : cut);
    }
}

DiskUsage FileBytesOnDisk(const std::string &path)
{
    DiskUsage usage;
    // O_PATH opens for attribute reading only: no read permission needed, and
    // a FIFO in the file's place cannot block the caller.
    int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) {
        usage.status = errno == ENOENT ? DiskUsage::Status::NotFound : DiskUsage::Status::OpenFailed;
        return usage;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        usage.status = DiskUsage::Status::QueryFailed;
    } else {
        usage.status = DiskUsage::Status::Ok;
        usage.bytes = static_cast<int64_t>(info.st_blocks) * 512;
    }
    close(fd);
    return usage;
}

} // namespace platform
