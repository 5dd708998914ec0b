#pragma once
#include <string>

namespace platform {

// The folder a path that may not exist yet would be made in: the path
// itself when it exists, else its nearest existing ancestor; empty when
// that is no folder, the path is relative, or a look-up fails otherwise.
std::string NearestFolder(std::string path);

} // namespace platform
