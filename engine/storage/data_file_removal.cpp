#include "engine/storage/data_file_removal.h"

#include "engine/storage/task_file.h"
#include "platform/data_file_paths.h"

namespace {
// Appended to the task state file's path for the block spill file.
constexpr const char kSpillSuffix[] = "df";
} // namespace

bool RemoveTaskFiles(const std::string &targetPath, const std::string &statePath)
{
    bool removed = true;
    if (!targetPath.empty()) {
        removed &= platform::RemoveFile(targetPath);
        removed &= platform::RemoveFile(targetPath + kTemporarySuffix);
    }
    if (!statePath.empty()) {
        removed &= platform::RemoveFile(statePath);
        removed &= platform::RemoveFile(statePath + kSpillSuffix);
    }
    return removed;
}
