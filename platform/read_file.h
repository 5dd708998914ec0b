#pragma once
#include <cstddef>
#include <string>

namespace platform {

enum class ReadFileStatus { Ok, Unreadable, TooLarge };

// Reads a whole regular file into out. Files longer than maxBytes are not
// read (TooLarge); missing files, directories and read errors are Unreadable.
ReadFileStatus ReadWholeFile(const std::string &path, size_t maxBytes, std::string &out);

} // namespace platform
