#pragma once
#include <string>

namespace platform {

// Replaces a file's whole content so that readers and a crash see either the
// old or the new file, never a mix: the bytes go to a private temp file in the
// same folder (created O_EXCL | O_NOFOLLOW), which is then renamed over the
// target. An existing target keeps its permission bits. With `synced` the
// temp file is fsync'ed before the rename and the folder after it, so the new
// content survives a power loss once this returns true. On failure the target
// is untouched and the temp file is gone.
bool ReplaceFileAtomically(const std::string &path, const std::string &contents, bool synced);

} // namespace platform
