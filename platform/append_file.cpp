#include "platform/append_file.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

bool AppendToFile(const std::string &path, const char *data, size_t size)
{
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = true;
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    close(fd);
    return ok;
}

} // namespace platform
