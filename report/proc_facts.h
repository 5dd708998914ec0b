#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One physical processor package of /proc/cpuinfo.
struct TCpuPackage {
    std::optional<std::string> name;   // "model name"
    std::optional<std::string> vendor; // "vendor_id"
};

// One package per distinct "physical id", in order of first appearance;
// processors without one count as a single package.
std::vector<TCpuPackage> ParseCpuPackages(const std::string &cpuinfo);

// "MemTotal" of /proc/meminfo in bytes; nothing when missing or out of range.
std::optional<uint64_t> ParseMemTotalBytes(const std::string &meminfo);

// A decimal number made only of digits (no sign, no blanks) that fits 64 bits.
std::optional<uint64_t> ParseDecimal(const std::string &text);
