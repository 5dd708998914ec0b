#pragma once
#include <string>

namespace platform {

// Name-level operations on a task's data files and folders.

// Whether anything (file, folder, dangling link) exists under the name.
bool PathExists(const std::string &path);
bool IsDirectory(const std::string &path);

// Creates one folder; an existing folder counts as success.
bool MakeDirectory(const std::string &path);

// Removes a file; a missing file counts as success.
bool RemoveFile(const std::string &path);

enum class MoveResult { Moved, TargetExists, Failed };

// Renames a file without ever replacing an existing target
// (renameat2 RENAME_NOREPLACE, else link + unlink).
MoveResult MoveFileNoReplace(const std::string &from, const std::string &to);

// Gives the owner write permission on a regular file that lacks it, the
// counterpart of clearing a read-only attribute. Folders are left alone.
void MakeFileWritable(const std::string &path);

} // namespace platform
