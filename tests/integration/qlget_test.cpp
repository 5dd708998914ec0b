// qlget end to end: the program against real nginx servers on loopback.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"
#include "tests/integration/qlget_program.h"

namespace {

class QlgetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = scratch.path / "www";
        fs::create_directories(root);
        content = PatternBytes(6 * 1024 * 1024 + 777, 11);
        WriteAll(root / "pkg.bin", content);
        output = scratch.path / "out" / "pkg.bin";
        fs::create_directories(output.parent_path());
    }

    TScratch scratch;
    fs::path root;
    fs::path output;
    std::string content;
};

TEST_F(QlgetTest, MirrorsDeliverTheFileAndACompleteOutputIsKeptWithoutForce)
{
    TNginxOptions options;
    options.addresses = {"127.0.0.1", "127.0.0.2"};
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root, options));
    std::vector<std::string> args{"-o", output.string(), nginx.Url("/pkg.bin", 0), nginx.Url("/pkg.bin", 1)};
    std::string said;
    ASSERT_EQ(RunQlget(args, said), 0) << said;
    EXPECT_EQ(Md5Hex(ReadAll(output)), Md5Hex(content));
    EXPECT_FALSE(fs::exists(output.string() + ".qltmp"));
    EXPECT_NE(said.find("saved " + output.string()), std::string::npos) << said;
    EXPECT_NE(said.find("100.00%"), std::string::npos) << "a progress line without a terminal: " << said;

    WriteAll(output, "kept");
    EXPECT_EQ(RunQlget(args, said), 3) << said;
    EXPECT_NE(said.find("--force"), std::string::npos) << said;
    EXPECT_EQ(ReadAll(output), "kept");

    args.push_back("--force");
    ASSERT_EQ(RunQlget(args, said), 0) << said;
    EXPECT_EQ(Md5Hex(ReadAll(output)), Md5Hex(content));
}

TEST_F(QlgetTest, OutputIsNamedAfterTheUrlInTheWorkingFolder)
{
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root));
    std::string said;
    std::string command = "cd \"$1\" && exec \"$0\" \"$2\" 2>&1";
    ASSERT_EQ(platform::RunProgram({"/bin/sh", "-c", command, QLGET_PROGRAM, output.parent_path().string(),
                                    nginx.Url("/pkg.bin?x=1")},
                                   &said),
              0)
        << said;
    EXPECT_EQ(Md5Hex(ReadAll(output)), Md5Hex(content));
}

TEST_F(QlgetTest, FailuresEndWithTheirOwnStatusAndMessage)
{
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root));
    std::string said;
    EXPECT_EQ(RunQlget({"-o", output.string(), nginx.Url("/missing.bin")}, said), 13) << said;
    EXPECT_NE(said.find("no source is left"), std::string::npos) << said;
    EXPECT_NE(said.find("127.0.0.1:" + std::to_string(nginx.Port()) + ": HTTP 404 Not Found; this source is given up"),
              std::string::npos)
        << said;
    EXPECT_FALSE(fs::exists(output));

    EXPECT_EQ(RunQlget({"https://127.0.0.1/x.bin"}, said), 2) << said;
    EXPECT_NE(said.find("https:// is not supported"), std::string::npos) << said;

    fs::path junk = scratch.path / "junk.torrent";
    WriteAll(junk, "not a torrent");
    EXPECT_EQ(RunQlget({"-o", output.string(), "--torrent", junk.string(), nginx.Url("/pkg.bin")}, said), 12)
        << said;
}

TEST_F(QlgetTest, ARedirectBuiltFromTheHostHeaderLeadsBackToTheSamePort)
{
    // As web frameworks do: the target's authority is whatever Host said.
    TNginxOptions options;
    options.serverDirectives = "    location = /moved.bin { return 302 http://$http_host/pkg.bin; }";
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root, options));
    std::string said;
    ASSERT_EQ(RunQlget({"-o", output.string(), nginx.Url("/moved.bin")}, said), 0) << said;
    EXPECT_EQ(Md5Hex(ReadAll(output)), Md5Hex(content));
}

TEST_F(QlgetTest, DataThatNeverVerifiesEndsWithItsOwnStatusNamingServerAndPiece)
{
    constexpr size_t kPiece = 256 * 1024;
    fs::path original = scratch.path / "original" / "pkg.bin";
    fs::create_directories(original.parent_path());
    WriteAll(original, content);
    fs::path torrent = scratch.path / "pkg.torrent";
    ASSERT_NO_FATAL_FAILURE(MakeTorrent(original, torrent, 18));
    std::string served = content;
    served[5 * kPiece + 100] ^= 0x40;
    WriteAll(root / "pkg.bin", served);
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root));
    std::string server = "127.0.0.1:" + std::to_string(nginx.Port());

    // One bad byte in piece 5: every other piece still arrives, piece 5 is
    // fetched again until its server is condemned.
    std::string said;
    std::vector<std::string> args{"-o", output.string(), "--torrent", torrent.string(), nginx.Url("/pkg.bin")};
    ASSERT_EQ(RunQlget(args, said), 19) << said;
    const std::string verdict = "the data from " + server + " does not match the torrent: piece 5 failed ";
    size_t at = said.find(verdict);
    ASSERT_NE(at, std::string::npos) << said;
    int failures = std::atoi(said.c_str() + at + verdict.size());
    EXPECT_GE(failures, 3) << said;
    EXPECT_LE(failures, 6) << "the piece is not fetched again and again: " << said;
    EXPECT_FALSE(fs::exists(output));
    std::string partial = ReadAll(output.string() + ".qltmp");
    ASSERT_EQ(partial.size(), content.size());
    EXPECT_EQ(Md5Hex(partial.substr(0, 5 * kPiece)), Md5Hex(content.substr(0, 5 * kPiece)));
    EXPECT_EQ(Md5Hex(partial.substr(6 * kPiece)), Md5Hex(content.substr(6 * kPiece)))
        << "the pieces after the bad one are fetched";

    // Another file of the same size under the torrent: nothing verifies.
    WriteAll(root / "pkg.bin", PatternBytes(content.size(), 12));
    args.push_back("--force");
    ASSERT_EQ(RunQlget(args, said), 19) << said;
    EXPECT_NE(said.find("the data from " + server + " does not match the torrent: piece "), std::string::npos)
        << said;
}

