#include "platform/file_status.h"

#include <sys/stat.h>

namespace platform {

namespace {
// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kEpochGapSeconds = 11644473600ULL;
} // namespace

bool QueryRegularFile(const std::string &path, FileStatus &out)
{
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    out.size = static_cast<uint64_t>(info.st_size);
    int64_t seconds = static_cast<int64_t>(info.st_mtim.tv_sec);
    // Times before 1601 cannot be stored; they count as 1601.
    if (seconds < -static_cast<int64_t>(kEpochGapSeconds)) {
        out.writeTime = 0;
        return true;
    }
    out.writeTime = (static_cast<uint64_t>(seconds + static_cast<int64_t>(kEpochGapSeconds))) * 10000000ULL +
                    static_cast<uint64_t>(info.st_mtim.tv_nsec) / 100ULL;
    return true;
}

bool EntryPresent(const std::string &path)
{
    struct stat info {};
    return !path.empty() && lstat(path.c_str(), &info) == 0;
}

bool FolderPresent(const std::string &path)
{
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace platform
