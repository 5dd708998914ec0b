#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "app/app_file_system.h"

enum class Md5Outcome { Done, Unreadable, Stopped };

struct TFileDigest {
    Md5Outcome outcome = Md5Outcome::Unreadable;
    std::string hex; // 32 lower-case hex digits when Done, else empty
};

// Streams a file through MD5. progress is called with 0 at the start and
// after each read with pieces read × 10000 / (size / 4096), pieces being
// 4096-byte units (a file under 4096 bytes stays at 0; the last short piece
// may take the value a little past 10000). stop is asked between reads; a
// stop ends the computation at once.
TFileDigest FileMd5(IAppFileSystem &files, const std::string &path, const std::function<void(uint32_t)> &progress,
                    const std::function<bool()> &stop);
