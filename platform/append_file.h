#pragma once
#include <cstddef>
#include <string>

namespace platform {

// Appends bytes to a file, creating it (mode 0644) when missing. Links are not
// followed, since log files may sit in a folder other users can write to.
bool AppendToFile(const std::string &path, const char *data, size_t size);

} // namespace platform
