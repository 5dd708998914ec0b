#include "platform/atomic_replace.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kTempAttempts = 16;
// Keeps the temp name within NAME_MAX however long the target's name is.
constexpr size_t kTempStemBytes = 200;

std::string FolderOf(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const char *data, size_t left)
{
    while (left > 0) {
        ssize_t n = write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

// Opens a fresh temp file beside the target; the name is unique within the
// process by a counter and across processes by the pid.
int CreateTemp(const std::string &path, std::string &tempPath)
{
    static std::atomic<unsigned> counter{0};
    std::string stem = FolderOf(path) + "/." + NameOf(path).substr(0, kTempStemBytes) + ".tmp-" +
                       std::to_string(getpid()) + "-";
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        tempPath = stem + std::to_string(counter.fetch_add(1));
        int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool SyncFolder(const std::string &folder)
{
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

} // namespace

bool ReplacementFile::Begin(const std::string &path)
{
    Abandon();
    if (path.empty() || path.find('\0') != std::string::npos || path.back() == '/')
        return false;
    fd = CreateTemp(path, tempPath);
    if (fd < 0)
        return false;
    target = path;
    failed = false;
    struct stat existing {};
    if (stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        failed = fchmod(fd, existing.st_mode & 07777) != 0;
    return !failed;
}

bool ReplacementFile::Write(const void *bytes, size_t length)
{
    if (fd < 0 || failed)
        return false;
    failed = !WriteAll(fd, static_cast<const char *>(bytes), length);
    return !failed;
}

bool ReplacementFile::Commit(bool synced)
{
    if (fd < 0)
        return false;
    bool ok = !failed;
    if (ok && synced)
        ok = fsync(fd) == 0;
    // close reports delayed write errors on some file systems.
    ok = close(fd) == 0 && ok;
    fd = -1;
    ok = ok && rename(tempPath.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(tempPath.c_str());
        tempPath.clear();
        return false;
    }
    tempPath.clear();
    return !synced || SyncFolder(FolderOf(target));
}

void ReplacementFile::Abandon()
{
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
    if (!tempPath.empty()) {
        unlink(tempPath.c_str());
        tempPath.clear();
    }
}

bool ReplaceFileAtomically(const std::string &path, const std::string &contents, bool synced)
{
    ReplacementFile file;
    return file.Begin(path) && file.Write(contents.data(), contents.size()) && file.Commit(synced);
}

} // namespace platform
