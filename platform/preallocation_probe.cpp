#include "platform/preallocation_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/nearest_folder.h"

namespace platform {

namespace {

constexpr off_t kProbeBytes = 65536;

} // namespace

Preallocation ProbePreallocation(const std::string &path)
{
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
