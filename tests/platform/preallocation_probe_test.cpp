#include <gtest/gtest.h>

#include "platform/preallocation_probe.h"
#include "tests/platform/scratch_folder.h"

namespace {

TEST(PreallocationProbeTest, AsksTheNearestExistingFolderAndLeavesNothingBehind)
{
    ScratchFolder scratch;
    // tmpfs and the usual disk file systems reserve blocks up front.
    EXPECT_EQ(platform::ProbePreallocation(scratch.Path("not/yet/made/file.bin")), platform::Preallocation::Supported);
    EXPECT_TRUE(std::filesystem::is_empty(scratch.Root())) << "the probe file is unnamed and dropped";
    EXPECT_EQ(platform::ProbePreallocation("relative/path"), platform::Preallocation::Unknown);
    EXPECT_EQ(platform::ProbePreallocation(""), platform::Preallocation::Unknown);
}

} // namespace
