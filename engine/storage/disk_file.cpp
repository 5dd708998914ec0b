#include "engine/storage/disk_file.h"

#include "platform/data_file_io.h"

bool TDiskFile::Open(const std::string &path, bool readOnlyAccess, bool createAlways)
{
    Close();
    platform::DataFileMode mode = platform::DataFileMode::ReadWrite;
    if (readOnlyAccess)
        mode = platform::DataFileMode::ReadOnly;
    else if (createAlways)
        mode = platform::DataFileMode::CreateAlways;
    handle = platform::OpenDataFile(path, mode);
    readOnly = readOnlyAccess;
    return handle >= 0;
}

void TDiskFile::Close()
{
    platform::CloseDataFile(handle);
    handle = -1;
    readOnly = false;
}

int64_t TDiskFile::Size() const
{
    return handle < 0 ? -1 : platform::DataFileSize(handle);
}

int64_t TDiskFile::ReadAt(void *buffer, int64_t length, int64_t offset)
{
    if (handle < 0 || buffer == nullptr || length < 0 || offset < 0)
        return kFailed;
    platform::DataFileTransfer done = platform::ReadDataFileAt(handle, buffer, length, offset);
    return done.failed ? kFailed : done.bytes;
}

int64_t TDiskFile::WriteAt(const void *buffer, int64_t length, int64_t offset)
{
    fullDisk = false;
    if (handle < 0 || readOnly || buffer == nullptr || length < 0 || offset < 0)
        return kFailed;
    platform::DataFileTransfer done = platform::WriteDataFileAt(handle, buffer, length, offset);
    fullDisk = done.noSpace;
    return done.failed ? kFailed : done.bytes;
}

bool TDiskFile::SetLength(int64_t length)
{
    fullDisk = false;
    if (handle < 0 || readOnly || length < 0)
        return false;
    platform::SetLengthResult result = platform::SetDataFileLength(handle, length);
    fullDisk = result == platform::SetLengthResult::NoSpace;
    return result == platform::SetLengthResult::Done;
}

bool TDiskFile::SyncData()
{
    return handle >= 0 && platform::SyncDataFile(handle);
}
