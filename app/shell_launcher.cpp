#include "app/shell_launcher.h"

#include "platform/shell_open.h"

int CSystemShellLauncher::Open(const std::string &path, const std::string &workFolder)
{
    return platform::ShellOpen(path, workFolder);
}
