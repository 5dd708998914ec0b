#pragma once
// The live display of the package: one line per file and one for the total,
// redrawn in place on a terminal; on a pipe or file the total every few
// seconds and a file's line whenever its status changes.
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "app/package_controller.h"

// "setup.sh  √ 下载完成   100.00%  1.20 MiB/s  ETA 0:07  servers 12.0 MiB  peers 0 B"
std::string FormatFileLine(const TFileView &file);
// "total  downloading  45.12%  120 MiB of 266 MiB  3.10 MiB/s  ETA 0:47  servers … peers …"
std::string FormatPackageLine(const TPackageView &package);
// The package state as the log names it ("downloading"), or its number.
std::string PackageStateText(uint32_t state);

class CPackageDisplay {
public:
    CPackageDisplay(std::FILE *out, bool terminal);

    // Draws the lines when their period has passed, or at once when final.
    void Show(const std::vector<TFileView> &files, const TPackageView &package, bool final = false);
    // Prints a line above the live block; safe from any thread.
    void PrintMessage(const std::string &line);

private:
    void EraseBlock();

    std::FILE *out;
    const bool terminal;
    std::mutex lock;
    int drawnLines = 0;
    bool shownOnce = false;
    uint32_t lastShown = 0;
    std::vector<std::string> lastStatus;
};
