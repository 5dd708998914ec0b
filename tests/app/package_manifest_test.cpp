#include "app/base64.h"
#include "app/package_manifest.h"
#include "platform/elf_sections.h"
#include "platform/program_file.h"
#include "platform/read_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

TEST(LoadManifestTest, CarriesThisBuildsPackage)
{
    PackageManifest manifest;
    LoadManifest(manifest);
    const char *names[] = {"VRNH_Setup_1_0_1_92.exe", "VRNH_92_.7z.001", "VRNH_92_.7z.002",
                           "VRNH_92_.7z.003",         "VRNH_92_.7z.004", "VRNH_92_.7z.005"};
    const uint64_t sizes[] = {18487472, 1887436800, 1887436800, 1887436800, 1887436800, 360827287};
    for (int i = 0; i < kPackageFileCount; ++i) {
        EXPECT_EQ(manifest.name[i], names[i]);
        EXPECT_EQ(manifest.size[i], sizes[i]);
        EXPECT_EQ(manifest.torrentId[i], 301 + i);
        EXPECT_EQ(manifest.md5[i].size(), 32u);
        // Servers are left to the publisher: nothing outside this machine is named.
        EXPECT_NE(manifest.url[i].find(".invalid/10192/" + manifest.name[i]), std::string::npos) << manifest.url[i];
    }
    EXPECT_EQ(manifest.md5[0], "661f39aa7d63bdb047569820cf430974");
    EXPECT_EQ(manifest.md5[5], "face35a3de907903ae0dfca77d0854f9");
    EXPECT_EQ(manifest.packageKey, manifest.md5[0]);
    EXPECT_EQ(manifest.installerName, manifest.name[0]);
    EXPECT_NE(manifest.resourceListUrl.find(".invalid/downloader/VRNHResourceList20190122.xml"), std::string::npos);
    EXPECT_EQ(manifest.PackageSize(), 7929061959ULL);
    EXPECT_EQ(manifest.SpaceRequirement(), 7929061959ULL + 104857600ULL);
    EXPECT_FALSE(manifest.lanDiscovery);
    EXPECT_FALSE(manifest.portMapping);

    std::string copy[kPackageFileCount];
    LoadInstanceKeys(copy);
    for (int i = 0; i < kPackageFileCount; ++i)
        EXPECT_EQ(copy[i], manifest.md5[i]);
}

TEST(LoadManifestTest, AProgramWithPlaceholderServersHasNoPackage)
{
    PackageManifest manifest;
    LoadManifest(manifest);
    EXPECT_TRUE(manifest.HasNoServers()) << "the unstamped build names no real server";

    // One real server among placeholders (any case, with a user, a port or a
    // trailing dot) is a package to download.
    manifest.url[0] = "http://User@Packages.Example.INVALID.:8080/a";
    manifest.url[1] = "";
    manifest.url[2] = "not a url";
    EXPECT_TRUE(manifest.HasNoServers());
    manifest.url[3] = "http://127.0.0.1:8080/VRNH_92_.7z.003";
    EXPECT_FALSE(manifest.HasNoServers());
    manifest.url[3] = "http://invalid.example.org/x";
    EXPECT_FALSE(manifest.HasNoServers()) << "only the reserved top-level domain is a placeholder";
}

TEST(LoadManifestTest, ReadsTheBytesInTheProgramFile)
{
    // The stamper edits the file, so what LoadManifest reads must be the
    // section's bytes, not constants the compiler kept elsewhere.
    std::string image;
    ASSERT_EQ(platform::ReadWholeFile(platform::OwnProgramPath(), 1u << 30, image), platform::ReadFileStatus::Ok);
    platform::ElfSection section;
    ASSERT_EQ(platform::FindElfSection(image, kManifestSectionName, section), platform::ElfLookup::Found);
    ASSERT_EQ(section.size, sizeof(TManifestBlock));
    EXPECT_EQ(std::memcmp(image.data() + section.offset, &ProgramManifestBlock(), sizeof(TManifestBlock)), 0);
}

class DecodeManifestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TManifestValues values{};
        values.resourceListUrl = "https://lists.example/list.xml";
        for (int i = 0; i < kPackageFileCount; ++i) {
            names[i] = "file" + std::to_string(i);
            values.url[i] = "http://127.0.0.1/x";
            values.name[i] = names[i];
            values.size[i] = 1000 + i;
            values.md5[i] = "0123456789abcdef0123456789abcdef";
            values.torrentId[i] = -5 + i;
        }
        block = std::make_unique<TManifestBlock>(MakeManifestBlock(values));
    }
    PackageManifest Decode()
    {
        PackageManifest manifest;
        DecodeManifest(*block, switches, manifest);
        return manifest;
    }
    void SetSlot(TManifestTextSlot &slot, const std::string &text)
    {
        slot.fill('\0');
        std::memcpy(slot.data(), text.data(), std::min(text.size(), slot.size()));
    }

    std::string names[kPackageFileCount];
    std::unique_ptr<TManifestBlock> block;
    TDeploymentSwitches switches{1, 0, {}};
};

TEST_F(DecodeManifestTest, TakesSizesIdsAndSwitchesAsStored)
{
    const PackageManifest manifest = Decode();
    EXPECT_EQ(manifest.size[3], 1003u);
    EXPECT_EQ(manifest.torrentId[0], -5);
    EXPECT_EQ(manifest.name[4], "file4");
    EXPECT_EQ(manifest.resourceListUrl, "https://lists.example/list.xml");
    EXPECT_TRUE(manifest.lanDiscovery);
    EXPECT_FALSE(manifest.portMapping);
}

TEST_F(DecodeManifestTest, SlotsThatDoNotDecodeLeaveTheirTextEmpty)
{
    SetSlot(block->url[1], "aHR0cDovL3g");   // length not a multiple of 4
    SetSlot(block->name[2], "ZmlsZQ==junk"); // ends at its padding: "file"
    SetSlot(block->resourceListUrl, "!!!!");
    const PackageManifest manifest = Decode();
    EXPECT_EQ(manifest.url[1], "");
    EXPECT_EQ(manifest.name[2], "file");
    EXPECT_EQ(manifest.resourceListUrl, "");
    EXPECT_EQ(manifest.url[0], "http://127.0.0.1/x");
}

TEST_F(DecodeManifestTest, NamesAndDigestsThatWouldLeaveTheirFolderAreRefused)
{
    SetSlot(block->name[1], Base64Encode("../escape"));
    SetSlot(block->name[2], Base64Encode(".."));
    SetSlot(block->md5[3], "0123456789ABCDEF0123456789abcdef");
    SetSlot(block->md5[0], "../../0123456789abcdef0123456789");
    const PackageManifest manifest = Decode();
    EXPECT_EQ(manifest.name[1], "");
    EXPECT_EQ(manifest.name[2], "");
    EXPECT_EQ(manifest.md5[3], "");
    EXPECT_EQ(manifest.md5[0], "");
    EXPECT_EQ(manifest.packageKey, "");
}

TEST_F(DecodeManifestTest, SlotWithoutNulIsReadWithinItsBounds)
{
    block->url[0].fill('Q');
    block->md5[1].fill('a');
    const PackageManifest manifest = Decode();
    EXPECT_EQ(manifest.url[0].size(), 3072u);
    EXPECT_EQ(manifest.md5[1], "");
}

TEST_F(DecodeManifestTest, TotalsSaturateInsteadOfWrapping)
{
    for (auto &size : block->size)
        size.fill(0xff);
    const PackageManifest manifest = Decode();
    EXPECT_EQ(manifest.PackageSize(), UINT64_MAX);
    EXPECT_EQ(manifest.SpaceRequirement(), UINT64_MAX);
}

} // namespace
