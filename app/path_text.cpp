#include "app/path_text.h"

std::string JoinPath(const std::string &folder, const std::string &name)
{
    if (folder.empty() || folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

bool IsPlainFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

bool IsAbsolutePath(std::string_view path)
{
    return !path.empty() && path[0] == '/' && path.find('\0') == std::string_view::npos;
}
