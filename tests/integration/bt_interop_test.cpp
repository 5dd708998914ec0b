// qlget against real BitTorrent clients on loopback: it fetches from aria2c
// seeders, serves aria2c and libtorrent, leeches beside aria2c, fetches
// from another qlget behind the HTTP disguise, mixes nginx with peers, and
// shrugs off hostile peers.
// Each counterpart has its own 127.0.0.x; the seeders and a seeding qlget
// are started once for the whole binary.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/net/ipv4_address.h"
#include "engine/net/qsocket.h"
#include "platform/child_process.h"
#include "platform/child_wait.h"
#include "platform/free_port.h"
#include "platform/tick.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"
#include "tests/integration/qlget_program.h"

namespace {

// 14 pieces of 256 KiB, the last one 1000 bytes: neither a multiple of 8
// pieces nor of the piece size.
constexpr size_t kFileSize = 13 * 262144 + 1000;
constexpr uint32_t kWaitMs = 120000;
const std::string kPython = "/usr/bin/python3";

std::string Doubles(const std::string &name)
{
    return std::string(QL_SOURCE_DIR) + "/tests/doubles/" + name;
}

bool Accepts(const std::string &address, int port)
{
    QSocket probe;
    bool ok = probe.Connect(HostToNetwork32(DottedParse(address)), port, true);
    probe.Close();
    return ok;
}

bool WaitAccepts(const std::string &address, int port)
{
    for (uint32_t waited = 0; waited < 10000; waited += 50) {
        if (Accepts(address, port))
            return true;
        platform::SleepMs(50);
    }
    return false;
}

// Starts a program with its standard error (and output) in a log file.
int StartLogged(const fs::path &log, std::vector<std::string> argv)
{
    std::vector<std::string> shell{"/bin/sh", "-c", "exec \"$0\" \"$@\" >\"" + log.string() + "\" 2>&1"};
    shell.insert(shell.end(), argv.begin(), argv.end());
    return platform::StartChildProcess(shell);
}

int FreePortOn(const std::string &address)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        int port = platform::FreeLoopbackPort();
        if (port != 0 && !Accepts(address, port))
            return port;
    }
    return 0;
}

std::vector<std::string> Aria2cCommon(const std::string &address, int port)
{
    return {"/usr/bin/aria2c", "--interface=" + address, "--listen-port=" + std::to_string(port),
            "--enable-dht=false", "--bt-enable-lpd=false", "--enable-peer-exchange=false",
            "--console-log-level=warn", "--summary-interval=0"};
}

class BtInteropTest : public ::testing::Test {
protected:
    struct Seeder {
        std::string address;
        int port = 0;
        int pid = -1;
        std::string Node() const { return "btnode://" + address + ":" + std::to_string(port); }
    };

    static void SetUpTestSuite()
    {
        scratch = new TScratch;
        const fs::path &dir = scratch->path;
        fs::create_directories(dir / "seed");
        content = PatternBytes(kFileSize, 2026);
        WriteAll(dir / "seed" / "data.bin", content);
        md5 = Md5Hex(content);

        // The tracker tells every client of one peer: the seeding qlget.
        seedPort = platform::FreeLoopbackPort();
        int trackerPort = platform::FreeLoopbackPort();
        tracker = platform::StartChildProcess({kPython, Doubles("fixed_peer_tracker.py"), "--port",
                                               std::to_string(trackerPort), "--peer",
                                               "127.0.0.1:" + std::to_string(seedPort)});
        ASSERT_TRUE(WaitAccepts("127.0.0.1", trackerPort));
        torrent = dir / "data.torrent";
        platform::ChildResult made;
        int pid = platform::StartChildProcess({"/usr/bin/mktorrent", "-l", "18", "-a",
                                               "http://127.0.0.1:" + std::to_string(trackerPort) + "/announce",
                                               "-o", torrent.string(), (dir / "seed" / "data.bin").string()});
        ASSERT_TRUE(pid > 0 && platform::WaitChild(pid, made) && made.exitCode == 0);

        for (const char *address : {"127.0.0.2", "127.0.0.3"}) {
            Seeder seeder{address, FreePortOn(address), -1};
            std::vector<std::string> argv = Aria2cCommon(seeder.address, seeder.port);
            argv.insert(argv.end(), {"--dir=" + (dir / "seed").string(), "--seed-ratio=0.0",
                                     "--bt-seed-unverified=true", torrent.string()});
            seeder.pid = StartLogged(dir / ("seeder-" + seeder.address + ".log"), argv);
            seeders.push_back(seeder);
        }
        for (const Seeder &seeder : seeders)
            ASSERT_TRUE(WaitAccepts(seeder.address, seeder.port)) << "aria2c seeder on " << seeder.address;

        // A qlget that fetches from the first seeder and then serves.
        fs::create_directories(dir / "qlseed");
        seedLog = dir / "qlseed.log";
        seedingQlget = StartLogged(seedLog, {QLGET_PROGRAM, "--torrent", torrent.string(), "--port",
                                             std::to_string(seedPort), "--peer", seeders[0].Node(), "--seed",
                                             "-o", (dir / "qlseed" / "data.bin").string()});
        for (uint32_t waited = 0; waited < kWaitMs && ReadAll(seedLog).find("serving peers") == std::string::npos;
             waited += 100)
            platform::SleepMs(100);
        ASSERT_NE(ReadAll(seedLog).find("serving peers"), std::string::npos) << ReadAll(seedLog);
    }

