#include "platform/data_file_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

int OpenDataFile(const std::string &path, DataFileMode mode)
{
    int flags = O_CLOEXEC;
    switch (mode) {
    case DataFileMode::ReadOnly:
        flags |= O_RDONLY;
        break;
    case DataFileMode::ReadWrite:
        flags |= O_RDWR | O_CREAT;
        break;
    case DataFileMode::CreateAlways:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    int handle;
    do {
        handle = open(path.c_str(), flags, 0644);
    } while (handle < 0 && errno == EINTR);
    if (handle < 0)
        return -1;
    // A directory opens read-only on Linux; it is never a data file.
    struct stat info {};
    if (fstat(handle, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(handle);
        return -1;
    }
    return handle;
}

void CloseDataFile(int handle)
{
    if (handle >= 0)
        close(handle);
}

int64_t DataFileSize(int handle)
{
    struct stat info {};
    if (handle < 0 || fstat(handle, &info) != 0)
        return -1;
    return static_cast<int64_t>(info.st_size);
}

DataFileTransfer ReadDataFileAt(int handle, void *buffer, int64_t length, int64_t offset)
{
    DataFileTransfer result;
    auto *at = static_cast<char *>(buffer);
    while (result.bytes < length) {
        ssize_t got = pread(handle, at + result.bytes, static_cast<size_t>(length - result.bytes),
                            static_cast<off_t>(offset + result.bytes));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            result.failed = true;
            break;
        }
        if (got == 0)
            break; // end of file
        result.bytes += got;
    }
    return result;
}

DataFileTransfer WriteDataFileAt(int handle, const void *buffer, int64_t length, int64_t offset)
{
    DataFileTransfer result;
    const auto *at = static_cast<const char *>(buffer);
    while (result.bytes < length) {
        ssize_t put = pwrite(handle, at + result.bytes, static_cast<size_t>(length - result.bytes),
                             static_cast<off_t>(offset + result.bytes));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            result.failed = true;
            result.noSpace = errno == ENOSPC || errno == EDQUOT;
            break;
        }
        if (put == 0) {
            result.failed = true;
            break;
        }
        result.bytes += put;
    }
    // Writeback starts early, so dirty pages do not pile up behind a fast
    // source and the fdatasync before the rename finds little left to do. It
    // starts per 8 MiB window, when a write reaches the window's end: started
    // for every small write it costs a fast download half its speed.
    constexpr int64_t kWritebackWindow = int64_t{8} << 20;
    const int64_t end = offset + result.bytes;
    if (result.bytes > 0 && end / kWritebackWindow != offset / kWritebackWindow)
        sync_file_range(handle, end / kWritebackWindow * kWritebackWindow - kWritebackWindow, kWritebackWindow,
                        SYNC_FILE_RANGE_WRITE);
    return result;
}

SetLengthResult SetDataFileLength(int handle, int64_t length)
{
    if (handle < 0 || length < 0)
        return SetLengthResult::Failed;
    int64_t size = DataFileSize(handle);
    if (size < 0)
        return SetLengthResult::Failed;
    if (length > size) {
        int rc;
        do {
            rc = fallocate(handle, 0, 0, static_cast<off_t>(length));
        } while (rc != 0 && errno == EINTR);
        if (rc == 0)
            return SetLengthResult::Done;
        if (errno == ENOSPC || errno == EDQUOT)
            return SetLengthResult::NoSpace;
        if (errno != EOPNOTSUPP && errno != ENOSYS)
            return SetLengthResult::Failed;
    }
    int rc;
    do {
        rc = ftruncate(handle, static_cast<off_t>(length));
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return SetLengthResult::Done;
    return errno == ENOSPC || errno == EDQUOT ? SetLengthResult::NoSpace : SetLengthResult::Failed;
}

bool SyncDataFile(int handle)
{
    int rc;
    do {
        rc = fdatasync(handle);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

} // namespace platform
