#include "platform/atomic_replace.h"

#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace platform;

namespace {

std::vector<std::string> Entries(const std::filesystem::path &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

TEST(AtomicReplaceTest, CreatesAndReplacesWholeContents)
{
    ScratchFolder folder;
    std::string path = folder.Path("state.dat");
    ASSERT_TRUE(ReplaceFileAtomically(path, "first, longer content", false));
    EXPECT_EQ(folder.Read("state.dat"), "first, longer content");
    ASSERT_TRUE(ReplaceFileAtomically(path, "second", true));
    EXPECT_EQ(folder.Read("state.dat"), "second");
    ASSERT_TRUE(ReplaceFileAtomically(path, "", true));
    EXPECT_EQ(folder.Read("state.dat"), "");
    EXPECT_EQ(Entries(folder.Root()), std::vector<std::string>{"state.dat"});
}

TEST(AtomicReplaceTest, FailuresLeaveTheTargetAndNoTempFile)
{
    ScratchFolder folder;
    EXPECT_FALSE(ReplaceFileAtomically(folder.Path("missing/state.dat"), "x", false));
    EXPECT_FALSE(ReplaceFileAtomically(folder.Path("state.dat/"), "x", false));
    EXPECT_FALSE(ReplaceFileAtomically("", "x", false));

    // rename cannot put a file over a non-empty folder.
    std::filesystem::create_directories(folder.Path("busy/inner"));
    EXPECT_FALSE(ReplaceFileAtomically(folder.Path("busy"), "x", true));
    EXPECT_TRUE(std::filesystem::is_directory(folder.Path("busy/inner")));
    EXPECT_EQ(Entries(folder.Root()), std::vector<std::string>{"busy"});
}

TEST(AtomicReplaceTest, TheLongestFileNameStillGetsATempName)
{
    ScratchFolder folder;
    std::string name(255, 'n');
    ASSERT_TRUE(ReplaceFileAtomically(folder.Path(name), "content", false));
    EXPECT_EQ(folder.Read(name), "content");
    EXPECT_EQ(Entries(folder.Root()), std::vector<std::string>{name});
}

TEST(AtomicReplaceTest, RelativePathsUseTheWorkingFolder)
{
    ScratchFolder folder;
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.Root());
    bool ok = ReplaceFileAtomically("relative.dat", "here", false);
    std::filesystem::current_path(previous);
    ASSERT_TRUE(ok);
    EXPECT_EQ(folder.Read("relative.dat"), "here");
    EXPECT_EQ(Entries(folder.Root()), std::vector<std::string>{"relative.dat"});
}

} // namespace
