#include "report/pci_ids.h"
#include "report/proc_facts.h"
#include "report/profile_tables.h"
#include "report/smbios_memory.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// An SMBIOS structure: header, formatted bytes after it, strings.
std::string Structure(uint8_t type, std::string formatted, const std::string &strings = "")
{
    std::string s;
    s += static_cast<char>(type);
    s += static_cast<char>(4 + formatted.size());
    s += std::string("\x34\x12", 2);
    s += formatted;
    s += strings.empty() ? std::string(2, '\0') : strings + std::string(1, '\0');
    return s;
}

// A Memory Device structure of the given length with size, type and speed.
std::string MemoryDevice(uint16_t size, uint8_t type, uint16_t speed, size_t length = 0x28)
{
    std::string formatted(length - 4, '\0');
    auto put = [&](size_t offset, uint32_t value, size_t bytes) {
        for (size_t i = 0; i < bytes && offset - 4 + i < formatted.size(); ++i)
            formatted[offset - 4 + i] = static_cast<char>(value >> (8 * i));
    };
    put(0x0C, size, 2);
    put(0x12, type, 1);
    put(0x15, speed, 2);
    return Structure(17, formatted, std::string("DIMM\0", 5));
}

TEST(SmbiosMemoryTable, ReadsModulesUntilTheEndMark)
{
    std::string table = Structure(0, std::string(0x14, '\0'), std::string("Vendor\0", 7)) +
                        MemoryDevice(4096, 0x18, 1600) + MemoryDevice(0, 0x18, 0) + Structure(127, "") +
                        MemoryDevice(8192, 0x18, 1600);
    auto modules = ParseSmbiosMemoryModules(table);
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(modules[0].smbiosType, 0x18);
    EXPECT_EQ(modules[0].capacity, 4096ull << 20);
    EXPECT_EQ(modules[0].speed, 1600u);
}

TEST(SmbiosMemoryTable, StopsAtAStructureThatDoesNotFit)
{
    std::string good = MemoryDevice(1024, 0x12, 400);
    std::string full = good + MemoryDevice(2048, 0x12, 400);
    // Cut inside the second structure's formatted area, and inside its strings.
    for (size_t cut : {good.size() + 3, good.size() + 20, full.size() - 1}) {
        auto modules = ParseSmbiosMemoryModules(full.substr(0, cut));
        EXPECT_EQ(modules.size(), 1u) << "cut at " << cut;
    }
    // A length below the header size ends the walk instead of looping.
    std::string bad = good + std::string("\x11\x02\x00\x00\x00\x00", 6) + good;
    EXPECT_EQ(ParseSmbiosMemoryModules(bad).size(), 1u);
    EXPECT_TRUE(ParseSmbiosMemoryModules("").empty());
    EXPECT_TRUE(ParseSmbiosMemoryModules(std::string("\x11", 1)).empty());
}

TEST(SmbiosMemoryTable, ShortStructuresLeaveTheirMissingFieldsOut)
{
    auto modules = ParseSmbiosMemoryModules(MemoryDevice(512, 0x13, 800, 0x0E));
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(modules[0].capacity, 512ull << 20);
    EXPECT_FALSE(modules[0].smbiosType.has_value());
    EXPECT_FALSE(modules[0].speed.has_value());
    // Extended size announced by 0x7FFF but the structure ends before it.
    modules = ParseSmbiosMemoryModules(MemoryDevice(0x7FFF, 0x1A, 3200, 0x1C));
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_FALSE(modules[0].capacity.has_value());
    EXPECT_EQ(modules[0].speed, 3200u);
}

TEST(ProfileTables, MemoryTypeNames)
{
    const char *expected[] = {"DRAM",  "Synchronous DRAM", "Cache DRAM", "EDO",   "EDRAM", "VRAM",  "SRAM",
                              "RAM",   "ROM",              "Flash",      "EEPROM", "FEPROM", "EPROM", "CDRAM",
                              "3DRAM", "SDRAM",            "SGRAM",      "RDRAM", "DDR",   "DDR-2"};
    for (uint32_t code = 2; code <= 21; ++code)
        EXPECT_STREQ(MemoryTypeName(code), expected[code - 2]) << code;
    for (uint32_t code : {0u, 1u, 22u, 24u, 25u, 1000u})
        EXPECT_STREQ(MemoryTypeName(code), "DDR-3") << code;
}

