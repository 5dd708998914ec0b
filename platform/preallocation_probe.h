#pragma once
#include <string>

namespace platform {

enum class Preallocation { Supported, Sparse, Unknown };

// Whether the file system that holds an absolute path (asked of its nearest
// existing folder) can reserve a file's blocks up front. A throw-away
// unnamed file is allocated there and dropped; Unknown when the folder
// cannot be asked.
Preallocation ProbePreallocation(const std::string &path);

} // namespace platform
