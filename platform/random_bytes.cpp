#include "platform/random_bytes.h"

#include <cerrno>
#include <sys/random.h>

namespace platform {

bool RandomBytes(void *buf, size_t size)
{
    auto *out = static_cast<unsigned char *>(buf);
    while (size > 0) {
        ssize_t n = getrandom(out, size, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        out += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace platform
