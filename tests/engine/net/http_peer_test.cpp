#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/engine_clock.h"
#include "engine/net/http_peer.h"
#include "platform/tick.h"
#include "tests/engine/net/loopback.h"
#include "tests/engine/net/memory_peer_task.h"
#include "tests/engine/net/scripted_server.h"

namespace {

uint8_t PatternByte(int64_t offset)
{
    return static_cast<uint8_t>(offset * 131 + offset / 4099);
}

std::vector<uint8_t> Pattern(int64_t size)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    for (int64_t i = 0; i < size; ++i)
        bytes[static_cast<size_t>(i)] = PatternByte(i);
    return bytes;
}

std::string Slice(const std::vector<uint8_t> &bytes, int64_t from, int64_t to)
{
    return std::string(bytes.begin() + from, bytes.begin() + to);
}

class HttpPeerTest : public ::testing::Test {
protected:
    static constexpr int64_t kSize = 200000;
    static constexpr int32_t kPiece = 65536;

    void SetUp() override
    {
        ASSERT_TRUE(server.Listen());
        content = Pattern(kSize);
    }

    // A parsed address of the scripted server.
    TPeerId *Address(const std::string &path = "/files/f.bin")
    {
        address.reset(new TPeerId);
        EXPECT_TRUE(address->Parse(server.Url(path)));
        address->origin = 29;
        return address.get();
    }

    THttpPeer *Attach(TPeerId *target)
    {
        peer.reset(new THttpPeer(&task));
        attached = peer->AttachAddress(target);
        return peer.get();
    }

    // Ticks the peer, pushing the server's unsent bytes in between, until
    // done() holds. False when the peer failed first or time ran out.
    bool Drive(const std::function<bool()> &done)
    {
        for (int round = 0; round < 20000; ++round) {
            server.Flush();
            if (done())
                return true;
            lastTick = peer->DownloadTick();
            if (!lastTick)
                return done();
            if (peer->tick.received == 0)
                platform::SleepMs(1);
        }
        return false;
    }

    bool DriveToEnd()
    {
        return Drive([] { return false; }) || !lastTick;
    }

    bool Complete() { return task.HasAllPieces(); }

    TMemoryPeerTask task{kSize, kPiece};
    ScriptedServer server;
    std::vector<uint8_t> content;
    std::unique_ptr<TPeerId, Released> address;
    std::unique_ptr<THttpPeer, Released> peer;
    bool attached = false;
    bool lastTick = true;
};

std::string Head(const std::string &status, const std::string &lines = "")
{
    return "HTTP/1.1 " + status + "\r\n" + lines + "\r\n";
}

} // namespace

TEST_F(HttpPeerTest, FirstRequestAsksForTheWholeFileAndANearBlockKeepsTheStream)
{
    // Piece 0 is present: the first wanted block lies 64 KiB into the body.
    task.MarkPresent(0, 0, content);
    THttpPeer *p = Attach(Address());
    ASSERT_TRUE(attached);
    ASSERT_TRUE(p->FlushOutput());
    ASSERT_TRUE(server.Accept());
    std::string agent = "User-Agent:Mozilla/4.0 (compatible; MSIE 5.00; Windows 98) Quarrowlight/1.0.3\r\n";
    // Host names the scripted server's port, which is never 80.
    const std::string host = server.Url("").substr(sizeof "http://" - 1);
    EXPECT_EQ(server.Request(), "GET /files/f.bin HTTP/1.1\r\nHost:" + host + "\r\nAccept:*/*\r\nReferer: " +
                                    server.Url("/files") + "\r\n" + agent +
                                    "Connection:Keep-Alive\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n\r\n");

    server.Send(Head("200 OK", "Content-Length: 200000\r\nContent-Disposition: attachment; filename=\"../../x.bin\"\r\n") +
                Slice(content, 0, kSize));
    EXPECT_TRUE(Drive([&] { return Complete(); }));
    EXPECT_TRUE(task.data == content) << "the stored bytes differ from the served file";
    // The 64 KiB in front were read past, not fetched anew or stored.
    EXPECT_EQ(task.writes, 9);
    EXPECT_EQ(server.accepted, 1);
    EXPECT_FALSE(server.HasWaitingConnection());
    EXPECT_EQ(address->Parts().serverSize, kSize);
    EXPECT_EQ(address->origin, 28);
    // A name from the server never carries a folder.
    EXPECT_EQ(address->Parts().fileName, "x.bin");
    EXPECT_EQ(task.httpBytes, kSize - kPiece);
    // Nothing is left to fetch: the peer finishes.
    EXPECT_TRUE(DriveToEnd());
    EXPECT_EQ(p->state, PEER_STATE_FINISHED);
}

