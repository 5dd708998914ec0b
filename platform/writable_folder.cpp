#include "platform/writable_folder.h"

#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "platform/nearest_folder.h"

namespace platform {

namespace {

// Kernel and device file systems: their entries are views of the system, and
// creating a file there fails in ways that look like a damaged disk.
bool StoresNoData(long type)
{
    switch (type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case BPF_FS_MAGIC:
    case BINFMTFS_MAGIC:
    case NSFS_MAGIC:
        return true;
    default:
        return false;
    }
}

} // namespace

bool FolderTakesNewFiles(const std::string &path)
{
    const std::string folder = NearestFolder(path);
    struct statfs volume {};
    return !folder.empty() && access(folder.c_str(), W_OK | X_OK) == 0 && statfs(folder.c_str(), &volume) == 0 &&
           !StoresNoData(volume.f_type);
}

} // namespace platform
