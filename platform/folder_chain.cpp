#include "platform/folder_chain.h"

#include <cerrno>
#include <sys/stat.h>

namespace platform {

bool MakeFolderChain(const std::string &path, bool privateFolders)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    const mode_t mode = privateFolders ? 0700 : 0755;
    // Each prefix ending before a '/' is a parent; the path itself comes last.
    for (size_t end = 1; end <= path.size(); ++end) {
        if (end != path.size() && path[end] != '/')
            continue;
        std::string prefix = path.substr(0, end);
        if (prefix.back() == '/')
            continue;
        if (mkdir(prefix.c_str(), mode) == 0)
            continue;
        if (errno != EEXIST)
            return false;
        struct stat info {};
        if (stat(prefix.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            return false;
    }
    return true;
}

} // namespace platform
