#include "platform/shell_open.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "platform/tick.h"

extern char **environ;

namespace platform {

namespace {

constexpr int kOpened = 33;
constexpr int kNoAssociation = 31;
// xdg-open hands the file to a desktop program and usually ends at once; one
// that is still busy after this long has found its program.
constexpr uint32_t kOpenerWaitMs = 5000;
constexpr uint32_t kOpenerPollMs = 20;

int Spawn(const std::vector<std::string> &argv, const std::string &workFolder, bool searchPath, pid_t &pid)
{
    std::vector<char *> args;
    for (const auto &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!workFolder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workFolder.c_str());
    const int result = searchPath ? posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ)
                                  : posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

// xdg-open's exit status: 2 the file does not exist, 3 no program to open it
// with, 4 the program failed.
int OpenerCode(int status)
{
    if (!WIFEXITED(status))
        return kNoAssociation;
    switch (WEXITSTATUS(status)) {
    case 0:
        return kOpened;
    case 2:
        return 2;
    default:
        return kNoAssociation;
    }
}

int OpenWithDesktop(const std::string &path, const std::string &workFolder)
{
    pid_t pid = -1;
    if (Spawn({"xdg-open", path}, workFolder, true, pid) != 0)
        return kNoAssociation;
    for (uint32_t waited = 0; waited < kOpenerWaitMs; waited += kOpenerPollMs) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return OpenerCode(status);
        if (done < 0 && errno != EINTR)
            return kOpened;
        SleepMs(kOpenerPollMs);
    }
    return kOpened;
}

} // namespace

int ShellCodeOfErrno(int error)
{
    switch (error) {
    case ENOENT:
        return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return 3;
    case EACCES:
    case EPERM:
        return 5;
    case ENOMEM:
    case E2BIG:
        return 8;
    case ENOEXEC:
    case ELIBBAD:
        return 11;
    case ETXTBSY:
        return 26;
    default:
        return 0;
    }
}

int ShellOpen(const std::string &path, const std::string &workFolder)
{
    if (access(path.c_str(), F_OK) != 0)
        return ShellCodeOfErrno(errno);
    if (access(path.c_str(), X_OK) != 0)
        return OpenWithDesktop(path, workFolder);
    pid_t pid = -1;
    const int error = Spawn({path}, workFolder, false, pid);
    return error == 0 ? kOpened : ShellCodeOfErrno(error);
}

} // namespace platform
