#pragma once
#include <cstdint>
#include <string>

#include "app/manifest_block.h"

// The space every disk-space test asks for beyond the package itself.
inline constexpr uint64_t kPackageSpaceReserve = 104857600;

// The package description in memory; one instance, owned by the controller.
// Index 0 is the installer, 1 to 5 the archive volumes in order.
struct PackageManifest {
    std::string resourceListUrl;
    std::string url[kPackageFileCount];
    std::string name[kPackageFileCount];
    uint64_t size[kPackageFileCount] = {};
    std::string md5[kPackageFileCount];
    int32_t torrentId[kPackageFileCount] = {};
    std::string installerName;
    // The installer's MD5: names the data folder, the package ini and the
    // single-instance objects.
    std::string packageKey;
    bool lanDiscovery = false;
    bool portMapping = false;

    uint64_t PackageSize() const;
    // No file names a server to download from: every URL's host is a
    // placeholder under ".invalid" (or missing), as in an unstamped program.
    bool HasNoServers() const;
    uint64_t SpaceRequirement() const;
};

// Fills the manifest from this program's slots. Never fails: a slot that does
// not decode leaves its text empty. So does a name that is not a plain file
// name and an MD5 slot that is not 32 lower-case hex digits, since both end
// up in paths.
void LoadManifest(PackageManifest &manifest);

// The same from any block (the stamper reads stamped programs with it).
void DecodeManifest(const TManifestBlock &block, const TDeploymentSwitches &switches, PackageManifest &manifest);

// The second copy of the MD5 texts, checked like the first.
void LoadInstanceKeys(std::string (&md5)[kPackageFileCount]);
void DecodeKeyCopy(const TManifestKeyCopy &copy, std::string (&md5)[kPackageFileCount]);
