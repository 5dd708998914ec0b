#pragma once
#include <cstdint>
#include <string>

namespace platform {

struct FileStatus {
    uint64_t size = 0;
    // Last write, in 100-ns units since 1601-01-01 UTC: the form finished-file
    // stamps are stored in.
    uint64_t writeTime = 0;
};

// Looks up a regular file (links followed); false when there is none.
bool QueryRegularFile(const std::string &path, FileStatus &out);

// Whether anything (file, folder, dangling link) exists under the name.
bool EntryPresent(const std::string &path);
bool FolderPresent(const std::string &path);

} // namespace platform
