#pragma once
#include <cstdint>
#include <string>

// One open data file: either closed or holding exactly one handle. Reads and
// writes are positioned and 64-bit; callers hold the disk lock around them.
class TDiskFile {
public:
    // Results of ReadAt/WriteAt besides a byte count.
    static constexpr int64_t kFailed = -1;

    TDiskFile() = default;
    ~TDiskFile() { Close(); }
    TDiskFile(const TDiskFile &) = delete;
    TDiskFile &operator=(const TDiskFile &) = delete;

    // Read-only opens an existing file; otherwise the file is opened for
    // reading and writing, created when missing, and emptied with
    // createAlways. An open file is closed first.
    bool Open(const std::string &path, bool readOnly, bool createAlways);
    void Close();
    bool IsOpen() const { return handle >= 0; }
    bool IsReadOnly() const { return readOnly; }

    // Current size; -1 when closed or the query fails.
    int64_t Size() const;

    // Bytes read (fewer only at the end of the file) or kFailed.
    int64_t ReadAt(void *buffer, int64_t length, int64_t offset);
    // Bytes written or kFailed; a write refused for lack of space sets the
    // flag that LastWriteHitFullDisk reports.
    int64_t WriteAt(const void *buffer, int64_t length, int64_t offset);
    // Makes the file exactly length bytes long, reserving the space when it
    // grows. Refused on a closed or read-only file or a negative length.
    bool SetLength(int64_t length);
    // Whether the last WriteAt or SetLength failed because the volume is full.
    bool LastWriteHitFullDisk() const { return fullDisk; }
    // Makes the written data durable.
    bool SyncData();

private:
    int handle = -1;
    bool readOnly = false;
    bool fullDisk = false;
};
