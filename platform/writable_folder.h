#pragma once
#include <string>

namespace platform {

// Whether files can be made under an absolute path: the folder itself, or,
// while it does not exist yet, its nearest existing ancestor, must be a
// folder that the caller may write, on a file system that stores data (not
// /proc, /sys and the like, whose folders take no files).
bool FolderTakesNewFiles(const std::string &path);

} // namespace platform
