#include <gtest/gtest.h>

#include <string>

#include "platform/read_file.h"
#include "tests/platform/scratch_folder.h"

using platform::ReadFileStatus;
using platform::ReadWholeFile;

TEST(ReadWholeFile, ReadsUpToTheLimitAndNoFurther)
{
    ScratchFolder folder;
    const std::string bytes(100000, 'q');
    folder.Write("exact", bytes);
    folder.Write("empty", "");
    std::string out;
    EXPECT_EQ(ReadWholeFile(folder.Path("exact"), bytes.size(), out), ReadFileStatus::Ok);
    EXPECT_EQ(out, bytes);
    EXPECT_EQ(ReadWholeFile(folder.Path("exact"), bytes.size() - 1, out), ReadFileStatus::TooLarge);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(ReadWholeFile(folder.Path("empty"), 10, out), ReadFileStatus::Ok);
    EXPECT_TRUE(out.empty());
}

TEST(ReadWholeFile, WhatIsNoRegularFileIsUnreadable)
{
    ScratchFolder folder;
    std::string out = "stale";
    EXPECT_EQ(ReadWholeFile(folder.Path("missing"), 10, out), ReadFileStatus::Unreadable);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(ReadWholeFile(folder.Root().string(), 10, out), ReadFileStatus::Unreadable);
    // A device that never ends is refused before anything is read.
    EXPECT_EQ(ReadWholeFile("/dev/zero", 10, out), ReadFileStatus::Unreadable);
}
