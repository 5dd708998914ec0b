#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace platform {

// Reads at most maxBytes of a file (procfs and sysfs files report no size, so
// the read goes to end of file); false when it cannot be opened or read.
bool ReadFileBounded(const std::string &path, size_t maxBytes, std::string &out);

// The names in a folder, sorted, without "." and ".."; empty when it cannot be
// listed.
std::vector<std::string> ListFolder(const std::string &path);

// Whether a folder entry exists, without following a final link.
bool EntryExists(const std::string &path);

// Whether a regular file (links followed) exists.
bool RegularFileExists(const std::string &path);

// The target text of a symbolic link; false when path is no link.
bool ReadLinkText(const std::string &path, std::string &out);

} // namespace platform
