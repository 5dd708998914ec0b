#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Handle-level operations on a task's data files. A handle is a small
// non-negative integer; -1 means none.

enum class DataFileMode {
    ReadOnly,      // open an existing file for reading
    ReadWrite,     // open, creating it when missing
    CreateAlways,  // create anew (an existing file is emptied)
};

int OpenDataFile(const std::string &path, DataFileMode mode);
void CloseDataFile(int handle);

// Current size, -1 when the query fails.
int64_t DataFileSize(int handle);

// Outcome of a positioned transfer: the bytes moved (short only at the end
// of file for a read) and, on failure, whether the volume was full.
struct DataFileTransfer {
    int64_t bytes = 0;
    bool failed = false;
    bool noSpace = false;
};

// pread/pwrite, retried on short counts and EINTR. Written data is handed to
// writeback at once (without waiting for it).
DataFileTransfer ReadDataFileAt(int handle, void *buffer, int64_t length, int64_t offset);
DataFileTransfer WriteDataFileAt(int handle, const void *buffer, int64_t length, int64_t offset);

enum class SetLengthResult { Done, NoSpace, Failed };

// Makes the file exactly length bytes long. Growth reserves the blocks
// (fallocate) so later writes cannot run out of space; where the file system
// cannot reserve, the length alone is set.
SetLengthResult SetDataFileLength(int handle, int64_t length);

// Makes the file's data durable (fdatasync).
bool SyncDataFile(int handle);

} // namespace platform
