#pragma once
// Programs with a package stamped in by qlpack, for the tests that run them
// (they define QLPACK_PROGRAM and QUARROWLIGHT_CLI_PROGRAM), and the stand-in
// for the desktop's opener that runs a downloaded installer script.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/run_program.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"

inline constexpr int kStampedFiles = 6;

// An installer that leaves installed.marker beside itself.
inline constexpr char kMarkerInstallerScript[] = "#!/bin/sh\ndate > \"$(dirname \"$0\")/installed.marker\"\n";

// Writes folder/package.ini for the six files folder/www/names[i], served by
// nginx at /names[i]; packageLines are more lines of [package].
inline void WritePackageIni(const fs::path &folder, const TNginxServer &nginx,
                            const std::string (&names)[kStampedFiles], const std::string &packageLines)
{
    std::ofstream ini(folder / "package.ini");
    ini << "[package]\nannounce = " << nginx.Url("/announce") << "\n" << packageLines;
    for (int i = 0; i < kStampedFiles; ++i) {
        ini << "[file" << i << "]\nname = " << names[i] << "\nurl = " << nginx.Url("/" + names[i])
            << "\npath = www/" << names[i] << "\n";
    }
}

// Stamps folder/package.ini into a copy of the built program, folder/ plus
// its file name, which program receives.
inline void StampBuiltProgram(const fs::path &folder, const std::string &built, std::string &program)
{
    program = (folder / fs::path(built).filename()).string();
    std::string said;
    ASSERT_EQ(platform::RunProgram({QLPACK_PROGRAM, (folder / "package.ini").string(), built, program}, &said), 0)
        << said;
    fs::permissions(program, fs::perms::owner_all);
}

// Stamps the six files into folder/quarrowlight-cli.
inline void StampProgram(const fs::path &folder, const TNginxServer &nginx, const std::string (&names)[kStampedFiles],
                         const std::string &packageLines, std::string &program)
{
    WritePackageIni(folder, nginx, names, packageLines);
    StampBuiltProgram(folder, QUARROWLIGHT_CLI_PROGRAM, program);
}

// A script that is not executable goes to xdg-open; this one in folder (put
// first on PATH) runs it.
inline void WriteInstallerOpener(const fs::path &folder)
{
    WriteAll(folder / "xdg-open", "#!/bin/sh\nexec sh \"$1\"\n");
    fs::permissions(folder / "xdg-open", fs::perms::owner_all);
}
