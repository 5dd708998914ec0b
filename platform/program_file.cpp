#include "platform/program_file.h"

#include "platform/atomic_replace.h"

#include <sys/stat.h>

namespace platform {

std::string OwnProgramPath()
{
    return "/proc/self/exe";
}

bool WriteProgramFile(const std::string &path, const std::string &contents)
{
    return ReplaceFileAtomically(path, contents, true) && chmod(path.c_str(), 0755) == 0;
}

} // namespace platform
