// Reads arbitrary bytes as a manifest block (cut or zero-padded to its size)
// and as base64 text, and checks what the decoded manifest may hold.
#include "app/base64.h"
#include "app/digest_text.h"
#include "app/package_manifest.h"
#include "app/path_text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

static void Require(bool condition)
{
    if (!condition)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    const std::string decoded = Base64Decode(text);
    Require(decoded.size() <= kBase64DecodedLimit);
    Require(decoded.find('\0') == std::string::npos);
    const std::string plain = text.substr(0, std::min<size_t>(text.find('\0'), kBase64DecodedLimit));
    if (plain.find('\0') == std::string::npos)
        Require(Base64Decode(Base64Encode(plain)) == plain);

    auto block = std::make_unique<TManifestBlock>();
    std::memset(block.get(), 0, sizeof *block);
    std::memcpy(block.get(), data, std::min(size, sizeof *block));
    TDeploymentSwitches switches{};
    if (size > 0)
        switches.lanDiscovery = data[0];
    PackageManifest manifest;
    DecodeManifest(*block, switches, manifest);
    for (int i = 0; i < kPackageFileCount; ++i) {
        Require(manifest.name[i].empty() || IsPlainFileName(manifest.name[i]));
        Require(manifest.md5[i].empty() || IsMd5Text(manifest.md5[i], true));
        Require(manifest.url[i].size() <= kBase64DecodedLimit);
    }
    Require(manifest.packageKey == manifest.md5[0]);
    Require(manifest.installerName == manifest.name[0]);
    Require(manifest.SpaceRequirement() >= manifest.PackageSize());
    return 0;
}
