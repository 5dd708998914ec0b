#pragma once
#include <string>

namespace platform {

// Deletes a file; true when it is gone (also when it never existed).
bool RemoveFile(const std::string &path);

} // namespace platform
