#pragma once
// A quarrowlight-cli with a package stamped in by qlpack, for the tests that
// run the program itself (they define QLPACK_PROGRAM and
// QUARROWLIGHT_CLI_PROGRAM).
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/run_program.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"

inline constexpr int kStampedFiles = 6;

// Stamps the six files folder/www/names[i], served by nginx at /names[i],
// into folder/quarrowlight-cli; packageLines are more lines of [package].
inline void StampProgram(const fs::path &folder, const TNginxServer &nginx, const std::string (&names)[kStampedFiles],
                         const std::string &packageLines, std::string &program)
{
    std::ofstream ini(folder / "package.ini");
    ini << "[package]\nannounce = " << nginx.Url("/announce") << "\n" << packageLines;
    for (int i = 0; i < kStampedFiles; ++i) {
        ini << "[file" << i << "]\nname = " << names[i] << "\nurl = " << nginx.Url("/" + names[i])
            << "\npath = www/" << names[i] << "\n";
    }
    ini.close();
    program = (folder / "quarrowlight-cli").string();
    std::string said;
    ASSERT_EQ(platform::RunProgram({QLPACK_PROGRAM, (folder / "package.ini").string(), QUARROWLIGHT_CLI_PROGRAM, program},
                                   &said),
              0)
        << said;
    fs::permissions(program, fs::perms::owner_all);
}
