#pragma once
#include <string>

namespace platform {

// The folders the downloader derives its paths from, each read from the
// environment at the time of the call.

// $HOME, else the account's home folder; empty when neither is known.
std::string HomeFolder();

// The common application data folder: QUARROWLIGHT_DATA_HOME, else
// $XDG_DATA_HOME, else the home folder + "/.local/share". Only absolute
// values of the variables count.
std::string CommonDataFolder();

// $TMPDIR when it is absolute, else "/tmp".
std::string TempFolder();

// $XDG_RUNTIME_DIR when it is absolute, else the TEMP folder.
std::string RuntimeFolder();

// $XDG_DOWNLOAD_DIR when it is absolute; empty otherwise.
std::string DownloadFolder();

} // namespace platform
