// The crash handler leaves a dump file and still lets the signal end the
// process.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <regex>

#include "platform/crash_dump.h"
#include "tests/platform/scratch_folder.h"

namespace {

TEST(CrashDump, FatalSignalWritesADumpNamedByTheTimeAndEndsTheProcess)
{
    // The child is forked at the statement, so it writes where this test looks.
    GTEST_FLAG_SET(death_test_style, "fast");
    ScratchFolder scratch;
    const std::string folder = scratch.Root().string();
    EXPECT_EXIT(
        {
            platform::InstallCrashDumpHandler(folder);
            std::raise(SIGSEGV);
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    int dumps = 0;
    for (const auto &entry : std::filesystem::directory_iterator(scratch.Root())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(std::regex_match(name, std::regex(R"(\d{4}(-\d{2}){5}-\d{2,3}-\d{2}\.dmp)"))) << name;
        EXPECT_GT(entry.file_size(), 0u);
        ++dumps;
    }
    EXPECT_EQ(dumps, 1);
}

} // namespace
