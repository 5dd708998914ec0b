#include "app/package_manifest.h"

#include "app/base64.h"
#include "app/digest_text.h"
#include "app/path_text.h"
#include "engine/base/reserved_host.h"

#include <string_view>

namespace {

std::string_view SlotText(const TManifestTextSlot &slot)
{
    std::string_view text(slot.data(), slot.size());
    return text.substr(0, text.find('\0'));
}

std::string Md5Of(const TManifestTextSlot &slot)
{
    std::string_view text = SlotText(slot);
    return IsMd5Text(text, true) ? std::string(text) : std::string();
}

template <size_t N> uint64_t LittleEndian(const std::array<uint8_t, N> &bytes)
{
    uint64_t value = 0;
    for (size_t i = 0; i < N; ++i)
        value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    return value;
}

// The host of "scheme://[user@]host[:port]/...", empty when there is none.
std::string HostOf(const std::string &url)
{
    size_t start = url.find("://");
    if (start == std::string::npos)
        return std::string();
    start += 3;
    size_t end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority.erase(0, at + 1);
    return authority.substr(0, authority.find(':'));
}

} // namespace

bool PackageManifest::HasNoServers() const
{
    for (const std::string &address : url) {
        std::string host = HostOf(address);
        if (!host.empty() && !IsReservedHostName(host))
            return false;
    }
    return true;
}

uint64_t PackageManifest::PackageSize() const
{
    // Saturates: a damaged slot must not wrap the total into a small number
    // that passes every space test.
    uint64_t total = 0;
    for (uint64_t each : size)
        total = each > UINT64_MAX - total ? UINT64_MAX : total + each;
    return total;
}

uint64_t PackageManifest::SpaceRequirement() const
{
    const uint64_t total = PackageSize();
    return total > UINT64_MAX - kPackageSpaceReserve ? UINT64_MAX : total + kPackageSpaceReserve;
}

void DecodeManifest(const TManifestBlock &block, const TDeploymentSwitches &switches, PackageManifest &manifest)
{
    manifest.packageKey = Md5Of(block.md5[0]);
    for (int i = 0; i < kPackageFileCount; ++i) {
        manifest.url[i] = Base64Decode(SlotText(block.url[i]));
        std::string name = Base64Decode(SlotText(block.name[i]));
        manifest.name[i] = IsPlainFileName(name) ? name : std::string();
        manifest.size[i] = LittleEndian(block.size[i]);
        manifest.md5[i] = Md5Of(block.md5[i]);
        manifest.torrentId[i] = static_cast<int32_t>(static_cast<uint32_t>(LittleEndian(block.torrentId[i])));
    }
    manifest.resourceListUrl = Base64Decode(SlotText(block.resourceListUrl));
    manifest.installerName = manifest.name[0];
    manifest.lanDiscovery = switches.lanDiscovery != 0;
    manifest.portMapping = switches.portMapping != 0;
}

void LoadManifest(PackageManifest &manifest)
{
    DecodeManifest(ProgramManifestBlock(), ProgramDeploymentSwitches(), manifest);
}

void DecodeKeyCopy(const TManifestKeyCopy &copy, std::string (&md5)[kPackageFileCount])
{
    for (int i = 0; i < kPackageFileCount; ++i)
        md5[i] = Md5Of(copy.md5[i]);
}

void LoadInstanceKeys(std::string (&md5)[kPackageFileCount])
{
    DecodeKeyCopy(ProgramKeyCopy(), md5);
}