TEST_F(HttpPeerTest, AFarFirstBlockReconnectsWithAnOpenEndedRange)
{
    task.SetFile(2 * 1048576 + 1000, 262144);
    content = Pattern(2 * 1048576 + 1000);
    task.MarkPresent(0, 3, content);
    THttpPeer *p = Attach(Address());
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    EXPECT_EQ(server.Request().find("Range:"), std::string::npos);
    server.Send(Head("200 OK", "Content-Length: 2098152\r\n"));
    ASSERT_TRUE(Drive([&] { return server.HasWaitingConnection(); }));
    EXPECT_EQ(address->reconnects, 1);
    ASSERT_TRUE(server.Accept());
    std::string request = server.Request();
    EXPECT_NE(request.find("\r\nRange: bytes=1048576-\r\n"), std::string::npos) << request;
    server.Send(Head("206 Partial Content", "Content-Range: bytes 1048576-2098151/2098152\r\nContent-Length: 1049576\r\n") +
                Slice(content, 1048576, 2098152));
    EXPECT_TRUE(Drive([&] { return Complete(); }));
    EXPECT_TRUE(task.data == content) << "the stored bytes differ from the served file";
}

TEST_F(HttpPeerTest, AServerThatIgnoresRangeIsReadFromByteZeroWithoutCorruption)
{
    task.SetFile(1048576, 262144);
    content = Pattern(1048576);
    task.MarkPresent(0, 1, content);
    TPeerId *a = Address();
    a->Parts().serverSize = 1048576;
    THttpPeer *p = Attach(a);
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    EXPECT_NE(server.Request().find("Range: bytes=524288-"), std::string::npos);
    server.Send(Head("200 OK", "Content-Length: 1048576\r\n") + Slice(content, 0, 1048576));
    EXPECT_TRUE(Drive([&] { return Complete(); }));
    EXPECT_TRUE(task.data == content) << "the stored bytes differ from the served file";
    EXPECT_EQ(task.writes, 32);
    EXPECT_EQ(server.accepted, 1);
}

TEST_F(HttpPeerTest, ARangeThatStartsElsewhereStoresNothing)
{
    for (const char *range : {"bytes 0-199999/200000", "bytes 81920-199999/200000"}) {
        SCOPED_TRACE(range);
        task.SetFile(kSize, kPiece);
        task.MarkPresent(0, 0, content);
        task.penalties.clear();
        TPeerId *a = Address();
        a->Parts().serverSize = kSize;
        THttpPeer *p = Attach(a);
        ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
        EXPECT_NE(server.Request().find("Range: bytes=65536-"), std::string::npos);
        server.Send(Head("206 Partial Content", std::string("Content-Range: ") + range + "\r\n") +
                    Slice(content, 0, kSize - kPiece));
        EXPECT_TRUE(DriveToEnd());
        EXPECT_EQ(task.writes, 0);
        ASSERT_EQ(task.penalties.size(), 1u);
        EXPECT_EQ(task.penalties[0].amount, 60);
    }
}

TEST_F(HttpPeerTest, AnAnswerForAnotherFileSizeIsRefused)
{
    task.MarkPresent(0, 0, content);
    TPeerId *a = Address();
    a->Parts().serverSize = kSize;
    THttpPeer *p = Attach(a);
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    server.Send(Head("206 Partial Content", "Content-Range: bytes 65536-299999/300000\r\n") + Slice(content, 0, 100000));
    EXPECT_TRUE(DriveToEnd());
    EXPECT_EQ(task.writes, 0);
    ASSERT_EQ(task.penalties.size(), 1u);
    EXPECT_EQ(task.penalties[0].amount, 60);
}

