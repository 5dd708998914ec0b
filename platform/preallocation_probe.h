#pragma once
#include <string>

namespace platform {

// Supported: blocks can be reserved up front; Sparse: they cannot, but a
// file's unwritten stretches take no space; Dense: neither (every byte of a
// file's length is allocated as it grows).
enum class Preallocation { Supported, Sparse, Dense, Unknown };

// How the file system that holds an absolute path (asked of its nearest
// existing folder) allocates. A throw-away unnamed file is tried there and
// dropped; Unknown when the folder cannot be asked.
Preallocation ProbePreallocation(const std::string &path);

} // namespace platform
