#include "platform/private_temp_folder.h"

#include "platform/special_folders.h"

#include <cstdlib>
#include <dirent.h>
#include <unistd.h>
#include <vector>

namespace platform {

PrivateTempFolder::~PrivateTempFolder()
{
    if (path.empty())
        return;
    if (DIR *folder = opendir(path.c_str())) {
        while (dirent *entry = readdir(folder)) {
            std::string name(entry->d_name);
            if (name != "." && name != "..")
                unlink((path + "/" + name).c_str());
        }
        closedir(folder);
    }
    rmdir(path.c_str());
}

bool PrivateTempFolder::Create(const std::string &prefix)
{
    if (!path.empty() || prefix.find('/') != std::string::npos)
        return false;
    std::string pattern = TempFolder() + "/" + prefix + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        return false;
    path = buffer.data();
    return true;
}

} // namespace platform
