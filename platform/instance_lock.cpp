#include "platform/instance_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/special_folders.h"

namespace platform {

InstanceLock::~InstanceLock()
{
    if (fd >= 0)
        close(fd);
}

InstanceLock::Result InstanceLock::Acquire(const std::string &name)
{
    if (fd >= 0)
        return Result::Acquired;
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
        return Result::Failed;
    path = RuntimeFolder() + "/" + name;
    // The runtime folder may be the shared TEMP folder: a link planted under
    // the name is not followed.
    int opened = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (opened < 0)
        return Result::Failed;
    int locked;
    do {
        locked = flock(opened, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        bool held = errno == EWOULDBLOCK;
        close(opened);
        return held ? Result::HeldByAnother : Result::Failed;
    }
    fd = opened;
    return Result::Acquired;
}

} // namespace platform
