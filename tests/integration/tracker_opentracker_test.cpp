// The engine announces to a real opentracker, over HTTP and over UDP, and
// takes the aria2c seeders it lists as BitTorrent candidates; the tracker
// also lists the asker itself, whose loopback address is refused.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>

#include "engine/net/ipv4_address.h"
#include "engine/net/qsocket.h"
#include "engine/net/tracker_answer.h"
#include "engine/net/tracker_http_answer.h"
#include "engine/storage/torrent.h"
#include "platform/free_port.h"
#include "tests/integration/announce_log.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/qlget_program.h"

namespace {

constexpr int kSeeders = 2;

// One GET on 127.0.0.1, read to the close within five seconds.
std::string LoopbackGet(int port, const std::string &target)
{
    QSocket socket;
    if (!socket.Connect(HostToNetwork32(0x7F000001u), port, false))
        return std::string();
    std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    socket.Send(request.data(), static_cast<int32_t>(request.size()));
    std::string answer;
    for (int waited = 0; waited < 5000; waited += 5) {
        socket.Flush();
        int32_t held = socket.Receive();
        if (held < 0)
            break;
        if (held > 0) {
            answer.append(socket.ReceiveBuffer().Text(), static_cast<size_t>(held));
            socket.ConsumeReceived(held);
        }
        platform::SleepMs(5);
    }
    return answer;
}

// opentracker with the file's hash on its list, and two aria2c seeders at
// 127.0.0.2 and 127.0.0.3 announced to it; started once for the binary.
struct TSwarm {
    TScratch scratch;
    fs::path file;
    fs::path torrent;
    std::string infoHashPercent;
    int trackerPort = 0;
    int trackerPid = -1;
    std::vector<int> seederPids;
    std::vector<std::string> seeders; // "127.0.0.n:port"

    ~TSwarm()
    {
        for (int pid : seederPids)
            platform::StopChildProcess(pid);
        if (trackerPid > 0)
            platform::StopChildProcess(trackerPid);
    }

    // The tracker's answer to an announce of its own, decoded.
    TTrackerAnswer Probe()
    {
        std::string target = "/announce?info_hash=" + infoHashPercent +
                             "&peer_id=-PR0001-probeprobepr&port=1&uploaded=0&downloaded=0&left=1&compact=1";
        TTrackerHttpAnswer framed;
        if (FrameTrackerAnswer(LoopbackGet(trackerPort, target), true, framed) != TTrackerFrame::Complete)
            return TTrackerAnswer();
        return DecodeTrackerAnswer(framed.body);
    }

    bool ListsEverySeeder()
    {
        TTrackerAnswer answer = Probe();
        int found = 0;
        for (const TTrackerPeerAddress &peer : answer.peers) {
            std::string text = DottedText(peer.address) + ":" + std::to_string(peer.port);
            found += std::find(seeders.begin(), seeders.end(), text) != seeders.end() ? 1 : 0;
        }
        return answer.bencoded && answer.failureReason.empty() && found == kSeeders;
    }

