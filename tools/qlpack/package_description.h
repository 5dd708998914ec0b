#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "app/manifest_block.h"

// A publisher's package description: an ini file.
//
//   [package]
//   resource_list_url = https://lists.example/downloader/list.xml   (optional)
//   report_config = dataupload.ini        (optional; reporting stays off without it)
//   announce = http://tracker.example/announce   (for torrents qlpack makes)
//   piece_length = 18                      (optional, 2^n bytes, 15 to 24)
//   lan_discovery = off                    (on or off, default off)
//   port_mapping = off                     (on or off, default off)
//
//   [file0] … [file5]                      (file0 is the installer)
//   name = VRNH_Setup_1_0_1_92.exe
//   url = http://packages.example/10192/VRNH_Setup_1_0_1_92.exe
//   path = files/VRNH_Setup_1_0_1_92.exe   (optional: size and md5 are computed,
//                                           and checked when also given)
//   size = 18487472                        (required without path)
//   md5 = 661f39aa7d63bdb047569820cf430974 (required without path)
//   torrent = given.torrent                (optional: taken as it is; "none" for
//                                           no torrent; by default one is made
//                                           with mktorrent when path is given)
//
// Relative paths are relative to the description's folder. Unknown sections
// and keys are refused, so a misspelt key cannot be silently ignored.

struct TDescribedFile {
    std::string name;
    std::string url;
    std::string path;              // empty when not given
    std::optional<uint64_t> size;
    std::string md5;               // empty when not given
    std::string torrentPath;       // empty when not given
    bool noTorrent = false;
};

struct TPackageDescription {
    std::string resourceListUrl;
    std::string reportConfigPath;
    std::string announce;
    int pieceLengthExponent = 18;
    bool lanDiscovery = false;
    bool portMapping = false;
    TDescribedFile files[kPackageFileCount];
};

// Reads and checks the description's form (keys, numbers, switches, that
// each file has what it needs); false with a message naming the place.
bool ReadPackageDescription(const std::string &path, TPackageDescription &out, std::string &error);
