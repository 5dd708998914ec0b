#pragma once
#include <string>

namespace platform {

// Writes a whole file that this user owns, also in a folder other users can
// write to (the TEMP folder): a link, a folder or another user's file in the
// way is refused, never followed or replaced, and the content goes through a
// private temp name renamed into place, so a reader never sees half a file.
// False when anything fails, including the final close.
bool ReplaceOwnFile(const std::string &path, const std::string &contents);

} // namespace platform
