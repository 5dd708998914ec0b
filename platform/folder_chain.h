#pragma once
#include <string>

namespace platform {

// Creates a folder together with every missing parent (mode 0755, or 0700
// with privateFolders for per-user data). An existing folder is success; a
// file in the way is failure.
bool MakeFolderChain(const std::string &path, bool privateFolders = false);

} // namespace platform
