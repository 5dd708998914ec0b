#pragma once
#include <string>

#include "app/app_file_system.h"

// Where the downloader keeps its files for one package.

// The save folder's own name under the chosen parent, and the default
// folder name written with the start keys.
inline constexpr char kPackageFolderName[] = "VRNH10192";

// common application data folder + "/Pivh/Quarrowlight/Quarrowlight" + key
// (the TEMP folder stands in when there is no data folder at all).
std::string PackageDataFolder(IAppFileSystem &files, const std::string &packageKey);

// dataFolder/key: the log files and the package ini share this base.
std::string PackageLogBase(const std::string &dataFolder, const std::string &packageKey);
// dataFolder/key + ".qlconf"
std::string PackageIniPath(const std::string &dataFolder, const std::string &packageKey);

// dataFolder/hash + "QLInfo/", with the trailing '/'.
std::string PackageInfoFolder(const std::string &dataFolder, const std::string &hash);
// infoFolder + name + ".qlinfo"
std::string TaskResumePath(const std::string &infoFolder, const std::string &name);

// The home folder, or the download folder when it has more free space,
// + "/" + kPackageFolderName.
std::string ChooseDefaultSaveFolder(IAppFileSystem &files);