TEST_F(HttpPeerTest, BytesPastTheAnnouncedLengthAreNotTaken)
{
    THttpPeer *p = Attach(Address());
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    // The answer announces three blocks, then keeps sending zeros.
    server.Send(Head("206 Partial Content", "Content-Range: bytes 0-49151/200000\r\nContent-Length: 49152\r\n") +
                Slice(content, 0, 49152) + std::string(100000, '\0'));
    ASSERT_TRUE(Drive([&] { return server.HasWaitingConnection(); }));
    EXPECT_EQ(task.writes, 3);
    ASSERT_TRUE(server.Accept());
    EXPECT_NE(server.Request().find("Range: bytes=49152-"), std::string::npos);
    server.Send(Head("206 Partial Content", "Content-Range: bytes 49152-199999/200000\r\n") + Slice(content, 49152, kSize));
    EXPECT_TRUE(Drive([&] { return Complete(); }));
    EXPECT_TRUE(task.data == content) << "the stored bytes differ from the served file";
}

TEST_F(HttpPeerTest, AnAnswerReadToItsEndLetsAKeptAliveConnectionCarryTheNextRequest)
{
    THttpPeer *p = Attach(Address());
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    server.Send(Head("206 Partial Content", "Content-Range: bytes 0-49151/200000\r\n") + Slice(content, 0, 49152));
    ASSERT_TRUE(Drive([&] { return task.writes == 3 && !p->HeaderParsed(); }));
    std::string next = server.Request();
    EXPECT_NE(next.find("Range: bytes=49152-"), std::string::npos) << next;
    EXPECT_FALSE(server.HasWaitingConnection());
    // Told to close, the server gets the next request on a new connection.
    server.Send(Head("206 Partial Content", "Content-Range: bytes 49152-98303/200000\r\nConnection: close\r\n") +
                Slice(content, 49152, 98304));
    ASSERT_TRUE(Drive([&] { return server.HasWaitingConnection(); }));
    ASSERT_TRUE(server.Accept());
    EXPECT_NE(server.Request().find("Range: bytes=98304-"), std::string::npos);
    server.Send(Head("206 Partial Content", "Content-Range: bytes 98304-199999/200000\r\n") + Slice(content, 98304, kSize));
    EXPECT_TRUE(Drive([&] { return Complete(); }));
    EXPECT_TRUE(task.data == content) << "the stored bytes differ from the served file";
    EXPECT_EQ(server.accepted, 2);
    EXPECT_EQ(address->reconnects, 2);
}

TEST_F(HttpPeerTest, AStreamCutShortKeepsOnlyWholeBlocks)
{
    THttpPeer *p = Attach(Address());
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    server.Send(Head("200 OK", "Content-Length: 200000\r\n") + Slice(content, 0, 20000));
    server.Close();
    EXPECT_TRUE(DriveToEnd());
    EXPECT_EQ(task.writes, 1);
    EXPECT_TRUE(task.present[0]);
    EXPECT_FALSE(task.present[1]);
}

TEST_F(HttpPeerTest, ChunkedBodiesAreDecoded)
{
    TPeerId *a = Address();
    a->Parts().serverSize = kSize;
    THttpPeer *p = Attach(a);
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    std::string body;
    int64_t at = 0;
    for (int64_t size : {int64_t{1}, int64_t{16383}, int64_t{16385}, int64_t{100000}, kSize - 132769}) {
        char line[32];
        std::snprintf(line, sizeof line, "%llx;x=y\r\n", static_cast<unsigned long long>(size));
        body += line + Slice(content, at, at + size) + "\r\n";
        at += size;
    }
    body += "0\r\n\r\n";
    server.Send(Head("200 OK", "Transfer-Encoding: chunked\r\n") + body);
    EXPECT_TRUE(Drive([&] { return Complete(); }));
    EXPECT_TRUE(task.data == content) << "the stored bytes differ from the served file";
}

