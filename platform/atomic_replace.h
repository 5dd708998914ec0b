#pragma once
#include <cstddef>
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

// The same replacement for content written in parts: Begin opens the temp
// file, Write appends to it, Commit syncs and renames it over the target.
// Until Commit succeeds the target is untouched; an object destroyed
// without a successful Commit removes its temp file.
class ReplacementFile {
public:
    ReplacementFile() = default;
    ~ReplacementFile() { Abandon(); }
    ReplacementFile(const ReplacementFile &) = delete;
    ReplacementFile &operator=(const ReplacementFile &) = delete;

    bool Begin(const std::string &path);
    bool Write(const void *bytes, size_t length);
    bool Commit(bool synced);
    // Removes the temp file; the target stays as it was.
    void Abandon();

private:
    std::string target;
    std::string tempPath;
    int fd = -1;
    bool failed = false;
};

} // namespace platform
