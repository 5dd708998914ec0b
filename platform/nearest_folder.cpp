#include "platform/nearest_folder.h"

#include <cerrno>
#include <sys/stat.h>

namespace platform {

std::string NearestFolder(std::string path)
{
    if (path.empty() || path[0] != '/')
        return std::string();
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

} // namespace platform
