#include "platform/remove_file.h"

#include <cerrno>
#include <unistd.h>

namespace platform {

bool RemoveFile(const std::string &path)
{
    return unlink(path.c_str()) == 0 || errno == ENOENT;
}

} // namespace platform
