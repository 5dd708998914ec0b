#include "platform/own_file.h"
#include "platform/run_program.h"

#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

using platform::ReplaceOwnFile;

namespace {

TEST(ReplaceOwnFileTest, CreatesAndReplacesWholeFiles)
{
    ScratchFolder folder;
    EXPECT_TRUE(ReplaceOwnFile(folder.Path("a"), "first"));
    EXPECT_EQ(folder.Read("a"), "first");
    EXPECT_TRUE(ReplaceOwnFile(folder.Path("a"), "2"));
    EXPECT_EQ(folder.Read("a"), "2");
    // No temp file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Root()), {}), 1);
}

TEST(ReplaceOwnFileTest, RefusesLinksFoldersAndMissingFolders)
{
    ScratchFolder folder;
    folder.Write("target", "keep");
    std::filesystem::create_symlink(folder.Path("target"), folder.Path("link"));
    std::filesystem::create_directory(folder.Path("dir"));
    EXPECT_FALSE(ReplaceOwnFile(folder.Path("link"), "x"));
    EXPECT_FALSE(ReplaceOwnFile(folder.Path("dir"), "x"));
    EXPECT_FALSE(ReplaceOwnFile(folder.Path("none/a"), "x"));
    EXPECT_FALSE(ReplaceOwnFile("", "x"));
    EXPECT_EQ(folder.Read("target"), "keep");
    EXPECT_TRUE(std::filesystem::is_symlink(folder.Path("link")));
}

TEST(ReplaceOwnFileTest, RefusesAnotherUsersFile)
{
    ScratchFolder folder;
    folder.Write("theirs", "not ours");
    // Only root can give a file away; elsewhere there is nothing to test.
    if (platform::RunProgram({"chown", "65534", folder.Path("theirs")}) != 0)
        GTEST_SKIP() << "cannot make a file of another user here";
    EXPECT_FALSE(ReplaceOwnFile(folder.Path("theirs"), "mine"));
    EXPECT_EQ(folder.Read("theirs"), "not ours");
}

} // namespace
