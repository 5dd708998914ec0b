#pragma once
#include <cstdint>
#include <string>

// The value tables of the machine profile. Memory and processor codes are the
// numbers of the management classes the collection server was built around
// (Win32_PhysicalMemory, Win32_Processor); the Linux sources are mapped onto
// them first.

// "Memory_Type": 2 "DRAM" … 21 "DDR-2"; any other code, 0 and 1 included, "DDR-3".
const char *MemoryTypeName(uint32_t code);

// The management memory-type code of an SMBIOS type 17 "Memory Type" byte;
// 0 (unknown) for types the management class has no number for (DDR4 and later).
uint32_t MemoryTypeCodeOfSmbios(uint8_t smbiosType);

// "CPU_Type": 1 "Other" … 6 "Video Processor", any other "Error".
const char *CpuTypeName(int32_t code);

// "CPU_Architecture": 0 "x86", 1 "MIPS", 2 "Alpha", 3 "PowerPC", 6 "Itanium-based
// systems", 9 "x64", any other "Error".
const char *CpuArchitectureName(int32_t code);

// The architecture code of a kernel machine name: "x86_64" 9, "i386" to
// "i686" 0, anything else -1.
int32_t CpuArchitectureOfMachine(const std::string &machine);

// Every processor /proc/cpuinfo lists is a central processor.
inline constexpr int32_t kCentralProcessorType = 3;
