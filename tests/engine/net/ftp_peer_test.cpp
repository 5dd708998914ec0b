#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/net/ftp_peer.h"
#include "platform/tick.h"
#include "tests/engine/net/loopback.h"
#include "tests/engine/net/memory_peer_task.h"

namespace {

// An FTP server scripted by the test on the same thread: a control
// listener, a passive data listener, and the commands the peer sent.
class ScriptedFtpServer {
public:
    bool Listen()
    {
        port = ListenOnLoopback(control);
        dataPort = ListenOnLoopback(dataListener);
        return port != 0 && dataPort != 0;
    }
    std::string Url(const std::string &path) const { return "ftp://127.0.0.1:" + std::to_string(port) + path; }
    // The 227 text for the data listener, naming host instead of ours.
    std::string Passive(const std::string &host) const
    {
        return "227 Entering Passive Mode (" + host + "," + std::to_string(dataPort / 256) + "," +
               std::to_string(dataPort % 256) + ").\r\n";
    }
    bool Accept()
    {
        session = AcceptWithin(control);
        return session != nullptr;
    }
    void Send(const std::string &bytes)
    {
        session->Send(bytes.data(), static_cast<int32_t>(bytes.size()));
        for (int i = 0; i < 1000 && session->SendLength() > 0; ++i)
            session->Flush();
    }
    // Takes one command line off the control connection while tick() keeps
    // the peer going; empty when none came.
    std::string Command(const std::function<void()> &tick)
    {
        for (int i = 0; i < 5000; ++i) {
            session->Receive();
            std::string text(session->ReceiveBuffer().Text(), static_cast<size_t>(session->ReceiveLength()));
            size_t end = text.find("\r\n");
            if (end != std::string::npos) {
                session->ConsumeReceived(static_cast<int32_t>(end + 2));
                return text.substr(0, end);
            }
            tick();
            platform::SleepMs(1);
        }
        return std::string();
    }

    QSocket control;
    QSocket dataListener;
    std::unique_ptr<QSocket> session;
    int32_t port = 0;
    int32_t dataPort = 0;
};

class FtpPeerTest : public ::testing::Test {
protected:
    static constexpr int64_t kSize = 200000;

    void SetUp() override
    {
        ASSERT_TRUE(server.Listen());
        for (int64_t i = 0; i < kSize; ++i)
            content.push_back(static_cast<char>(i * 7 + i / 251));
        address.reset(new TPeerId);
        ASSERT_TRUE(address->Parse(server.Url("/pub/f.bin")));
        address->allowance = 4;
        peer.reset(new TFtpPeer(&task));
        ASSERT_TRUE(peer->AttachAddress(address.get()));
        ASSERT_TRUE(server.Accept());
    }

    void Tick()
    {
        if (alive)
            alive = peer->DownloadTick();
    }
    std::string Command()
    {
        return server.Command([this] { Tick(); });
    }
    // Answers the login and set-up commands the way a server does.
    void LogIn()
    {
        server.Send("220-Welcome\r\nHi! there\r\n220 ready\r\n");
        EXPECT_EQ(Command(), "user anonymous");
        server.Send("331 Password\r\n");
        EXPECT_EQ(Command(), "pass guest@quarrowlight");
        server.Send("230 Logged in\r\n");
        EXPECT_EQ(Command(), "cwd /pub");
        server.Send("250 ok\r\n");
        EXPECT_EQ(Command(), "type i");
        server.Send("200 Binary\r\n");
        EXPECT_EQ(Command(), "size f.bin");
        server.Send("213 " + std::to_string(kSize) + "\r\n");
    }

    TMemoryPeerTask task{kSize, 16384};
    ScriptedFtpServer server;
    std::string content;
    std::unique_ptr<TPeerId, Released> address;
    std::unique_ptr<TFtpPeer, Released> peer;
    bool alive = true;
};

} // namespace

TEST_F(FtpPeerTest, RepliesSharingOneReadAndAFarBlockLeadToANewTransferAtOnce)
{
    // Blocks 1-7 are present: after block 0 the next wanted block lies
    // 112 KiB ahead, beyond what is read through.
    task.MarkPresent(1, 7, std::vector<uint8_t>(content.begin(), content.end()));
    LogIn();
    struct Transfer {
        const char *rest;
        int64_t from;
    };
    for (const Transfer &transfer : {Transfer{"rest 0", 0}, Transfer{"rest 131072", 131072}}) {
        SCOPED_TRACE(transfer.rest);
        EXPECT_EQ(Command(), "pasv");
        // A host the peer must not go to (nothing listens there): only the
        // port is used.
        server.Send(server.Passive("127,0,0,2"));
        EXPECT_EQ(Command(), transfer.rest);
        server.Send("350 Restarting\r\n");
        EXPECT_EQ(Command(), "retr /pub/f.bin");
        std::unique_ptr<QSocket> data = AcceptWithin(server.dataListener);
        ASSERT_NE(data, nullptr);
        std::string rest = content.substr(static_cast<size_t>(transfer.from));
        data->Send(rest.data(), static_cast<int32_t>(rest.size()));
        for (int i = 0; i < 5000 && data->SendLength() > 0 && data->Flush() >= 0; ++i)
            platform::SleepMs(1);
        data->Close();
        // A short transfer's opening and completion replies in one read.
        server.Send("150 Opening\r\n226 Transfer complete\r\n");
    }
    for (int i = 0; i < 5000 && alive && !task.HasAllPieces(); ++i) {
        Tick();
        platform::SleepMs(1);
    }
    ASSERT_TRUE(task.HasAllPieces()) << "alive " << alive << " step " << peer->Step() << " writes " << task.writes
                                     << " state " << peer->state << " queue " << peer->requests.size();
    EXPECT_TRUE(std::string(task.data.begin(), task.data.end()) == content);
    EXPECT_TRUE(task.penalties.empty());
}

