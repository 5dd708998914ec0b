#pragma once
// The progress line: percent, speed, time left, bytes from servers and peers.
#include <cstdint>
#include <string>

#include "cli/common/terminal_units.h"
#include "engine/core/engine_interface.h"

std::string FormatProgressLine(const TTaskInfo &info);
