#include "platform/preallocation_probe.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr off_t kProbeBytes = 65536;

std::string NearestFolder(std::string path)
{
    for (;;) {
        struct stat info {};
        if (stat(path.c_str(), &info) == 0)
            return S_ISDIR(info.st_mode) ? path : std::string();
        if (errno != ENOENT)
            return std::string();
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        const size_t cut = path.find_last_of('/');
        if (path == "/" || cut == std::string::npos)
            return std::string();
        path.erase(cut == 0 ? 1 : cut);
    }
}

} // namespace

Preallocation ProbePreallocation(const std::string &path)
{
    if (path.empty() || path[0] != '/')
        return Preallocation::Unknown;
    const std::string folder = NearestFolder(path);
    if (folder.empty())
        return Preallocation::Unknown;
    const int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        return Preallocation::Unknown;
    Preallocation kind = Preallocation::Supported;
    if (fallocate(fd, 0, 0, kProbeBytes) != 0) {
        // A length set without writing leaves a hole where holes exist.
        struct stat info {};
        const bool grown = ftruncate(fd, kProbeBytes) == 0 && fstat(fd, &info) == 0;
        if (!grown)
            kind = Preallocation::Unknown;
        else
            kind = static_cast<off_t>(info.st_blocks) * 512 < kProbeBytes ? Preallocation::Sparse : Preallocation::Dense;
    }
    close(fd);
    return kind;
}

} // namespace platform
