// Tracker answers that no real tracker sends, from tests/doubles/fake_tracker.py:
// the engine takes the peers of every answer that frames and decodes, and
// none of a redirect or a page that is no bencode.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "tests/integration/announce_log.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/qlget_program.h"

namespace {

// The double, stopped by its pid; one port per fault.
class TFakeTracker {
public:
    bool Start(const fs::path &folder)
    {
        fs::path portFile = folder / "fake_tracker.ports";
        pid = platform::StartChildProcess({"/usr/bin/python3",
                                           std::string(QL_SOURCE_DIR) + "/tests/doubles/fake_tracker.py",
                                           "--port-file", portFile.string()});
        for (int waited = 0; pid > 0 && waited < 10000; waited += 20) {
            if (fs::exists(portFile)) {
                std::istringstream lines(ReadAll(portFile));
                std::string fault;
                int port = 0;
                while (lines >> fault >> port)
                    ports[fault] = port;
                return ports.size() == 7;
            }
            platform::SleepMs(20);
        }
        return false;
    }
    ~TFakeTracker()
    {
        if (pid > 0)
            platform::StopChildProcess(pid);
    }
    // The announce URL of a fault, without "tracker://".
    std::string Url(const std::string &fault)
    {
        return (fault == "udp" ? "udp://" : "http://") + std::string("127.0.0.1:") + std::to_string(ports[fault]) +
               "/announce";
    }

private:
    int pid = -1;
    std::map<std::string, int> ports;
};

} // namespace

TEST(TrackerFaultyAnswers, FramedAnswersAreTakenAndRedirectsAndPagesAreNot)
{
    TScratch run;
    setenv("QUARROWLIGHT_DATA_HOME", run.path.c_str(), 1);
    TFakeTracker tracker;
    ASSERT_TRUE(tracker.Start(run.path));
    fs::path file = run.path / "payload.bin";
    WriteAll(file, PatternBytes(300000, 9));
    fs::path torrent = run.path / "payload.torrent";
    MakeTorrent(file, torrent);
    fs::path log = run.path / "qlget.log";
    std::vector<std::string> args{"--torrent", torrent.string(), "-o", (run.path / "out.bin").string()};
    for (const char *fault : {"nolength", "split", "gzip", "dict", "redirect", "html", "udp"}) {
        args.push_back("--tracker");
        args.push_back(tracker.Url(fault));
    }
    args.push_back("http://127.0.0.1:9/payload.bin");
    int pid = StartQlgetLogged(args, log.string());
    ASSERT_GT(pid, 0);
    bool shown = LogShowsAll(log, {
                                      TakenPeerLine(tracker.Url("nolength"), "127.0.0.11:6011"),
                                      TakenPeerLine(tracker.Url("split"), "127.0.0.12:6012"),
                                      TakenPeerLine(tracker.Url("gzip"), "127.0.0.13:6013"),
                                      TakenPeerLine(tracker.Url("dict"), "127.0.0.14:6014"),
                                      TakenPeerLine(tracker.Url("udp"), "127.0.0.16:6016"),
                                      "Tracker tracker://" + tracker.Url("redirect") + ": HTTP 302",
                                      "Tracker tracker://" + tracker.Url("html") +
                                          " answered with no bencoded dictionary",
                                  });
    platform::StopChildProcess(pid);
    std::string text = ReadAll(log);
    EXPECT_TRUE(shown) << text;
    EXPECT_EQ(text.find("127.0.0.15"), std::string::npos) << "a redirect's body is no answer";
    EXPECT_EQ(text.find("127.0.0.8"), std::string::npos) << "a dictionary peer with port 0 is no peer";
    EXPECT_NE(text.find("Tracker tracker://" + tracker.Url("dict") + " answered: 1 peers"), std::string::npos);
}
