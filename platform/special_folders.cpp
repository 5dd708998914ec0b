#include "platform/special_folders.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

std::string AbsoluteVariable(const char *name)
{
    const char *value = std::getenv(name);
    if (value == nullptr || value[0] != '/')
        return std::string();
    std::string text(value);
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

} // namespace

std::string HomeFolder()
{
    std::string home = AbsoluteVariable("HOME");
    if (!home.empty())
        return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    return std::string();
}

std::string CommonDataFolder()
{
    std::string folder = AbsoluteVariable("QUARROWLIGHT_DATA_HOME");
    if (folder.empty())
        folder = AbsoluteVariable("XDG_DATA_HOME");
    if (folder.empty()) {
        std::string home = HomeFolder();
        if (!home.empty())
            folder = (home == "/" ? std::string() : home) + "/.local/share";
    }
    return folder;
}

std::string TempFolder()
{
    std::string folder = AbsoluteVariable("TMPDIR");
    return folder.empty() ? std::string("/tmp") : folder;
}

std::string RuntimeFolder()
{
    std::string folder = AbsoluteVariable("XDG_RUNTIME_DIR");
    return folder.empty() ? TempFolder() : folder;
}

std::string DownloadFolder()
{
    return AbsoluteVariable("XDG_DOWNLOAD_DIR");
}

} // namespace platform
