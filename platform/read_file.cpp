#include "platform/read_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

ReadFileStatus ReadWholeFile(const std::string &path, size_t maxBytes, std::string &out)
{
    out.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return ReadFileStatus::Unreadable;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return ReadFileStatus::Unreadable;
    }
    if (static_cast<uint64_t>(info.st_size) > maxBytes) {
        close(fd);
        return ReadFileStatus::TooLarge;
    }
    // The size is only a hint: the file may grow or shrink while it is read.
    std::string buffer(static_cast<size_t>(info.st_size), '\0');
    size_t filled = 0;
    ReadFileStatus status = ReadFileStatus::Ok;
    for (;;) {
        if (filled == buffer.size()) {
            if (buffer.size() >= maxBytes) {
                char probe;
                ssize_t extra = read(fd, &probe, 1);
                if (extra > 0)
                    status = ReadFileStatus::TooLarge;
                else if (extra < 0 && errno != EINTR)
                    status = ReadFileStatus::Unreadable;
                else if (extra < 0)
                    continue;
                break;
            }
            buffer.resize(std::min(maxBytes, buffer.size() + 65536));
        }
        ssize_t n = read(fd, buffer.data() + filled, buffer.size() - filled);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            status = ReadFileStatus::Unreadable;
            break;
        }
        if (n == 0)
            break;
        filled += static_cast<size_t>(n);
    }
    close(fd);
    if (status != ReadFileStatus::Ok)
        return status;
    buffer.resize(filled);
    out = std::move(buffer);
    return ReadFileStatus::Ok;
}

} // namespace platform
