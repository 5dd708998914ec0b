#pragma once
#include <cstdint>
#include <string>

// How sizes, speeds and percentages are written for the user and the report.

// "%0.1f TB/GB/MB/KB" from 1024 bytes up, "%u B" below; empty for 0.
std::string SizeText(uint64_t bytes);
// "未知" from 3435973836 bytes per second up, then GB/s, MB/s, KB/s, B/s.
std::string SpeedText(uint64_t bytesPerSecond);
// Hundredths of a percent for the report: "0%", "12.34%", "12%".
std::string PercentText(uint32_t hundredths);
// Hundredths of a percent as "%u.%02u%%".
std::string FractionText(uint32_t hundredths);