// Starts a paced download of url into output and interrupts it once some
// bytes are on disk, so the next run resumes.
void InterruptAfterSomeBytes(const fs::path &output, const std::string &url)
{
    int pid = StartQlget({"-o", output.string(), "--limit", "512", url});
    ASSERT_GT(pid, 0);
    fs::path partial = output.string() + ".qltmp";
    for (int waited = 0; waited < 10000 && !(fs::exists(partial) && fs::file_size(partial) > 0); waited += 20)
        platform::SleepMs(20);
    platform::SleepMs(1500);
    ASSERT_TRUE(platform::InterruptChildProcess(pid));
    platform::ChildResult result;
    ASSERT_TRUE(platform::WaitChild(pid, result));
    ASSERT_EQ(result.exitCode, 130);
}

TEST_F(QlgetTest, AResumeNeverJoinsTwoVersionsOfTheFile)
{
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root));
    const std::string second = PatternBytes(content.size(), 23);

    // The server's file is replaced by another of the same size between runs
    // (nginx's ETag changes with the modification time).
    ASSERT_NO_FATAL_FAILURE(InterruptAfterSomeBytes(output, nginx.Url("/pkg.bin")));
    WriteAll(root / "pkg.bin", second);
    fs::last_write_time(root / "pkg.bin", fs::last_write_time(root / "pkg.bin") + std::chrono::seconds(5));
    std::string said;
    ASSERT_EQ(RunQlget({"-o", output.string(), nginx.Url("/pkg.bin")}, said), 0) << said;
    EXPECT_NE(said.find("the file changed on the server; starting again"), std::string::npos) << said;
    EXPECT_EQ(Md5Hex(ReadAll(output)), Md5Hex(second));

    // The same output reused with another URL of the same size.
    fs::remove(output);
    WriteAll(root / "pkg.bin", content);
    WriteAll(root / "other.bin", second);
    ASSERT_NO_FATAL_FAILURE(InterruptAfterSomeBytes(output, nginx.Url("/pkg.bin")));
    ASSERT_EQ(RunQlget({"-o", output.string(), nginx.Url("/other.bin")}, said), 0) << said;
    EXPECT_NE(said.find("starting again"), std::string::npos) << said;
    EXPECT_EQ(Md5Hex(ReadAll(output)), Md5Hex(second));
}

TEST_F(QlgetTest, AFileReplacedDuringTheRunIsBegunAgainNotJoined)
{
    TNginxOptions options;
    options.addresses = {"127.0.0.1", "127.0.0.2"};
    options.serverDirectives = "    limit_rate 512k;";
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root, options));
    const std::string second = PatternBytes(content.size(), 29);
    int pid = StartQlget({"-o", output.string(), nginx.Url("/pkg.bin", 0), nginx.Url("/pkg.bin", 1)});
    ASSERT_GT(pid, 0);
    fs::path partial = output.string() + ".qltmp";
    for (int waited = 0; waited < 10000 && !(fs::exists(partial) && fs::file_size(partial) > 0); waited += 20)
        platform::SleepMs(20);
    platform::SleepMs(1000);
    // Replaced as publishers do: a new file renamed over the old one.
    WriteAll(root / "pkg.new", second);
    fs::last_write_time(root / "pkg.new", fs::last_write_time(root / "pkg.bin") + std::chrono::seconds(5));
    fs::rename(root / "pkg.new", root / "pkg.bin");
    platform::ChildResult result;
    ASSERT_TRUE(platform::WaitChild(pid, result));
    ASSERT_EQ(result.exitCode, 0);
    // Streams opened before the change may still deliver the old file to its
    // end (nginx keeps the old one open); a range asked after it meets the
    // new one. Either way the output is one version whole, never a join.
    const std::string got = Md5Hex(ReadAll(output));
    EXPECT_TRUE(got == Md5Hex(second) || got == Md5Hex(content)) << "a mix of the two versions";
}

TEST_F(QlgetTest, InterruptStopsTheDownloadAndTheSameCommandFinishesIt)
{
    // The server paces the download: on loopback the client's own limit
    // comes too late for the first bytes.
    TNginxOptions options;
    options.serverDirectives = "    limit_rate 256k;";
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root, options));
    ASSERT_NO_FATAL_FAILURE(InterruptAfterSomeBytes(output, nginx.Url("/pkg.bin")));
    EXPECT_FALSE(fs::exists(output)) << "an interrupted download never looks complete";

    std::string said;
    ASSERT_EQ(RunQlget({"-o", output.string(), nginx.Url("/pkg.bin")}, said), 0) << said;
    EXPECT_EQ(Md5Hex(ReadAll(output)), Md5Hex(content));
}

} // namespace
