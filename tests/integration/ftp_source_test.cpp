// One FTP source peer against real servers: vsftpd and pyftpdlib, each a
// process on free loopback ports, stopped by its process id.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "engine/base/engine_clock.h"
#include "engine/net/ftp_peer.h"
#include "platform/child_process.h"
#include "tests/engine/net/memory_peer_task.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/ftp_servers.h"

namespace {

constexpr int32_t kPiece = 262144;
constexpr int64_t kSize = 12 * kPiece - 5000;
// Five whole pieces are present before the download starts.
constexpr int64_t kMissingBlocks = (kSize - 5 * kPiece + kBlockBytes - 1) / kBlockBytes;

std::vector<std::string> Lines(const fs::path &path)
{
    std::istringstream text(ReadAll(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

bool Penalised(const TMemoryPeerTask &task, int32_t amount)
{
    return std::any_of(task.penalties.begin(), task.penalties.end(),
                       [&](const TMemoryPeerTask::Penalty &p) { return p.amount == amount; });
}

class FtpSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = scratch.path / "www";
        fs::create_directories(root / "pub");
        std::string bytes = PatternBytes(kSize, 3);
        content.assign(bytes.begin(), bytes.end());
        WriteAll(root / "pub" / "file.bin", bytes);
    }

    // Holes: the peer starts inside the file and must move its data stream
    // twice, each time farther than it reads ahead.
    void MakeHoles()
    {
        for (int32_t piece : {0, 3, 4, 5, 9})
            task.MarkPresent(piece, piece, content);
    }

    TFtpPeer *Attach(const std::string &url)
    {
        address.reset(new TPeerId);
        EXPECT_TRUE(address->Parse(url));
        peer.reset(new TFtpPeer(&task));
        ++attaches;
        attached = peer->AttachAddress(address.get());
        return peer.get();
    }

    // Ticks the peer until done() holds; false when the peer failed first
    // or time ran out.
    bool Drive(const std::function<bool()> &done, int rounds = 200000)
    {
        for (int round = 0; round < rounds; ++round) {
            if (done())
                return true;
            lastTick = peer->DownloadTick();
            if (!lastTick)
                return done();
            if (peer->tick.received == 0)
                platform::SleepMs(1);
        }
        return done();
    }

    bool Download(const std::string &url)
    {
        address.reset(new TPeerId);
        EXPECT_TRUE(address->Parse(url));
        peer.reset(new TFtpPeer(&task));
        return DriveUntilComplete(task, *peer, address.get(), attaches);
    }

    bool Fails() { return !Drive([] { return false; }) && !lastTick; }

    TScratch scratch;
    fs::path root;
    std::vector<uint8_t> content;
    TMemoryPeerTask task{kSize, kPiece};
    std::unique_ptr<TPeerId, Released> address;
    std::unique_ptr<TFtpPeer, Released> peer;
    int attaches = 0;
    bool attached = false;
    bool lastTick = true;
};

TEST_F(FtpSourceTest, VsftpdServesEveryTransferOnOneControlConnection)
{
    MakeHoles();
    TVsftpdServer vsftpd;
    TVsftpdOptions options;
    options.banner = {"Welcome to the mirror.", "Hi! there", "220 is not the end of this greeting"};
    ASSERT_TRUE(vsftpd.Start(root, options));
    ASSERT_TRUE(Download(vsftpd.Url("/pub/file.bin")));
    EXPECT_TRUE(task.data == content) << "the stored bytes differ from the served file";
    EXPECT_EQ(task.writes, kMissingBlocks);
    EXPECT_EQ(attaches, 1) << "the stream moved by failing instead of by a new transfer";
    EXPECT_EQ(address->Parts().serverSize, kSize);
    peer->Reset();
    vsftpd.Stop();
}

TEST_F(FtpSourceTest, PyftpdlibGetsBinaryModeBeforeSizeAndAnOffsetForEveryTransfer)
{
    MakeHoles();
    TPyftpdServer pyftpd;
    TPyftpdOptions options;
    options.record = true;
    ASSERT_TRUE(pyftpd.Start(root, options));
    ASSERT_TRUE(Download(pyftpd.Url("/pub/file.bin")));
    EXPECT_TRUE(task.data == content) << "the stored bytes differ from the served file";
    EXPECT_EQ(attaches, 1);
    peer->Reset();

    std::vector<std::string> commands = Lines(pyftpd.Record());
    std::vector<std::string> expectedStart = {"USER anonymous", "PASS ***", "CWD /pub", "TYPE i", "SIZE file.bin"};
    ASSERT_GE(commands.size(), expectedStart.size());
    std::vector<std::string> rests;
    for (size_t i = 0; i < commands.size(); ++i) {
        std::string command = commands[i].substr(commands[i].find(' ') + 1);
        if (i < expectedStart.size()) {
            EXPECT_EQ(command, expectedStart[i]);
        }
        if (command.rfind("REST ", 0) == 0)
            rests.push_back(command.substr(5));
        EXPECT_EQ(commands[i].substr(0, commands[i].find(' ')), commands[0].substr(0, commands[0].find(' ')))
            << "one control connection for every command";
    }
    // Pieces 1-2, 6-8 and 10-11 are missing: one transfer each.
    EXPECT_EQ(rests, (std::vector<std::string>{std::to_string(kPiece), std::to_string(6 * kPiece),
                                               std::to_string(10 * kPiece)}));
}

TEST_F(FtpSourceTest, EightyKiBAheadAreReadThroughAndNinetySixMoveTheStream)
{
    // One block a piece: the holes are exactly 5 and 6 blocks long.
    const int64_t blocks = 40;
    task.SetFile(blocks * kBlockBytes, kBlockBytes);
    std::string bytes = PatternBytes(blocks * kBlockBytes, 6);
    content.assign(bytes.begin(), bytes.end());
    WriteAll(root / "pub" / "file.bin", bytes);
    task.MarkPresent(2, 6, content);
    task.MarkPresent(12, 17, content);
    TPyftpdServer pyftpd;
    TPyftpdOptions options;
    options.record = true;
    ASSERT_TRUE(pyftpd.Start(root, options));
    ASSERT_TRUE(Download(pyftpd.Url("/pub/file.bin")));
    EXPECT_TRUE(task.data == content);
    EXPECT_EQ(task.writes, blocks - 11);
    peer->Reset();

    std::vector<std::string> rests;
    for (const std::string &line : Lines(pyftpd.Record()))
        if (line.find(" REST ") != std::string::npos)
            rests.push_back(line.substr(line.find(" REST ") + 6));
    EXPECT_EQ(rests, (std::vector<std::string>{"0", std::to_string(18 * kBlockBytes)}));
}

TEST_F(FtpSourceTest, BothServersFillTheWholeContentOfASmallFile)
{
    std::string small = PatternBytes(70000, 5);
    WriteAll(root / "pub" / "f.torrent", small);
    TVsftpdServer vsftpd;
    ASSERT_TRUE(vsftpd.Start(root));
    TPyftpdServer pyftpd;
    ASSERT_TRUE(pyftpd.Start(root));
    for (const std::string &url : {vsftpd.Url("/pub/f.torrent"), pyftpd.Url("/pub/f.torrent")}) {
        SCOPED_TRACE(url);
        address.reset(new TPeerId);
        ASSERT_TRUE(address->Parse(url));
        address->Parts().wholeContent = true;
        address->mainTorrent = true;
        address->Parts().content = "stale";
        peer.reset(new TFtpPeer(&task));
        ASSERT_TRUE(peer->AttachAddress(address.get()));
        EXPECT_EQ(task.phase, 2);
        EXPECT_TRUE(Drive([&] { return address->Parts().contentComplete; }));
        EXPECT_TRUE(address->Parts().content == small);
        EXPECT_EQ(task.writes, 0);
        peer->Reset();
    }
}

TEST_F(FtpSourceTest, APassiveReplyNamingAnotherHostIsConnectedToTheServerItself)
{
    // Nothing listens on 127.0.0.2: following the reply would fail.
    TPyftpdServer pyftpd;
    TPyftpdOptions options;
    options.advertise = "127.0.0.2";
    ASSERT_TRUE(pyftpd.Start(root, options));
    ASSERT_TRUE(Download(pyftpd.Url("/pub/file.bin")));
    EXPECT_TRUE(task.data == content);
    EXPECT_EQ(attaches, 1);
    peer->Reset();
}

TEST_F(FtpSourceTest, AStalledTransferTimesOutAfterFifteenSeconds)
{
    // Large enough that the socket buffers cannot hold the rest when the
    // server freezes.
    const int64_t size = 48 * 1024 * 1024;
    WriteAll(root / "pub" / "big.bin", PatternBytes(size, 9));
    task.SetFile(size, kPiece);
    TPyftpdServer pyftpd;
    ASSERT_TRUE(pyftpd.Start(root));
    const std::string url = pyftpd.Url("/pub/big.bin");
    Attach(url);
    ASSERT_TRUE(attached);
    ASSERT_TRUE(Drive([&] { return peer->Step() == TFtpPeer::STEP_TRANSFER && task.writes > 0; }));
    ASSERT_TRUE(platform::PauseChildProcess(pyftpd.Pid()));
    // Drain what is under way until nothing more arrives.
    int quiet = 0;
    ASSERT_TRUE(Drive([&] { return (quiet = peer->tick.received == 0 ? quiet + 1 : 0) > 300; }));
    ASSERT_FALSE(task.HasAllPieces());
    EXPECT_TRUE(task.penalties.empty());

    AdvanceEngineClock(13);
    EXPECT_TRUE(peer->DownloadTick()) << "13 s without data are within the limit";
    AdvanceEngineClock(3);
    EXPECT_FALSE(peer->DownloadTick());
    EXPECT_EQ(peer->state, PEER_STATE_TIMED_OUT);
    ASSERT_EQ(task.penalties.size(), 1u);
    EXPECT_EQ(task.penalties[0].amount, 15);
    EXPECT_TRUE(peer->requests.empty()) << "the range is given back";
    platform::ResumeChildProcess(pyftpd.Pid());
    peer->Reset();
}

TEST_F(FtpSourceTest, RefusalsEndThePeerAndBackOffFromTheAddress)
{
    // A file of another size than the task's.
    WriteAll(root / "pub" / "other.bin", PatternBytes(kSize + 1, 4));
    TVsftpdServer vsftpd;
    ASSERT_TRUE(vsftpd.Start(root));
    Attach(vsftpd.Url("/pub/other.bin"));
    EXPECT_TRUE(Fails());
    EXPECT_TRUE(Penalised(task, 60)) << "a size that differs from the task's";
    EXPECT_EQ(task.writes, 0);
    peer->Reset();

    // A login the server refuses: 530.
    task.penalties.clear();
    TPyftpdServer pyftpd;
    ASSERT_TRUE(pyftpd.Start(root));
    Attach(pyftpd.Url("/pub/file.bin", "bob:wrong"));
    EXPECT_TRUE(Fails());
    EXPECT_TRUE(Penalised(task, 60)) << "530";
    EXPECT_LT(peer->Step(), TFtpPeer::STEP_DIRECTORY);
    peer->Reset();

    // A missing file: CWD works, SIZE is refused.
    task.penalties.clear();
    Attach(pyftpd.Url("/pub/missing.bin"));
    EXPECT_TRUE(Fails());
    EXPECT_TRUE(Penalised(task, 60)) << "550";
    peer->Reset();

    // A server without REST.
    task.penalties.clear();
    TPyftpdServer noRest;
    TPyftpdOptions options;
    options.noRest = true;
    ASSERT_TRUE(noRest.Start(root, options));
    Attach(noRest.Url("/pub/file.bin"));
    EXPECT_TRUE(Fails());
    EXPECT_TRUE(Penalised(task, 60)) << "500 to REST";
    EXPECT_EQ(task.writes, 0);
    peer->Reset();
}

} // namespace