TEST_F(FtpPeerTest, ABusyReplyLowersTheAllowanceAndAnErrorBacksOff)
{
    LogIn();
    EXPECT_EQ(Command(), "pasv");
    server.Send("421 Too many connections\r\n");
    for (int i = 0; i < 5000 && alive; ++i) {
        Tick();
        platform::SleepMs(1);
    }
    EXPECT_FALSE(alive);
    EXPECT_EQ(address->allowance, 3);
    EXPECT_TRUE(task.penalties.empty());

    // A 5xx anywhere backs off from the address for 60 s.
    peer->Reset();
    alive = true;
    ASSERT_TRUE(peer->AttachAddress(address.get()));
    ASSERT_TRUE(server.Accept());
    server.Send("220 ready\r\n");
    EXPECT_EQ(Command(), "user anonymous");
    server.Send("530 Not logged in\r\n");
    for (int i = 0; i < 5000 && alive; ++i) {
        Tick();
        platform::SleepMs(1);
    }
    EXPECT_FALSE(alive);
    ASSERT_EQ(task.penalties.size(), 1u);
    EXPECT_EQ(task.penalties[0].amount, 60);
}

TEST_F(FtpPeerTest, ARangeTakenMidStreamIsCutAndFetchedOnByANewTransferOnTheSameControlConnection)
{
    LogIn();
    EXPECT_EQ(Command(), "pasv");
    server.Send(server.Passive("127,0,0,1"));
    EXPECT_EQ(Command(), "rest 0");
    server.Send("350 Restarting\r\n");
    EXPECT_EQ(Command(), "retr /pub/f.bin");
    std::unique_ptr<QSocket> first = AcceptWithin(server.dataListener);
    ASSERT_NE(first, nullptr);
    server.Send("150 Opening\r\n");
    // Three blocks, and the stream stays open as if more were on the way.
    first->Send(content.data(), 3 * 16384);
    for (int i = 0; i < 5000 && alive && task.writes < 3; ++i) {
        first->Flush();
        Tick();
        platform::SleepMs(1);
    }
    ASSERT_EQ(task.writes, 3);

    // A faster source took the rest of the range and has fetched blocks 3-4
    // already; the scheduler takes the range back from this peer.
    task.MarkPresent(3, 4, std::vector<uint8_t>(content.begin(), content.end()));
    peer->ReleaseRange();
    bool cut = false;
    for (int i = 0; i < 5000 && !cut; ++i) {
        cut = first->Receive() < 0;
        Tick();
        platform::SleepMs(1);
    }
    EXPECT_TRUE(cut) << "the stream of blocks nobody wants runs on";
    server.Send("426 Transfer aborted\r\n");

    // Block 5 lies within reading reach of where the stream stood, but that
    // stream is gone: a new transfer starts there.
    EXPECT_EQ(Command(), "pasv");
    server.Send(server.Passive("127,0,0,1"));
    EXPECT_EQ(Command(), "rest 81920");
    server.Send("350 Restarting\r\n");
    EXPECT_EQ(Command(), "retr /pub/f.bin");
    std::unique_ptr<QSocket> second = AcceptWithin(server.dataListener);
    ASSERT_NE(second, nullptr);
    std::string rest = content.substr(81920);
    second->Send(rest.data(), static_cast<int32_t>(rest.size()));
    for (int i = 0; i < 5000 && second->SendLength() > 0 && second->Flush() >= 0; ++i)
        platform::SleepMs(1);
    second->Close();
    server.Send("150 Opening\r\n226 Transfer complete\r\n");
    for (int i = 0; i < 5000 && alive && !task.HasAllPieces(); ++i) {
        Tick();
        platform::SleepMs(1);
    }
    ASSERT_TRUE(task.HasAllPieces()) << "alive " << alive << " step " << peer->Step();
    EXPECT_TRUE(std::string(task.data.begin(), task.data.end()) == content);
    EXPECT_EQ(task.writes, 3 + 8) << "blocks the other source fetched came again";
    EXPECT_EQ(server.control.Accept(), nullptr) << "the peer logged in again instead of moving its stream";
    EXPECT_TRUE(task.penalties.empty());
}
