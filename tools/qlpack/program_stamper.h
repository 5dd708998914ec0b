#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/manifest_block.h"
#include "app/package_manifest.h"
#include "app/resource_directory.h"

// Everything a stamp writes into a program: the manifest slots, the
// deployment switches and the embedded resources.
struct TStampValues {
    std::string resourceListUrl;
    std::string url[kPackageFileCount];
    std::string name[kPackageFileCount];
    uint64_t size[kPackageFileCount] = {};
    std::string md5[kPackageFileCount];
    int32_t torrentId[kPackageFileCount] = {};
    bool lanDiscovery = false;
    bool portMapping = false;
    std::vector<TResourcePayload> resources;
};

// Writes the values into a copy of a program image: the three manifest
// sections are rewritten in place and any earlier resource directory is
// replaced. The values must already fit their slots. Empty on success,
// else why the image cannot be stamped.
std::string StampProgramImage(const std::string &image, const TStampValues &values, std::string &stamped);

// What a program image carries, for showing it.
struct TProgramContents {
    PackageManifest manifest;
    std::string keyCopy[kPackageFileCount];
    TResourceDirectory resources;
    // False for an unstamped program and for one stripped or cut short
    // after stamping: its torrents and report configuration are gone.
    bool hasResourceDirectory = false;
};

std::string ReadProgramImage(const std::string &image, TProgramContents &contents);