TEST_F(HttpPeerTest, AMalformedChunkedBodyDropsTheConnection)
{
    TPeerId *a = Address();
    a->Parts().serverSize = kSize;
    THttpPeer *p = Attach(a);
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    server.Send(Head("200 OK", "Transfer-Encoding: chunked\r\n") + "4000\r\n" + Slice(content, 0, 16384) + "XX" +
                Slice(content, 16384, 60000));
    EXPECT_TRUE(DriveToEnd());
    EXPECT_LE(task.writes, 1);
    EXPECT_FALSE(task.present[1]);
    EXPECT_FALSE(p->IsConnected());
}

TEST_F(HttpPeerTest, AnEndlessHeadIsRefusedAt64KiB)
{
    THttpPeer *p = Attach(Address());
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    std::string head = "HTTP/1.1 200 OK\r\n";
    while (head.size() < 80000)
        head += "X-Padding: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n";
    server.Send(head);
    EXPECT_TRUE(DriveToEnd());
    EXPECT_FALSE(p->HeaderParsed());
    ASSERT_EQ(task.penalties.size(), 1u);
    EXPECT_EQ(task.penalties[0].amount, 60);
}

TEST_F(HttpPeerTest, ServerErrorsBackOffOrRemoveTheAddress)
{
    THttpPeer *p = Attach(Address());
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    server.Send(Head("404 Not Found", "Content-Length: 0\r\n"));
    EXPECT_TRUE(DriveToEnd());
    EXPECT_EQ(task.removed, std::vector<std::string>{address->url});

    p = Attach(Address());
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    server.Send(Head("503 Busy", "Content-Length: 0\r\n"));
    EXPECT_TRUE(DriveToEnd());
    ASSERT_EQ(task.penalties.size(), 1u);
    EXPECT_EQ(task.penalties[0].amount, 60);
    EXPECT_EQ(task.writes, 0);
    // Each is named for the user; only the 4xx gives the source up.
    EXPECT_EQ(task.failures, (std::vector<std::string>{"HTTP 404 Not Found (given up)", "HTTP 503 Busy"}));
}

TEST_F(HttpPeerTest, AnotherVersionOfTheFileStoresNothingAndOnlyItsSourceHearsTheValidator)
{
    task.SetFile(1048576, 262144);
    content = Pattern(1048576);
    task.MarkPresent(0, 1, content);
    TPeerId *a = Address();
    a->Parts().serverSize = 1048576;
    task.validators[a->url] = "\"v1\"";
    task.validators["http://127.0.0.1:1/other.bin"] = "\"mirror\"";
    THttpPeer *p = Attach(a);
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    std::string request = server.Request();
    EXPECT_NE(request.find("\r\nRange: bytes=524288-\r\nIf-Range: \"v1\"\r\n"), std::string::npos) << request;
    // The server's file changed: If-Range makes it answer with the whole new file.
    server.Send(Head("200 OK", "ETag: \"v2\"\r\nContent-Length: 1048576\r\n") + Slice(content, 0, 1048576));
    EXPECT_TRUE(DriveToEnd());
    EXPECT_EQ(task.writes, 0);
    EXPECT_EQ(task.versionChanges, 1);
    EXPECT_EQ(task.validators[a->url], "\"v2\"");
}

TEST_F(HttpPeerTest, AnAnswerWithoutALengthGivesTheSourceUpAtOnce)
{
    for (const char *lines : {"Connection: close\r\n", "Transfer-Encoding: chunked\r\n"}) {
        SCOPED_TRACE(lines);
        task.failures.clear();
        task.removed.clear();
        THttpPeer *p = Attach(Address());
        ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
        server.Request();
        server.Send(Head("200 OK", lines));
        EXPECT_TRUE(DriveToEnd());
        EXPECT_EQ(task.removed, std::vector<std::string>{address->url});
        EXPECT_EQ(task.failures,
                  std::vector<std::string>{"the server sends no length; ranged download impossible (given up)"});
    }
}

