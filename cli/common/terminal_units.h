#pragma once
// Units and conventions the command-line programs share.
#include <cstdint>
#include <string>

// The engine takes speed limits up to this many KB/s; 0 means none.
inline constexpr int32_t kMaxSpeedLimitKBps = 32766;

// "512 B", "1.5 KiB", "12.0 MiB", "1.02 GiB".
std::string FormatBytes(uint64_t bytes);

// "0:07", "12:05", "3:02:01"; "--:--" when unknown (negative).
std::string FormatDuration(int64_t seconds);

// An engine task's time left for FormatDuration: the engine says 0 both for
// a finished file and while too little flows to estimate, so 0, like a rate
// of 0, counts as unknown (-1).
inline int64_t KnownSecondsLeft(int64_t speed, int64_t secondsLeft)
{
    return speed > 0 && secondsLeft > 0 ? secondsLeft : -1;
}

// Reads the value of a speed-limit option (name is the option, for the
// message): KB/s from 0 (no limit) to kMaxSpeedLimitKBps.
bool ParseSpeedLimit(const std::string &name, const std::string &text, int32_t &value, std::string &error);

// The exit status a stop signal gives, as a shell reports a killed program.
inline int ExitCodeOfSignal(int signal)
{
    return 128 + signal;
}