TEST(ProfileTables, SmbiosMemoryTypesMapOntoManagementCodes)
{
    EXPECT_STREQ(MemoryTypeName(MemoryTypeCodeOfSmbios(0x03)), "DRAM");
    EXPECT_STREQ(MemoryTypeName(MemoryTypeCodeOfSmbios(0x0F)), "SDRAM");
    EXPECT_STREQ(MemoryTypeName(MemoryTypeCodeOfSmbios(0x11)), "RDRAM");
    EXPECT_STREQ(MemoryTypeName(MemoryTypeCodeOfSmbios(0x12)), "DDR");
    EXPECT_STREQ(MemoryTypeName(MemoryTypeCodeOfSmbios(0x13)), "DDR-2");
    EXPECT_EQ(MemoryTypeCodeOfSmbios(0x18), 24u);
    EXPECT_EQ(MemoryTypeCodeOfSmbios(0x02), 0u);
    EXPECT_EQ(MemoryTypeCodeOfSmbios(0x1A), 0u); // DDR4
    EXPECT_EQ(MemoryTypeCodeOfSmbios(0x22), 0u); // DDR5
}

TEST(ProfileTables, ProcessorTypeAndArchitectureNames)
{
    const char *types[] = {"Error", "Other", "Unknown", "Central Processor", "Math Processor", "DSP Processor",
                           "Video Processor", "Error"};
    for (int32_t code = 0; code <= 7; ++code)
        EXPECT_STREQ(CpuTypeName(code), types[code]) << code;
    EXPECT_STREQ(CpuArchitectureName(0), "x86");
    EXPECT_STREQ(CpuArchitectureName(1), "MIPS");
    EXPECT_STREQ(CpuArchitectureName(2), "Alpha");
    EXPECT_STREQ(CpuArchitectureName(3), "PowerPC");
    EXPECT_STREQ(CpuArchitectureName(6), "Itanium-based systems");
    EXPECT_STREQ(CpuArchitectureName(9), "x64");
    for (int32_t code : {-1, 4, 5, 7, 12})
        EXPECT_STREQ(CpuArchitectureName(code), "Error") << code;
    EXPECT_EQ(CpuArchitectureOfMachine("x86_64"), 9);
    EXPECT_EQ(CpuArchitectureOfMachine("i586"), 0);
    EXPECT_EQ(CpuArchitectureOfMachine("i786"), -1);
    EXPECT_EQ(CpuArchitectureOfMachine("i86"), -1);
}

TEST(ProcFacts, ProcessorsWithoutPhysicalIdAreOnePackage)
{
    std::string arm = "processor\t: 0\nBogoMIPS\t: 48.00\nCPU implementer\t: 0x41\n\n"
                      "processor\t: 1\nBogoMIPS\t: 48.00\n\nHardware\t: Raspberry\nmodel name\t: stray\n";
    auto packages = ParseCpuPackages(arm);
    ASSERT_EQ(packages.size(), 1u);
    EXPECT_FALSE(packages[0].name.has_value()); // the trailer after the blocks is no processor
    EXPECT_FALSE(packages[0].vendor.has_value());
    EXPECT_TRUE(ParseCpuPackages("").empty());
    EXPECT_TRUE(ParseCpuPackages("no colon here\n\n").empty());
}

TEST(ProcFacts, MemTotal)
{
    EXPECT_EQ(ParseMemTotalBytes("MemFree: 5 kB\nMemTotal:   1024 kB\n"), 1024u * 1024);
    EXPECT_EQ(ParseMemTotalBytes("MemTotal: 77\n"), 77u);
    EXPECT_FALSE(ParseMemTotalBytes("MemFree: 5 kB\n").has_value());
    EXPECT_FALSE(ParseMemTotalBytes("MemTotal: -5 kB\n").has_value());
    EXPECT_FALSE(ParseMemTotalBytes("MemTotal: 5 MB\n").has_value());
    EXPECT_FALSE(ParseMemTotalBytes("MemTotal: 18014398509481984 kB\n").has_value()); // 2^54 KiB overflows
    EXPECT_FALSE(ParseMemTotalBytes("MemTotal: 99999999999999999999999 kB\n").has_value());
}

TEST(PciIds, DevicesAreLookedUpUnderTheirOwnVendorOnly)
{
    std::string database = "# comment\n1002  AMD\n\t1234  Radeon\n\t\t1002 1234  Sub\n8086  Intel\n\t5678  UHD\n"
                           "\t1234  Intel 1234\nC 03  Display controller\n\t5678  fake\n";
    auto amd = LookUpPciNames(database, "1002", "1234");
    ASSERT_TRUE(amd.has_value());
    EXPECT_EQ(amd->vendor, "AMD");
    EXPECT_EQ(amd->device, "Radeon");
    auto intel = LookUpPciNames(database, "8086", "1234");
    ASSERT_TRUE(intel.has_value());
    EXPECT_EQ(intel->device, "Intel 1234");
    auto missing = LookUpPciNames(database, "1002", "5678");
    ASSERT_TRUE(missing.has_value());
    EXPECT_FALSE(missing->device.has_value());
    EXPECT_FALSE(LookUpPciNames(database, "10de", "1234").has_value());
    EXPECT_FALSE(LookUpPciNames(database, "100", "1234").has_value());
}

} // namespace
