#include "report/profile_tables.h"

const char *MemoryTypeName(uint32_t code)
{
    static constexpr const char *kNames[] = {
        nullptr, nullptr, "DRAM", "Synchronous DRAM", "Cache DRAM", "EDO", "EDRAM", "VRAM", "SRAM", "RAM", "ROM",
        "Flash", "EEPROM", "FEPROM", "EPROM", "CDRAM", "3DRAM", "SDRAM", "SGRAM", "RDRAM", "DDR", "DDR-2",
    };
    if (code < sizeof kNames / sizeof kNames[0] && kNames[code] != nullptr)
        return kNames[code];
    return "DDR-3";
}

uint32_t MemoryTypeCodeOfSmbios(uint8_t smbiosType)
{
    switch (smbiosType) {
    case 0x01: return 1;  // Other
    case 0x03: return 2;  // DRAM
    case 0x04: return 6;  // EDRAM
    case 0x05: return 7;  // VRAM
    case 0x06: return 8;  // SRAM
    case 0x07: return 9;  // RAM
    case 0x08: return 10; // ROM
    case 0x09: return 11; // Flash
    case 0x0A: return 12; // EEPROM
    case 0x0B: return 13; // FEPROM
    case 0x0C: return 14; // EPROM
    case 0x0D: return 15; // CDRAM
    case 0x0E: return 16; // 3DRAM
    case 0x0F: return 17; // SDRAM
    case 0x10: return 18; // SGRAM
    case 0x11: return 19; // RDRAM
    case 0x12: return 20; // DDR
    case 0x13: return 21; // DDR2
    case 0x14: return 22; // DDR2 FB-DIMM
    case 0x18: return 24; // DDR3
    case 0x19: return 25; // FBD2
    default: return 0;    // Unknown, and every type newer than the class
    }
}

const char *CpuTypeName(int32_t code)
{
    switch (code) {
    case 1: return "Other";
    case 2: return "Unknown";
    case 3: return "Central Processor";
    case 4: return "Math Processor";
    case 5: return "DSP Processor";
    case 6: return "Video Processor";
    default: return "Error";
    }
}

const char *CpuArchitectureName(int32_t code)
{
    switch (code) {
    case 0: return "x86";
    case 1: return "MIPS";
    case 2: return "Alpha";
    case 3: return "PowerPC";
    case 6: return "Itanium-based systems";
    case 9: return "x64";
    default: return "Error";
    }
}

int32_t CpuArchitectureOfMachine(const std::string &machine)
{
    if (machine == "x86_64")
        return 9;
    if (machine.size() == 4 && machine[0] == 'i' && machine[1] >= '3' && machine[1] <= '6' && machine.substr(2) == "86")
        return 0;
    return -1;
}
