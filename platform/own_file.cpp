#include "platform/own_file.h"

#include "platform/atomic_replace.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool ReplaceOwnFile(const std::string &path, const std::string &contents)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode) || info.st_uid != geteuid())
            return false;
    } else if (errno != ENOENT) {
        return false;
    }
    return ReplaceFileAtomically(path, contents, false);
}

} // namespace platform
