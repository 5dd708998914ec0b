#include "report/machine_profile.h"
#include "report/machine_id.h"
#include "report/os_code.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <regex>

#include "profile_fixture.h"
#include "tests/platform/scratch_folder.h"

namespace {

Json::Value Record(CMachineProfile &profile, int32_t flags)
{
    profile.ConnectWmi();
    Json::Value record(Json::objectValue);
    profile.FillRecord(flags, record);
    return record;
}

TEST(MachineProfileGroups, ProcessorsAreOneObjectPerPackage)
{
    CMachineProfile profile(FixtureSources(ProfileFixture("desktop")));
    Json::Value cpu = Record(profile, kProfileCpuFlag)["CPU"];
    ASSERT_EQ(cpu.size(), 2u);
    EXPECT_EQ(cpu[0]["CPU_Name"], "Intel(R) Xeon(R) CPU E5-2680 v4 @ 2.40GHz");
    EXPECT_EQ(cpu[1]["CPU_Name"], "Intel(R) Xeon(R) CPU E5-2690 v4 @ 2.60GHz");
    for (const auto &one : cpu) {
        EXPECT_EQ(one["CPU_Manufacturer"], "GenuineIntel");
        EXPECT_EQ(one["CPU_Type"], "Central Processor");
        EXPECT_EQ(one["CPU_Architecture"], "x64");
    }
}

TEST(MachineProfileGroups, ArchitectureFollowsTheKernelMachineName)
{
    auto architectureOn = [](const std::string &machine) {
        TSystemSnapshot snapshot = FixtureSnapshot();
        snapshot.kernel.machine = machine;
        CMachineProfile profile(FixtureSources(ProfileFixture("desktop"), snapshot));
        return Record(profile, kProfileCpuFlag)["CPU"][0];
    };
    EXPECT_EQ(architectureOn("i686")["CPU_Architecture"], "x86");
    EXPECT_EQ(architectureOn("i386")["CPU_Architecture"], "x86");
    EXPECT_EQ(architectureOn("aarch64")["CPU_Architecture"], "Error");
    // An unknown machine name is a missing source: the member is left out.
    EXPECT_FALSE(architectureOn("").isMember("CPU_Architecture"));
}

TEST(MachineProfileGroups, MemoryModulesComeFromTheSmbiosTable)
{
    CMachineProfile profile(FixtureSources(ProfileFixture("desktop")));
    Json::Value record = Record(profile, kProfileMemoryFlag);
    EXPECT_EQ(record["Memory_Total_Capacity"].asUInt64(), 16314488ull * 1024);
    const Json::Value &memory = record["Memory"];
    // Five devices, one an empty slot; the one after the end-of-table mark is not read.
    ASSERT_EQ(memory.size(), 4u);
    EXPECT_EQ(memory[0]["Memory_Type"], "DDR-3"); // DDR4 has no management code
    EXPECT_EQ(memory[0]["Memory_Capacity"].asUInt64(), 8ull << 30);
    EXPECT_EQ(memory[0]["Memory_Frequency"].asUInt(), 3200u);
    EXPECT_EQ(memory[1]["Memory_Type"], "DDR-3"); // DDR3
    EXPECT_EQ(memory[1]["Memory_Capacity"].asUInt64(), 32ull << 30);
    EXPECT_EQ(memory[1]["Memory_Frequency"].asUInt(), 4800u);
    EXPECT_EQ(memory[2]["Memory_Type"], "DDR-2");
    EXPECT_EQ(memory[2]["Memory_Capacity"].asUInt64(), 512ull << 10);
    EXPECT_FALSE(memory[2].isMember("Memory_Frequency"));
    EXPECT_EQ(memory[3]["Memory_Type"], "DDR");
    EXPECT_FALSE(memory[3].isMember("Memory_Capacity"));
    EXPECT_EQ(memory[3]["Memory_Frequency"].asUInt(), 400u);
}

TEST(MachineProfileGroups, ModulesOfUnknownTypeAreDdr3)
{
    CMachineProfile profile(FixtureSources(ProfileFixture("unknown-memory-type")));
    const Json::Value memory = Record(profile, kProfileMemoryFlag)["Memory"];
    ASSERT_EQ(memory.size(), 3u);
    EXPECT_EQ(memory[0]["Memory_Type"], "DDR-3");
    EXPECT_EQ(memory[1]["Memory_Type"], "DDR-3");
    EXPECT_FALSE(memory[2].isMember("Memory_Type")); // structure too short to carry one
    EXPECT_EQ(memory[2]["Memory_Capacity"].asUInt64(), 2048ull << 20);
}

TEST(MachineProfileGroups, VideoCardsInNumberOrderWithWhatTheSystemTells)
{
    CMachineProfile profile(FixtureSources(ProfileFixture("desktop")));
    const Json::Value video = Record(profile, kProfileVideoFlag)["Video_Card"];
    ASSERT_EQ(video.size(), 3u); // card0, card2, card10; connectors and render nodes are no cards
    EXPECT_EQ(video[0]["Video_Card_Name"], "Intel Corporation CoffeeLake-S GT2 [UHD Graphics 630]");
    EXPECT_FALSE(video[0].isMember("Video_Card_Memory_Capacity"));
    EXPECT_FALSE(video[0].isMember("Video_Card_Driver_Version"));
    EXPECT_EQ(video[1]["Video_Card_Name"], "Advanced Micro Devices, Inc. [AMD/ATI] Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]");
    EXPECT_EQ(video[1]["Video_Card_Memory_Capacity"].asUInt64(), 17163091968ull);
    EXPECT_FALSE(video[1].isMember("Video_Card_Driver_Version")); // blank version file
    EXPECT_EQ(video[2]["Video_Card_Name"], "10de:2204"); // not in the database
    EXPECT_EQ(video[2]["Video_Card_Driver_Version"], "535.129.03");
}

TEST(MachineProfileGroups, OnlyTheGroupsTheFlagsAskFor)
{
    CMachineProfile profile(FixtureSources(ProfileFixture("desktop")));
    Json::Value plain = Record(profile, 0);
    EXPECT_EQ(plain.getMemberNames(), (std::vector<std::string>{"Mac", "MachId", "OS"}));
    Json::Value all = Record(profile, 7);
    EXPECT_EQ(all.getMemberNames(), (std::vector<std::string>{"CPU", "Mac", "MachId", "Memory", "Memory_Total_Capacity",
                                                              "OS", "Video_Card"}));
}

TEST(MachineProfileGroups, MissingSourcesLeaveGroupsEmpty)
{
    ScratchFolder empty;
    TSystemSnapshot snapshot; // nothing could be read
    CMachineProfile profile(FixtureSources(empty.Root().string(), snapshot));
    Json::Value record = Record(profile, 7);
    EXPECT_EQ(record["CPU"], Json::Value(Json::arrayValue));
    EXPECT_EQ(record["Memory"], Json::Value(Json::arrayValue));
    EXPECT_FALSE(record.isMember("Memory_Total_Capacity"));
    EXPECT_EQ(record["Video_Card"], Json::Value(Json::arrayValue));
    EXPECT_EQ(record["MachId"], "0000000000000000");
    EXPECT_EQ(record["Mac"], "");
    EXPECT_EQ(record["OS"], "999322");
}

TEST(MachineProfileGroups, GroupsAreCollectedOnceAndReused)
{
    ScratchFolder copy;
    std::filesystem::copy(ProfileFixture("desktop"), copy.Root(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
    std::atomic<int> snapshots{0};
    TProfileSources sources = FixtureSources(copy.Root().string());
    sources.readSystem = [&snapshots] {
        TSystemSnapshot snapshot = FixtureSnapshot();
        if (snapshots.fetch_add(1) > 0) { // the second batch sees a newer kernel and one adapter less
            snapshot.kernel.release = "6.5.0";
            snapshot.adapters.pop_back();
        }
        return snapshot;
    };
    CMachineProfile profile(sources);
    Json::Value first = Record(profile, 7);

    copy.Write("proc/cpuinfo", "processor : 0\nmodel name : Other\nvendor_id : Other\n");
    copy.Write("proc/meminfo", "MemTotal: 1 kB\n");
    std::filesystem::remove_all(copy.Root() / "sys/class/drm");
    Json::Value second = Record(profile, 7);

    EXPECT_EQ(second["CPU"], first["CPU"]);
    EXPECT_EQ(second["Memory"], first["Memory"]);
    EXPECT_EQ(second["Memory_Total_Capacity"], first["Memory_Total_Capacity"]);
    EXPECT_EQ(second["Video_Card"], first["Video_Card"]);
    EXPECT_EQ(second["OS"], first["OS"]);
    // The adapters are read for every batch.
    EXPECT_EQ(first["Mac"], "52-54-00-12-34-56;a0-b1-c2-d3-e4-f5");
    EXPECT_EQ(second["Mac"], "52-54-00-12-34-56");
}

TEST(MachineProfileAdapters, LoopbackLeftOutAndMissingAddressesShownAsZero)
{
    CMachineProfile profile(FixtureSources(ProfileFixture("desktop")));
    profile.ConnectWmi();
    std::string addresses, ips;
    profile.CollectAdapters(addresses, ips);
    EXPECT_EQ(addresses, "52-54-00-12-34-56;a0-b1-c2-d3-e4-f5");
    EXPECT_EQ(ips, "192.168.1.20;0.0.0.0");
}

TEST(MachineProfileAdapters, UnreadableListGivesEmptyTexts)
{
    TSystemSnapshot snapshot = FixtureSnapshot();
    snapshot.adaptersReadable = false;
    CMachineProfile profile(FixtureSources(ProfileFixture("desktop"), snapshot));
    profile.ConnectWmi();
    std::string addresses = "stale", ips = "stale";
    profile.CollectAdapters(addresses, ips);
    EXPECT_EQ(addresses, "");
    EXPECT_EQ(ips, "");
}

TEST(MachineIdentifier, MixesTheMachineIdSerialWithTheFirstPhysicalAddress)
{
    // Serial 0x3D1219C7, address of eth1 (index 2; eth0 has index 3, docker0
    // and lo are not physical): 52+12, 54, 00+3D, 12+C7, 34, 56+12, C7, 19.
    EXPECT_EQ(CollectMachineId(FixtureSources(ProfileFixture("desktop"))), "64543DD93468C719");
}

TEST(MachineIdentifier, WithoutPhysicalInterfaceItComesFromTheSerialAlone)
{
    // Serial 0x0A0B0C0D: s2, 0, s3, s0, 0, s2, s0, s1.
    EXPECT_EQ(CollectMachineId(FixtureSources(ProfileFixture("no-physical-interface"))), "0B000A0D000B0D0C");
}

TEST(MachineIdentifier, SumsWrapAtOneByte)
{
    EXPECT_EQ(ComposeMachineId(0xFFFFFFFF, {0xFF, 0x01, 0x02, 0x03, 0x04, 0x05}), "FE0101020404FFFF");
}

TEST(MachineIdentifier, AddressTextMustBeSixColonSeparatedPairs)
{
    auto mac = ParseMacText("0a:1B:2c:3D:4e:5F");
    ASSERT_TRUE(mac.has_value());
    EXPECT_EQ((*mac)[1], 0x1B);
    EXPECT_EQ((*mac)[5], 0x5F);
    EXPECT_FALSE(ParseMacText("0a:1b:2c:3d:4e").has_value());
    EXPECT_FALSE(ParseMacText("0a-1b-2c-3d-4e-5f").has_value());
    EXPECT_FALSE(ParseMacText("0a:1b:2c:3d:4e:5g").has_value());
}

TEST(OperatingSystemCode, VersionBitsAndCharacterSetClass)
{
    TSystemSnapshot s;
    s.kernel = {"6.1.0-18-amd64", "x86_64"};
    s.localeName = "zh_CN.UTF-8";
    EXPECT_EQ(ComposeOsCode(s), "610640");
    s.kernel = {"5.15.0", "i686"};
    s.localeName = "C.UTF-8";
    EXPECT_EQ(ComposeOsCode(s), "5150322");
    s.kernel = {"6.18-rc1", "ia64"};
    s.localeName = "zh_TW";
    EXPECT_EQ(ComposeOsCode(s), "6180640");
    s.localeName = "zu_ZA.UTF-8"; // not Chinese though it starts with z
    EXPECT_EQ(ComposeOsCode(s), "6180642");
    s.kernel = {"", "aarch64"};
    EXPECT_EQ(ComposeOsCode(s), "999322");
}

TEST(MachineProfileRealMachine, RecordHasTheExpectedShape)
{
    CMachineProfile profile(LiveProfileSources());
    Json::Value record = Record(profile, 7);
    EXPECT_TRUE(std::regex_match(record["MachId"].asString(), std::regex("[0-9A-F]{16}")));
    EXPECT_TRUE(std::regex_match(record["Mac"].asString(),
                                 std::regex("(([0-9a-f]{2}-){5}[0-9a-f]{2}(;([0-9a-f]{2}-){5}[0-9a-f]{2})*)?")));
    EXPECT_TRUE(std::regex_match(record["OS"].asString(), std::regex("([0-9]+0|999)(32|64)[02]")));
    EXPECT_TRUE(record["CPU"].isArray());
    EXPECT_GE(record["CPU"].size(), 1u);
    EXPECT_TRUE(record["Memory"].isArray());
    EXPECT_GT(record["Memory_Total_Capacity"].asUInt64(), 0u);
    EXPECT_TRUE(record["Video_Card"].isArray());
}

} // namespace