TEST_F(HttpPeerTest, ARelativeRedirectAddsTheTargetOnTheSameServer)
{
    TPeerId *a = Address();
    a->Parts().wholeContent = true;
    a->mainTorrent = true;
    THttpPeer *p = Attach(a);
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    server.Send(Head("302 Found", "Location: dl/f.bin\r\nContent-Length: 0\r\n"));
    EXPECT_TRUE(DriveToEnd());
    EXPECT_EQ(p->state, PEER_STATE_FINISHED);
    ASSERT_EQ(task.added.size(), 1u);
    const TMemoryPeerTask::Added &target = task.added[0];
    EXPECT_EQ(target.url, server.Url("/dl/f.bin"));
    EXPECT_EQ(target.referer, target.url);
    EXPECT_EQ(target.origin, 28);
    EXPECT_EQ(target.hops, 1);
    EXPECT_TRUE(target.wholeContent);
    EXPECT_TRUE(target.mainTorrent);
    EXPECT_TRUE(address->Parts().redirected);
}

TEST_F(HttpPeerTest, RedirectsEndAfterFiveHopsOrThreeTimesTheSameTarget)
{
    TPeerId *a = Address();
    a->Parts().redirectHops = 5;
    THttpPeer *p = Attach(a);
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    server.Send(Head("301 Moved", "Location: /next\r\n"));
    EXPECT_TRUE(DriveToEnd());
    EXPECT_TRUE(task.added.empty());
    EXPECT_EQ(task.removed.size(), 1u);

    task.removed.clear();
    a = Address();
    for (int round = 1; round <= 3; ++round) {
        p = Attach(a);
        ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
        server.Request();
        server.Send(Head("302 Found", "Location: /same\r\n"));
        EXPECT_TRUE(DriveToEnd());
        EXPECT_EQ(task.removed.size(), round == 3 ? 1u : 0u) << round;
    }
}

TEST_F(HttpPeerTest, RedirectToFtpAddsAConfirmedFtpSource)
{
    THttpPeer *p = Attach(Address());
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    server.Send(Head("302 Found", "Location: ftp://127.0.0.1:2121/pub/f.bin\r\n"));
    EXPECT_TRUE(DriveToEnd());
    EXPECT_EQ(p->state, PEER_STATE_FINISHED);
    ASSERT_EQ(task.added.size(), 1u);
    EXPECT_EQ(task.added[0].url, "ftp://127.0.0.1:2121/pub/f.bin");
    EXPECT_EQ(task.added[0].origin, 28);

    // A line break smuggled into the path is no FTP source at all.
    task.added.clear();
    p = Attach(Address());
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    server.Send(Head("302 Found", "Location: ftp://127.0.0.1/a%0d%0aDELE%20x\r\n"));
    EXPECT_TRUE(DriveToEnd());
    EXPECT_TRUE(task.added.empty());
}

TEST_F(HttpPeerTest, RedirectsToOtherSchemesAreRefused)
{
    for (const char *location : {"https://127.0.0.1/f.bin", ""}) {
        SCOPED_TRACE(location);
        task.removed.clear();
        task.penalties.clear();
        THttpPeer *p = Attach(Address());
        ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
        server.Request();
        server.Send(Head("302 Found", std::string("Location: ") + location + "\r\n"));
        EXPECT_TRUE(DriveToEnd());
        EXPECT_TRUE(task.added.empty());
        EXPECT_EQ(task.removed.size() + task.penalties.size(), 1u);
    }
}

