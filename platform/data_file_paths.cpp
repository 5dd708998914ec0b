#include "platform/data_file_paths.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool PathExists(const std::string &path)
{
    struct stat info {};
    return !path.empty() && lstat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string &path)
{
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeDirectory(const std::string &path)
{
    if (path.empty())
        return false;
    if (mkdir(path.c_str(), 0755) == 0)
        return true;
    return errno == EEXIST && IsDirectory(path);
}

bool RemoveFile(const std::string &path)
{
    if (path.empty())
        return false;
    return unlink(path.c_str()) == 0 || errno == ENOENT;
}

MoveResult MoveFileNoReplace(const std::string &from, const std::string &to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return MoveResult::Moved;
    if (errno == EEXIST)
        return MoveResult::TargetExists;
    if (errno != EINVAL && errno != ENOSYS)
        return MoveResult::Failed;
    // The file system cannot rename exclusively; a hard link refuses an
    // existing target just the same.
    if (link(from.c_str(), to.c_str()) != 0)
        return errno == EEXIST ? MoveResult::TargetExists : MoveResult::Failed;
    unlink(from.c_str());
    return MoveResult::Moved;
}

void MakeFileWritable(const std::string &path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || (info.st_mode & S_IWUSR) != 0)
        return;
    chmod(path.c_str(), (info.st_mode & 07777) | S_IWUSR);
}

} // namespace platform
