#include "tools/qlpack/program_stamper.h"

#include "platform/elf_sections.h"

#include <cstring>

namespace {

struct TSections {
    platform::ElfSection manifest;
    platform::ElfSection keyCopy;
    platform::ElfSection deployment;
};

std::string FindSection(const std::string &image, const char *name, uint64_t size, platform::ElfSection &out)
{
    switch (platform::FindElfSection(image, name, out)) {
    case platform::ElfLookup::Found:
        break;
    case platform::ElfLookup::NotElf:
        return "not a 64-bit little-endian ELF program";
    case platform::ElfLookup::Missing:
        return std::string("has no ") + name + " section: not a program built with the package manifest";
    case platform::ElfLookup::Corrupt:
        return "its ELF section table is damaged";
    }
    if (out.size != size)
        return std::string("its ") + name + " section has " + std::to_string(out.size) + " bytes, not the " +
               std::to_string(size) + " of this qlpack's layout";
    return std::string();
}

std::string FindSections(const std::string &image, TSections &sections)
{
    std::string error = FindSection(image, kManifestSectionName, sizeof(TManifestBlock), sections.manifest);
    if (error.empty())
        error = FindSection(image, kKeyCopySectionName, sizeof(TManifestKeyCopy), sections.keyCopy);
    if (error.empty())
        error = FindSection(image, kDeploymentSectionName, sizeof(TDeploymentSwitches), sections.deployment);
    return error;
}

template <typename T> void Put(std::string &image, const platform::ElfSection &section, const T &value)
{
    std::memcpy(image.data() + section.offset, &value, sizeof value);
}

template <typename T> void Get(const std::string &image, const platform::ElfSection &section, T &value)
{
    std::memcpy(&value, image.data() + section.offset, sizeof value);
}

} // namespace

std::string StampProgramImage(const std::string &image, const TStampValues &values, std::string &stamped)
{
    TSections sections;
    std::string error = FindSections(image, sections);
    if (!error.empty())
        return error;
    CMemoryByteSource source(image);
    TResourceDirectory earlier;
    switch (ReadResourceDirectory(source, earlier)) {
    case ResourceDirectoryStatus::Absent:
    case ResourceDirectoryStatus::Valid:
        break;
    case ResourceDirectoryStatus::Corrupt:
    case ResourceDirectoryStatus::Unreadable:
        return "its appended resource directory is damaged";
    }
    stamped = image.substr(0, static_cast<size_t>(earlier.appendedOffset));
    for (const platform::ElfSection *section : {&sections.manifest, &sections.keyCopy, &sections.deployment}) {
        if (section->offset + section->size > stamped.size())
            return "its manifest sections lie inside its resource directory";
    }

    TManifestValues plain{};
    plain.resourceListUrl = values.resourceListUrl;
    for (int i = 0; i < kPackageFileCount; ++i) {
        plain.url[i] = values.url[i];
        plain.name[i] = values.name[i];
        plain.size[i] = values.size[i];
        plain.md5[i] = values.md5[i];
        plain.torrentId[i] = values.torrentId[i];
    }
    const TManifestBlock block = MakeManifestBlock(plain);
    const TManifestKeyCopy keyCopy = MakeKeyCopy(plain);
    TDeploymentSwitches switches{};
    switches.lanDiscovery = values.lanDiscovery ? 1 : 0;
    switches.portMapping = values.portMapping ? 1 : 0;
    Put(stamped, sections.manifest, block);
    Put(stamped, sections.keyCopy, keyCopy);
    Put(stamped, sections.deployment, switches);
    stamped += BuildResourceDirectory(stamped.size(), values.resources);
    return std::string();
}

std::string ReadProgramImage(const std::string &image, TProgramContents &contents)
{
    TSections sections;
    std::string error = FindSections(image, sections);
    if (!error.empty())
        return error;
    TManifestBlock block;
    TManifestKeyCopy keyCopy;
    TDeploymentSwitches switches;
    Get(image, sections.manifest, block);
    Get(image, sections.keyCopy, keyCopy);
    Get(image, sections.deployment, switches);
    DecodeManifest(block, switches, contents.manifest);
    DecodeKeyCopy(keyCopy, contents.keyCopy);
    CMemoryByteSource source(image);
    const ResourceDirectoryStatus directory = ReadResourceDirectory(source, contents.resources);
    if (directory == ResourceDirectoryStatus::Corrupt)
        return "its appended resource directory is damaged";
    contents.hasResourceDirectory = directory == ResourceDirectoryStatus::Valid;
    return std::string();
}
