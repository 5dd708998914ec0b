#include "app/file_md5.h"
#include "tests/app/scripted_files.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class FileMd5Test : public ::testing::Test {
protected:
    TFileDigest Digest(const std::string &path)
    {
        progress.clear();
        return FileMd5(files, path, [this](uint32_t value) { progress.push_back(value); }, [this] { return stop; });
    }
    ScratchFolder scratch;
    ScriptedFiles files{scratch};
    std::vector<uint32_t> progress;
    bool stop = false;
};

TEST_F(FileMd5Test, KnownDigests)
{
    scratch.Write("abc", "abc");
    scratch.Write("empty", "");
    EXPECT_EQ(Digest(scratch.Path("abc")).hex, "900150983cd24fb0d6963f7d28e17f72");
    const TFileDigest empty = Digest(scratch.Path("empty"));
    EXPECT_EQ(empty.outcome, Md5Outcome::Done);
    EXPECT_EQ(empty.hex, "d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(FileMd5Test, LargeFileAcrossManyReads)
{
    // One million 'a' (RFC 1321 test suite's neighbour, from FIPS 180).
    scratch.Write("million", std::string(1000000, 'a'));
    EXPECT_EQ(Digest(scratch.Path("million")).hex, "7707d6ae4e027c70eea2a935c2296f21");
    ASSERT_GE(progress.size(), 2u);
    EXPECT_EQ(progress.front(), 0u);
    // 244 whole pieces of 4096 bytes make the scale; the last short one
    // counts whole and takes the value past 10000.
    EXPECT_EQ(progress.back(), 10040u);
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_GE(progress[i], progress[i - 1]);
}

TEST_F(FileMd5Test, SmallFileProgressStaysAtZero)
{
    scratch.Write("small", std::string(4095, 'b'));
    EXPECT_EQ(Digest(scratch.Path("small")).outcome, Md5Outcome::Done);
    for (uint32_t value : progress)
        EXPECT_EQ(value, 0u);
}

TEST_F(FileMd5Test, ExactPiecesEndAtTenThousand)
{
    scratch.Write("exact", std::string(4096 * 70, 'c'));
    EXPECT_EQ(Digest(scratch.Path("exact")).outcome, Md5Outcome::Done);
    EXPECT_EQ(progress.back(), 10000u);
}

TEST_F(FileMd5Test, UnreadableFilesHaveNoDigest)
{
    EXPECT_EQ(Digest(scratch.Path("missing")).outcome, Md5Outcome::Unreadable);
    EXPECT_EQ(Digest(scratch.Root().string()).hex, "");
    files.scripts["/broken"] = {1u << 20, 300000, false};
    const TFileDigest broken = Digest("/broken");
    EXPECT_EQ(broken.outcome, Md5Outcome::Unreadable);
    EXPECT_EQ(broken.hex, "");
}

TEST_F(FileMd5Test, StopEndsAnEndlessRead)
{
    files.scripts["/endless"] = {4096, UINT64_MAX, true};
    int calls = 0;
    const TFileDigest digest = FileMd5(files, "/endless", [&](uint32_t) { ++calls; }, [&] { return calls > 50; });
    EXPECT_EQ(digest.outcome, Md5Outcome::Stopped);
    EXPECT_EQ(digest.hex, "");
}

} // namespace
