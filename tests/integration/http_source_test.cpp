// One HTTP source peer against real servers: nginx, which answers ranges
// with 206, and python's http.server, which ignores them and always sends
// the whole file from byte 0.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "engine/net/http_peer.h"
#include "platform/child_process.h"
#include "platform/free_port.h"
#include "tests/engine/net/memory_peer_task.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"

namespace {

constexpr int32_t kPiece = 262144;
constexpr int64_t kSize = 12 * kPiece - 5000;
// Five whole pieces are present before the download starts.
constexpr int64_t kMissingBlocks = (kSize - 5 * kPiece + kBlockBytes - 1) / kBlockBytes;

class HttpSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = scratch.path / "www";
        fs::create_directories(root);
        std::string bytes = PatternBytes(kSize, 3);
        content.assign(bytes.begin(), bytes.end());
        WriteAll(root / "file.bin", bytes);
        // Holes: the peer starts inside the file and must move its stream
        // twice, each time farther than it reads ahead.
        for (int32_t piece : {0, 3, 4, 5, 9})
            task.MarkPresent(piece, piece, content);
    }

    // Drives one peer object like the pool does: a peer that fails is reset
    // and attached again, up to a bound. knownSize stands for a size an
    // earlier answer reported.
    bool Download(const std::string &url, int64_t knownSize = 0)
    {
        address.reset(new TPeerId);
        if (!address->Parse(url))
            return false;
        address->Parts().serverSize = knownSize;
        peer.reset(new THttpPeer(&task));
        int attaches = 0;
        return DriveUntilComplete(task, *peer, address.get(), attaches);
    }

    TScratch scratch;
    fs::path root;
    std::vector<uint8_t> content;
    TMemoryPeerTask task{kSize, kPiece};
    std::unique_ptr<TPeerId, Released> address;
    std::unique_ptr<THttpPeer, Released> peer;
};

TEST_F(HttpSourceTest, NginxServesEveryStreamFromTheAskedByte)
{
    TNginxOptions options;
    options.httpDirectives = "  log_format ranges '$status $http_range';";
    options.serverDirectives = "    access_log " + (scratch.path / "ranges.log").string() + " ranges;";
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root, options));
    ASSERT_TRUE(Download(nginx.Url("/file.bin")));
    EXPECT_TRUE(task.data == content) << "the stored bytes differ from the served file";
    EXPECT_EQ(task.writes, kMissingBlocks);
    EXPECT_GE(address->reconnects, 2);
    nginx.Stop();

    // Every request after the first asked for an open-ended range, and got it.
    std::istringstream log(ReadAll(scratch.path / "ranges.log"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);)
        lines.push_back(line);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "200 -");
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].substr(0, 10), "206 bytes=") << lines[i];
        EXPECT_EQ(lines[i].back(), '-') << lines[i];
    }
}

TEST_F(HttpSourceTest, NginxFillsTheWholeContentOfASmallResource)
{
    std::string small = PatternBytes(70000, 5);
    WriteAll(root / "f.torrent", small);
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root));
    address.reset(new TPeerId);
    ASSERT_TRUE(address->Parse(nginx.Url("/f.torrent")));
    address->Parts().wholeContent = true;
    peer.reset(new THttpPeer(&task));
    ASSERT_TRUE(peer->AttachAddress(address.get()));
    for (int round = 0; round < 20000 && !address->Parts().contentComplete; ++round) {
        ASSERT_TRUE(peer->DownloadTick());
        platform::SleepMs(1);
    }
    EXPECT_TRUE(address->Parts().content == small);
    EXPECT_EQ(task.writes, 0);
}

TEST_F(HttpSourceTest, AServerThatIgnoresRangesNeverCorruptsTheFile)
{
    int port = platform::FreeLoopbackPort();
    ASSERT_NE(port, 0);
    int pid = platform::StartChildProcess({"/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1",
                                           "--directory", root.string(), std::to_string(port)});
    ASSERT_GT(pid, 0);
    // Wait until it listens.
    bool up = false;
    for (int waited = 0; waited < 10000 && !up; waited += 20) {
        QSocket probe;
        up = probe.Connect(HostToNetwork32(0x7F000001), port, true);
        if (!up)
            platform::SleepMs(20);
    }
    ASSERT_TRUE(up);
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/file.bin";
    // With the size known the first request already asks for a range,
    // which this server ignores.
    bool done = Download(url, kSize);
    platform::StopChildProcess(pid);
    ASSERT_TRUE(done);
    EXPECT_TRUE(task.data == content) << "the stored bytes differ from the served file";
    EXPECT_EQ(task.writes, kMissingBlocks);
}

} // namespace
