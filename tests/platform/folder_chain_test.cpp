#include "platform/folder_chain.h"

#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(MakeFolderChainTest, CreatesEveryMissingParent)
{
    ScratchFolder folder;
    EXPECT_TRUE(platform::MakeFolderChain(folder.Path("a/b/c")));
    EXPECT_TRUE(std::filesystem::is_directory(folder.Path("a/b/c")));
    EXPECT_TRUE(platform::MakeFolderChain(folder.Path("a/b/c/")));
    EXPECT_TRUE(platform::MakeFolderChain(folder.Path("a//b")));
}

TEST(MakeFolderChainTest, FileInTheWayIsAFailure)
{
    ScratchFolder folder;
    folder.Write("file", "");
    EXPECT_FALSE(platform::MakeFolderChain(folder.Path("file")));
    EXPECT_FALSE(platform::MakeFolderChain(folder.Path("file/sub")));
    EXPECT_FALSE(platform::MakeFolderChain(""));
}

TEST(MakeFolderChainTest, PrivateFoldersAreTheOwnersOnly)
{
    ScratchFolder folder;
    ASSERT_TRUE(platform::MakeFolderChain(folder.Path("p/q"), true));
    const auto perms = std::filesystem::status(folder.Path("p/q")).permissions();
    EXPECT_EQ(perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
              std::filesystem::perms::none);
}

} // namespace
