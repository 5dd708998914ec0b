#include "platform/file_reader.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

FileReader::~FileReader()
{
    Close();
}

bool FileReader::Open(const std::string &path)
{
    Close();
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    int opened = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (opened < 0)
        return false;
    struct stat info {};
    if (fstat(opened, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(opened);
        return false;
    }
    fd = opened;
    return true;
}

void FileReader::Close()
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

bool FileReader::Size(uint64_t &size) const
{
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0 || info.st_size < 0)
        return false;
    size = static_cast<uint64_t>(info.st_size);
    return true;
}

int64_t FileReader::Read(void *buffer, size_t size)
{
    if (fd < 0)
        return -1;
    for (;;) {
        ssize_t n = read(fd, buffer, size);
        if (n >= 0)
            return n;
        if (errno != EINTR)
            return -1;
    }
}

bool FileReader::ReadAt(uint64_t offset, void *buffer, size_t size) const
{
    if (fd < 0)
        return false;
    char *at = static_cast<char *>(buffer);
    while (size > 0) {
        if (offset > static_cast<uint64_t>(INT64_MAX))
            return false;
        ssize_t n = pread(fd, at, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        offset += static_cast<uint64_t>(n);
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace platform
