#include "platform/run_program.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace platform {

int RunProgram(const std::vector<std::string> &argv, std::string *output)
{
    if (argv.empty())
        return -1;
    std::vector<char *> args;
    for (const auto &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);

    int pipeEnds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output != nullptr) {
        if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            return -1;
        }
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    }
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (output != nullptr) {
        close(pipeEnds[1]);
        if (spawned == 0) {
            char chunk[4096];
            for (;;) {
                ssize_t got = read(pipeEnds[0], chunk, sizeof(chunk));
                if (got > 0)
                    output->append(chunk, static_cast<size_t>(got));
                else if (got == 0 || errno != EINTR)
                    break;
            }
        }
        close(pipeEnds[0]);
    }
    if (spawned != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace platform
