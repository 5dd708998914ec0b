#include "app/package_paths.h"

#include "app/path_text.h"

std::string PackageDataFolder(IAppFileSystem &files, const std::string &packageKey)
{
    std::string base = files.CommonDataFolder();
    if (base.empty())
        base = files.TempFolder();
    return JoinPath(base, "Pivh/Quarrowlight/Quarrowlight" + packageKey);
}

std::string PackageLogBase(const std::string &dataFolder, const std::string &packageKey)
{
    return JoinPath(dataFolder, packageKey);
}

std::string PackageIniPath(const std::string &dataFolder, const std::string &packageKey)
{
    return PackageLogBase(dataFolder, packageKey) + ".qlconf";
}

std::string PackageInfoFolder(const std::string &dataFolder, const std::string &hash)
{
    return JoinPath(dataFolder, hash + "QLInfo") + "/";
}

std::string TaskResumePath(const std::string &infoFolder, const std::string &name)
{
    return infoFolder + name + ".qlinfo";
}

std::string ChooseDefaultSaveFolder(IAppFileSystem &files)
{
    std::string parent = files.HomeFolder();
    const std::string downloads = files.DownloadFolder();
    if (parent.empty() || (!downloads.empty() && files.FreeBytes(downloads) > files.FreeBytes(parent)))
        parent = downloads;
    if (parent.empty())
        parent = files.TempFolder();
    return JoinPath(parent, kPackageFolderName);
}