    void Start()
    {
        // The tracker drops to nobody: its list and folder must be readable.
        chmod(scratch.path.c_str(), 0755);
        file = scratch.path / "seed" / "payload.bin";
        fs::create_directories(file.parent_path());
        chmod(file.parent_path().c_str(), 0755);
        WriteAll(file, PatternBytes(1 << 20, 5));
        trackerPort = platform::FreeLoopbackPort();
        ASSERT_GT(trackerPort, 0);
        torrent = scratch.path / "payload.torrent";
        platform::ChildResult made;
        int pid = platform::StartChildProcess({"/usr/bin/mktorrent", "-l", "18", "-a",
                                               "http://127.0.0.1:" + std::to_string(trackerPort) + "/announce", "-o",
                                               torrent.string(), file.string()});
        ASSERT_TRUE(pid > 0 && platform::WaitChild(pid, made) && made.exitCode == 0);
        auto metainfo = TRef<TTorrent>::Adopt(new TTorrent("file://" + torrent.string(), nullptr));
        ASSERT_TRUE(metainfo->LoadMetainfo());
        infoHashPercent = metainfo->InfoHashPercent();
        fs::path list = scratch.path / "whitelist";
        WriteAll(list, metainfo->InfoHashHex() + "\n");
        chmod(list.c_str(), 0644);

        std::string port = std::to_string(trackerPort);
        trackerPid = platform::StartChildProcess(
            {"/usr/bin/opentracker", "-i", "127.0.0.1", "-p", port, "-P", port, "-w", list.string()});
        ASSERT_GT(trackerPid, 0);
        // The list is loaded a moment after the start.
        bool ready = false;
        for (int i = 0; i < 100 && !ready; ++i) {
            TTrackerAnswer answer = Probe();
            ready = answer.bencoded && answer.failureReason.empty();
            if (!ready)
                platform::SleepMs(100);
        }
        ASSERT_TRUE(ready) << "opentracker never took the hash";

        for (int n = 2; n < 2 + kSeeders; ++n) {
            int seedPort = platform::FreeLoopbackPort();
            std::string address = "127.0.0." + std::to_string(n);
            seeders.push_back(address + ":" + std::to_string(seedPort));
            seederPids.push_back(platform::StartChildProcess(
                {"/usr/bin/aria2c", "--dir=" + file.parent_path().string(), "--interface=" + address,
                 "--listen-port=" + std::to_string(seedPort), "--seed-ratio=0.0", "--bt-seed-unverified=true",
                 "--bt-tracker-interval=1", "--enable-dht=false", "--bt-enable-lpd=false",
                 "--enable-peer-exchange=false", "--quiet=true", torrent.string()}));
            ASSERT_GT(seederPids.back(), 0);
        }
        bool listed = false;
        for (int i = 0; i < 300 && !listed; ++i) {
            listed = ListsEverySeeder();
            if (!listed)
                platform::SleepMs(100);
        }
        ASSERT_TRUE(listed) << "the seeders never reached the tracker";
    }
};

class TrackerOpentrackerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        swarm = new TSwarm;
        swarm->Start();
    }
    static void TearDownTestSuite()
    {
        delete swarm;
        swarm = nullptr;
    }
    void SetUp() override
    {
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(swarm->seeders.size(), static_cast<size_t>(kSeeders)) << "the swarm did not start";
    }

    static TSwarm *swarm;
};

TSwarm *TrackerOpentrackerTest::swarm = nullptr;

} // namespace

TEST_F(TrackerOpentrackerTest, HttpTrackerOfTheTorrentAndUdpTrackerOfTheCommandLineNameTheSeeders)
{
    TScratch run;
    setenv("QUARROWLIGHT_DATA_HOME", run.path.c_str(), 1);
    fs::path log = run.path / "qlget.log";
    std::string tracker = "127.0.0.1:" + std::to_string(swarm->trackerPort) + "/announce";
    // No server answers the HTTP source: every peer must come from the tracker.
    int pid = StartQlgetLogged({"--torrent", swarm->torrent.string(), "-o", (run.path / "out.bin").string(),
                                "--tracker", "udp://" + tracker, "http://127.0.0.1:9/payload.bin"},
                               log.string());
    ASSERT_GT(pid, 0);
    std::vector<std::string> wanted;
    for (const std::string &seeder : swarm->seeders) {
        wanted.push_back(TakenPeerLine("http://" + tracker, seeder));
        wanted.push_back(TakenPeerLine("udp://" + tracker, seeder));
    }
    bool shown = LogShowsAll(log, wanted);
    platform::StopChildProcess(pid);
    std::string text = ReadAll(log);
    EXPECT_TRUE(shown) << text;
    // The tracker lists the asker too; a candidate at 127.0.0.1 is refused.
    for (size_t at = text.find("named peer 127.0.0.1:"); at != std::string::npos;
         at = text.find("named peer 127.0.0.1:", at + 1))
        EXPECT_NE(text.substr(at, text.find(']', at) - at).find("(refused)"), std::string::npos);
    EXPECT_EQ(text.find("timed out"), std::string::npos) << text;
}
