#include "engine/net/ftp_command.h"

std::string FtpDirectoryOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string FtpFileNameOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FtpCommand(const std::string &verb, const std::string &argument)
{
    if (argument.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        return std::string();
    return argument.empty() ? verb + "\r\n" : verb + " " + argument + "\r\n";
}