    static void TearDownTestSuite()
    {
        if (seedingQlget > 0)
            platform::StopChildProcess(seedingQlget);
        for (const Seeder &seeder : seeders)
            platform::StopChildProcess(seeder.pid);
        seeders.clear();
        if (tracker > 0)
            platform::StopChildProcess(tracker);
        delete scratch;
        scratch = nullptr;
    }

    static fs::path Dir() { return scratch->path; }

    // Runs a leeching qlget to its end; its output in output.
    static int Leech(const fs::path &out, std::vector<std::string> extra, std::string &output)
    {
        std::vector<std::string> args{"--torrent", torrent.string(), "--port", std::to_string(platform::FreeLoopbackPort()),
                                      "-o", out.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        uint32_t started = platform::TickCount();
        int status = RunQlget(args, output);
        std::printf("[ qlget    ] %s in %.1f s\n", out.filename().c_str(), (platform::TickCount() - started) / 1000.0);
        return status;
    }

    static inline TScratch *scratch = nullptr;
    static inline std::string content;
    static inline std::string md5;
    static inline fs::path torrent;
    static inline int tracker = -1;
    static inline std::vector<Seeder> seeders;
    static inline int seedPort = 0;
    static inline int seedingQlget = -1;
    static inline fs::path seedLog;
};

} // namespace

TEST_F(BtInteropTest, QlgetFetchesFromTwoAria2cSeeders)
{
    std::string output;
    fs::path out = Dir() / "from-aria2c" / "data.bin";
    fs::create_directories(out.parent_path());
    ASSERT_EQ(Leech(out, {"--peer", seeders[0].Node(), "--peer", seeders[1].Node()}, output), 0) << output;
    EXPECT_EQ(Md5Hex(ReadAll(out)), md5);
    EXPECT_NE(output.substr(output.rfind("saved")).find("servers 0 B"), std::string::npos) << output;
}

TEST_F(BtInteropTest, Aria2cFetchesFromQlget)
{
    fs::path dir = Dir() / "aria2c-leech";
    std::vector<std::string> argv = Aria2cCommon("127.0.0.4", FreePortOn("127.0.0.4"));
    argv.insert(argv.end(), {"--dir=" + dir.string(), "--seed-time=0", torrent.string()});
    uint32_t started = platform::TickCount();
    int pid = StartLogged(Dir() / "aria2c-leech.log", argv);
    ASSERT_EQ(WaitExitWithin(pid, kWaitMs), 0) << ReadAll(Dir() / "aria2c-leech.log");
    std::printf("[ aria2c   ] leeched in %.1f s\n", (platform::TickCount() - started) / 1000.0);
    EXPECT_EQ(Md5Hex(ReadAll(dir / "data.bin")), md5);
}

TEST_F(BtInteropTest, QlgetAndAria2cFetchTogether)
{
    // Two leechers at once: aria2c is told of the seeding qlget by the
    // tracker, the leeching qlget of the aria2c seeders and of the aria2c
    // leecher, so pieces travel between the two leechers as well.
    fs::path dir = Dir() / "together-aria2c";
    const std::string address = "127.0.0.11";
    int port = FreePortOn(address);
    std::vector<std::string> argv = Aria2cCommon(address, port);
    argv.insert(argv.end(), {"--dir=" + dir.string(), "--seed-time=0", torrent.string()});
    int aria2c = StartLogged(Dir() / "together-aria2c.log", argv);
    ASSERT_TRUE(WaitAccepts(address, port)) << ReadAll(Dir() / "together-aria2c.log");

    std::string output;
    fs::path out = Dir() / "together-qlget" / "data.bin";
    fs::create_directories(out.parent_path());
    int status = Leech(out,
                       {"--peer", seeders[0].Node(), "--peer", seeders[1].Node(), "--peer",
                        "btnode://" + address + ":" + std::to_string(port)},
                       output);
    EXPECT_EQ(WaitExitWithin(aria2c, kWaitMs), 0) << ReadAll(Dir() / "together-aria2c.log");
    ASSERT_EQ(status, 0) << output;
    EXPECT_EQ(Md5Hex(ReadAll(out)), md5);
    EXPECT_EQ(Md5Hex(ReadAll(dir / "data.bin")), md5);
}

