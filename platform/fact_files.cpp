#include "platform/fact_files.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool ReadFileBounded(const std::string &path, size_t maxBytes, std::string &out)
{
    out.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = true;
    char chunk[8192];
    while (out.size() < maxBytes) {
        size_t want = std::min(sizeof chunk, maxBytes - out.size());
        ssize_t n = read(fd, chunk, want);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        if (n == 0)
            break;
        out.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return ok;
}

std::vector<std::string> ListFolder(const std::string &path)
{
    std::vector<std::string> names;
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr)
        return names;
    while (struct dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool EntryExists(const std::string &path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

bool RegularFileExists(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ReadLinkText(const std::string &path, std::string &out)
{
    char target[PATH_MAX];
    ssize_t n = readlink(path.c_str(), target, sizeof target);
    if (n < 0 || static_cast<size_t>(n) >= sizeof target)
        return false;
    out.assign(target, static_cast<size_t>(n));
    return true;
}

} // namespace platform
