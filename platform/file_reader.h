#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A regular file opened for reading only: sequential reads for streaming
// digests, positioned reads for looking into the program file. A FIFO or a
// folder in the file's place is refused rather than waited on.
class FileReader {
public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader &) = delete;
    FileReader &operator=(const FileReader &) = delete;

    bool Open(const std::string &path);
    void Close();
    bool IsOpen() const { return fd >= 0; }

    // The current size; false when it cannot be learnt.
    bool Size(uint64_t &size) const;
    // Reads up to size bytes from the current position: the count read, 0 at
    // the end of the file, -1 on an error. Retried on EINTR.
    int64_t Read(void *buffer, size_t size);
    // Reads exactly size bytes at offset; false on an error or a short file.
    bool ReadAt(uint64_t offset, void *buffer, size_t size) const;

private:
    int fd = -1;
};

} // namespace platform