TEST_F(BtInteropTest, LibtorrentFetchesFromQlget)
{
    fs::path dir = Dir() / "libtorrent-leech";
    fs::create_directories(dir);
    uint32_t started = platform::TickCount();
    int pid = StartLogged(Dir() / "libtorrent.log",
                          {kPython, std::string(QL_SOURCE_DIR) + "/tests/integration/libtorrent_leech.py", "--torrent",
                           torrent.string(), "--save", dir.string(), "--interface", "127.0.0.5", "--peer",
                           "127.0.0.1:" + std::to_string(seedPort)});
    ASSERT_EQ(WaitExitWithin(pid, kWaitMs), 0) << ReadAll(Dir() / "libtorrent.log");
    std::printf("[ libtorrent ] leeched in %.1f s\n", (platform::TickCount() - started) / 1000.0);
    EXPECT_EQ(Md5Hex(ReadAll(dir / "data.bin")), md5);
}

TEST_F(BtInteropTest, QlgetFetchesFromQlgetBehindTheHttpDisguise)
{
    // The seeding qlget listens on every address: 127.0.0.2 reaches it, and
    // 127.0.0.1 is never dialled as a peer.
    std::string output;
    fs::path out = Dir() / "wrapped" / "data.bin";
    fs::create_directories(out.parent_path());
    ASSERT_EQ(Leech(out, {"--http-wrap", "--peer", "btnode://127.0.0.2:" + std::to_string(seedPort)}, output), 0)
        << output;
    EXPECT_EQ(Md5Hex(ReadAll(out)), md5);
}

TEST_F(BtInteropTest, ServersAndPeersTogether)
{
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(Dir() / "seed"));
    std::string output;
    fs::path out = Dir() / "p2sp" / "data.bin";
    fs::create_directories(out.parent_path());
    // The limit leaves the peers time to carve pieces off the server's range.
    ASSERT_EQ(Leech(out,
                    {"--limit", "400", "--peer", seeders[0].Node(), "--peer", seeders[1].Node(),
                     nginx.Url("/data.bin")},
                    output),
              0)
        << output;
    EXPECT_EQ(Md5Hex(ReadAll(out)), md5);
    std::string saved = output.substr(output.rfind("saved"));
    EXPECT_EQ(saved.find("servers 0 B"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("peers 0 B"), std::string::npos) << saved;
    std::printf("[ p2sp     ] %s\n", saved.c_str());
}

TEST_F(BtInteropTest, HostilePeersCannotSpoilTheFile)
{
    std::vector<int> doubles;
    std::vector<std::string> extra;
    int address = 6;
    for (const char *mode : {"malformed", "huge", "trickle", "flood", "header"}) {
        std::string host = "127.0.0." + std::to_string(address++);
        int port = FreePortOn(host);
        doubles.push_back(platform::StartChildProcess({kPython, Doubles("hostile_bt_peer.py"), "--address", host,
                                                       "--port", std::to_string(port), "--file",
                                                       (Dir() / "seed" / "data.bin").string(), "--torrent",
                                                       torrent.string(), "--mode", mode}));
        ASSERT_TRUE(WaitAccepts(host, port)) << mode;
        extra.insert(extra.end(), {"--peer", "btnode://" + host + ":" + std::to_string(port)});
    }
    std::string output;
    fs::path out = Dir() / "hostile" / "data.bin";
    fs::create_directories(out.parent_path());
    int status = Leech(out, extra, output);
    for (int pid : doubles)
        platform::StopChildProcess(pid);
    ASSERT_EQ(status, 0) << output;
    EXPECT_EQ(Md5Hex(ReadAll(out)), md5);
}

TEST_F(BtInteropTest, SeedingQlgetStopsCleanlyOnInterrupt)
{
    ASSERT_GT(seedingQlget, 0);
    ASSERT_TRUE(platform::InterruptChildProcess(seedingQlget));
    int status = WaitExitWithin(seedingQlget, 30000);
    seedingQlget = -1;
    EXPECT_EQ(status, 0) << ReadAll(seedLog);
    EXPECT_EQ(Md5Hex(ReadAll(Dir() / "qlseed" / "data.bin")), md5);
}
