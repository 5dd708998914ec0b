#pragma once
// The progress line: percent, speed, time left, bytes from servers and peers.
#include <cstdint>
#include <string>

#include "engine/core/engine_interface.h"

// "512 B", "1.5 KiB", "12.0 MiB", "1.02 GiB".
std::string FormatBytes(uint64_t bytes);

// "0:07", "12:05", "3:02:01"; "--:--" when unknown (negative).
std::string FormatDuration(int64_t seconds);

std::string FormatProgressLine(const TTaskInfo &info);
