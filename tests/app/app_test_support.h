#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "app/app_clock.h"
#include "app/local_file_system.h"
#include "tests/platform/scratch_folder.h"

// A clock that never waits: a sleep moves the tick count on.
class FakeAppClock : public IAppClock {
public:
    uint32_t TickCount() override { return tick.load(); }
    void SleepMs(uint32_t ms) override
    {
        tick += ms;
        sleptMs += ms;
    }
    std::string LocalTimeText(const char *) override { return "2024-05-06 07:08:09"; }

    std::atomic<uint32_t> tick{1000};
    std::atomic<uint64_t> sleptMs{0};
};

// The real file system with the TEMP and home folders inside a scratch
// folder.
class ScratchFileSystem : public CLocalFileSystem {
public:
    explicit ScratchFileSystem(const ScratchFolder &scratch) : root(scratch.Root().string()) {}
    std::string TempFolder() override { return root + "/tmp"; }
    std::string CommonDataFolder() override { return root + "/data"; }
    std::string HomeFolder() override { return root + "/home"; }
    std::string DownloadFolder() override { return downloads; }

    std::string root;
    std::string downloads;
};