TEST_F(HttpPeerTest, WholeContentIsReadIntoTheAddress)
{
    const std::string body = Slice(content, 0, 30000);
    struct Case {
        const char *head;
        std::string tail;
        bool complete;
    } cases[] = {
        {"Content-Length: 30000\r\n", body, true},
        // Bytes past the announced length are not the resource's.
        {"Content-Length: 30000\r\n", body + "trailing junk", true},
        // No length: the close ends the body.
        {"", body, true},
        {"Transfer-Encoding: chunked\r\n", "7530\r\n" + body + "\r\n0\r\n\r\n", true},
        // A chunked body cut short is no content.
        {"Transfer-Encoding: chunked\r\n", "7530\r\n" + body.substr(0, 100), false},
        {"Content-Length: 30001\r\n", body, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.head);
        TPeerId *a = Address("/f.torrent");
        a->Parts().wholeContent = true;
        a->mainTorrent = true;
        // Bytes of an earlier, failed attempt never stay in front.
        a->Parts().content = "stale";
        THttpPeer *p = Attach(a);
        EXPECT_EQ(task.phase, 2);
        ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
        EXPECT_EQ(server.Request().find("Range:"), std::string::npos);
        server.Send(Head("200 OK", c.head) + c.tail);
        server.Close();
        EXPECT_EQ(Drive([&] { return a->Parts().contentComplete; }), c.complete);
        if (c.complete) {
            EXPECT_TRUE(a->Parts().content == body) << a->Parts().content.size() << " bytes held";
        }
    }
}

TEST_F(HttpPeerTest, WholeContentIsCappedAt16MiB)
{
    TPeerId *a = Address("/f.torrent");
    a->Parts().wholeContent = true;
    THttpPeer *p = Attach(a);
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    server.Send(Head("200 OK", "Content-Length: 16777217\r\n"));
    EXPECT_TRUE(DriveToEnd());
    EXPECT_FALSE(a->Parts().contentComplete);
    EXPECT_EQ(task.penalties.size(), 1u);

    a = Address("/f.torrent");
    a->Parts().wholeContent = true;
    p = Attach(a);
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    server.Send(Head("200 OK", "Connection: close\r\n") + std::string(16 * 1024 * 1024 + 1, 'x'));
    EXPECT_TRUE(DriveToEnd());
    EXPECT_FALSE(a->Parts().contentComplete);
    EXPECT_LE(a->Parts().content.size(), 16u * 1024 * 1024);
}

TEST_F(HttpPeerTest, SilenceTimesOutAfter15SecondsAndAfter30OnceAnswered)
{
    THttpPeer *p = Attach(Address());
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    AdvanceEngineClock(15);
    EXPECT_TRUE(p->DownloadTick());
    AdvanceEngineClock(1);
    EXPECT_FALSE(p->DownloadTick());
    EXPECT_EQ(p->state, PEER_STATE_TIMED_OUT);
    ASSERT_EQ(task.penalties.size(), 1u);
    EXPECT_EQ(task.penalties[0].amount, 15);

    task.penalties.clear();
    p = Attach(Address());
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    server.Send(Head("200 OK", "Content-Length: 200000\r\n"));
    ASSERT_TRUE(Drive([&] { return p->HeaderParsed(); }));
    AdvanceEngineClock(30);
    EXPECT_TRUE(p->DownloadTick());
    AdvanceEngineClock(1);
    EXPECT_FALSE(p->DownloadTick());
    EXPECT_EQ(p->state, PEER_STATE_TIMED_OUT);
    EXPECT_EQ(task.penalties.size(), 1u);
}

TEST_F(HttpPeerTest, ReadsStayWithinTheDownloadAllowance)
{
    THttpPeer *p = Attach(Address());
    ASSERT_TRUE(attached && p->FlushOutput() && server.Accept());
    server.Request();
    server.Send(Head("200 OK", "Content-Length: 200000\r\n") + Slice(content, 0, kSize));
    ASSERT_TRUE(Drive([&] { return p->HeaderParsed(); }));
    task.allowance = 0;
    for (int i = 0; i < 20; ++i) {
        server.Flush();
        ASSERT_TRUE(p->DownloadTick());
        EXPECT_EQ(p->tick.received, 0);
    }
    task.allowance = 5000;
    int64_t most = 0;
    EXPECT_TRUE(Drive([&] {
        most = std::max(most, p->tick.received);
        return Complete();
    }));
    EXPECT_LE(most, 5000);
    EXPECT_TRUE(task.data == content) << "the stored bytes differ from the served file";
}
