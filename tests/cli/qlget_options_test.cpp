// The qlget command line and its progress text.
#include <gtest/gtest.h>

#include <set>

#include "cli/qlget/qlget_options.h"
#include "cli/qlget/qlget_outcome.h"
#include "cli/qlget/qlget_progress.h"

namespace {

struct TParsed {
    bool ok;
    TQlgetOptions options;
    std::string error;
};

TParsed Parse(std::vector<std::string> args)
{
    TParsed parsed;
    parsed.ok = ParseQlgetOptions(args, parsed.options, parsed.error);
    return parsed;
}

TEST(QlgetOptions, MirrorsOutputAndLimits)
{
    TParsed parsed = Parse({"--limit", "500", "http://a/x/file.bin?sig=1", "-o", "/tmp/out", "--upload-limit",
                            "32766", "HTTP://b/file.bin", "--force"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.options.urls, (std::vector<std::string>{"http://a/x/file.bin?sig=1", "HTTP://b/file.bin"}));
    EXPECT_EQ(parsed.options.output, "/tmp/out");
    EXPECT_EQ(parsed.options.statePath, "/tmp/out.qlinfo") << "state sits beside the output";
    EXPECT_EQ(parsed.options.limitKBps, 500);
    EXPECT_EQ(parsed.options.uploadLimitKBps, 32766);
    EXPECT_TRUE(parsed.options.force);
}

TEST(QlgetOptions, TrackersAreHttpOrUdpAndRepeatable)
{
    TParsed parsed = Parse({"--tracker", "udp://127.0.0.1:6969/announce", "http://a/f.bin", "--tracker",
                            "HTTP://127.0.0.1:6969/announce?passkey=x"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.options.trackers,
              (std::vector<std::string>{"udp://127.0.0.1:6969/announce", "HTTP://127.0.0.1:6969/announce?passkey=x"}));
    EXPECT_EQ(parsed.options.urls, (std::vector<std::string>{"http://a/f.bin"}));
    EXPECT_FALSE(Parse({"--tracker", "https://t/announce", "http://a/f.bin"}).ok) << "never announced in clear";
    EXPECT_FALSE(Parse({"--tracker", "wss://t/announce", "http://a/f.bin"}).ok);
    EXPECT_FALSE(Parse({"--tracker", "udp://t/a\nX", "http://a/f.bin"}).ok);
    EXPECT_FALSE(Parse({"http://a/f.bin", "--tracker"}).ok);
}

TEST(QlgetOptions, OutputDefaultsToTheUrlsLastPathElement)
{
    EXPECT_EQ(Parse({"http://h:8/a/b/pkg.7z#frag"}).options.output, "pkg.7z");
    EXPECT_EQ(Parse({"http://h/a?x=/y/z"}).options.output, "a") << "a query's slashes are not path";
    EXPECT_EQ(Parse({"http://h/f", "--state", "/s/st"}).options.statePath, "/s/st");
    for (const char *nameless : {"http://h", "http://h/", "http://h/a/", "http://h/..", "http://h/?q=1"}) {
        TParsed parsed = Parse({nameless});
        EXPECT_FALSE(parsed.ok) << nameless;
        EXPECT_NE(parsed.error.find("-o"), std::string::npos) << parsed.error;
    }
}

TEST(QlgetOptions, RefusesWhatTheEngineCannotDo)
{
    struct TCase {
        std::vector<std::string> args;
        const char *expected;
    } cases[] = {
        {{"https://h/f"}, "https:// is not supported"},
        {{"HTTPS://h/f"}, "https:// is not supported"},
        {{"file:///etc/passwd"}, "not an http:// or ftp:// URL"},
        {{"http://"}, "not an http:// or ftp:// URL"},
        {{"ftp://u:p@:21/f"}, "no host"},
        {{"ftp://h:99999/f"}, "port must be a number from 1 to 65535"},
        {{"ftp://h/a b.bin"}, "blank"},
        {{"--limit", "32767", "http://h/f"}, "0 (no limit) to 32766"},
        {{"--upload-limit", "-1", "http://h/f"}, "0 (no limit) to 32766"},
        {{"--limit", "12k", "http://h/f"}, "not '12k'"},
        {{"--limit", "99999999999999999999", "http://h/f"}, "32766"},
        {{"http://h/f", "--limit"}, "needs a value"},
        {{"--bogus", "http://h/f"}, "unknown option --bogus"},
        {{"-o", "x"}, "no URL given"},
        {{"http://user:secret@h/f"}, "cannot carry a user or password"},
        {{"http://user@h:8080/f"}, "cannot carry a user or password"},
        {{"http://h:0/f"}, "port must be a number from 1 to 65535"},
        {{"http://h:65536/f"}, "port must be a number from 1 to 65535"},
        {{"http://h:/f"}, "port must be a number from 1 to 65535"},
        {{"http://h:8o/f"}, "port must be a number from 1 to 65535"},
        {{"http://h:000080/f"}, "port must be a number from 1 to 65535"},
        {{"http:///f"}, "no host"},
        {{"http://:80/f"}, "no host"},
        {{"http://h/a b.bin"}, "blank"},
        {{"http://h/a\tb.bin"}, "blank"},
    };
    for (const TCase &c : cases) {
        TParsed parsed = Parse(c.args);
        EXPECT_FALSE(parsed.ok) << c.args.front();
        EXPECT_NE(parsed.error.find(c.expected), std::string::npos) << parsed.error;
    }
    EXPECT_TRUE(Parse({"http://h/f", "--help"}).options.help);
    // What only looks like a user or a port after the host is path.
    for (const char *fine : {"http://h:65535/f", "http://h:1/a@b:0/f", "http://h/f?to=a@b&port=:0", "http://h#x@y",
                             "ftp://h/pub/f.bin", "FTP://bob:secret@h:2121/f", "ftp://h/a@b:0/f"})
        EXPECT_TRUE(Parse({fine, "-o", "x"}).ok) << fine;
}

TEST(QlgetOptions, PeersWithOrWithoutServers)
{
    TParsed alone = Parse({"--torrent", "/t/game.iso.torrent", "--peer", "btnode://127.0.0.2:6881", "--port", "7000",
                           "--seed", "--http-wrap"});
    ASSERT_TRUE(alone.ok) << alone.error;
    EXPECT_TRUE(alone.options.urls.empty());
    EXPECT_EQ(alone.options.output, "game.iso") << "named after the torrent";
    EXPECT_EQ(alone.options.peers, (std::vector<std::string>{"btnode://127.0.0.2:6881"}));
    EXPECT_EQ(alone.options.listenPort, 7000);
    EXPECT_TRUE(alone.options.seed && alone.options.httpWrap && alone.options.UsesPeers());

    TParsed servers = Parse({"--torrent", "t.torrent", "http://a/f.bin"});
    ASSERT_TRUE(servers.ok) << servers.error;
    EXPECT_FALSE(servers.options.UsesPeers()) << "a torrent beside servers only verifies";

    for (const std::vector<std::string> &bad :
         {std::vector<std::string>{"--peer", "btnode://127.0.0.2:6881", "http://a/f.bin"},
          {"--torrent", "t", "--peer", "btnode://host.example:6881"},
          {"--torrent", "t", "--peer", "btnode://1.2.3.4:0"},
          {"--torrent", "t", "--peer", "btnode://1.2.3.256:80"},
          {"--torrent", "t", "--peer", "http://1.2.3.4:80/"},
          {"--torrent", "t", "--port", "65536"},
          {"--torrent", "t", "--port", "x"}}) {
        TParsed parsed = Parse(bad);
        EXPECT_FALSE(parsed.ok) << bad[bad.size() - 1];
        EXPECT_FALSE(parsed.error.empty());
    }
}

TEST(QlgetProgress, UnitsAndDurations)
{
    EXPECT_EQ(FormatBytes(0), "0 B");
    EXPECT_EQ(FormatBytes(1023), "1023 B");
    EXPECT_EQ(FormatBytes(1536), "1.50 KiB");
    EXPECT_EQ(FormatBytes(12ull << 20), "12.0 MiB");
    EXPECT_EQ(FormatBytes(5ull << 40), "5.00 TiB");
    EXPECT_EQ(FormatBytes(5000ull << 40), "5000.0 TiB") << "the largest unit carries the rest";
    EXPECT_EQ(FormatDuration(-1), "--:--");
    EXPECT_EQ(FormatDuration(7), "0:07");
    EXPECT_EQ(FormatDuration(725), "12:05");
    EXPECT_EQ(FormatDuration(10921), "3:02:01");
}

TEST(QlgetProgress, LineShowsUnknownsAsUnknown)
{
    TTaskInfo info{};
    info.secondsLeft = 0;
    std::string waiting = FormatProgressLine(info);
    EXPECT_NE(waiting.find("?"), std::string::npos) << waiting;
    EXPECT_NE(waiting.find("ETA --:--"), std::string::npos) << waiting;

    info.totalKB = 2048;
    info.progress = 4217;
    info.speed = 3 << 20;
    info.secondsLeft = 83;
    info.doneBytes = 884ull << 10;
    info.httpBytes = 800ull << 10;
    info.peerBytes = 84ull << 10;
    std::string line = FormatProgressLine(info);
    EXPECT_NE(line.find(" 42.17%"), std::string::npos) << line;
    EXPECT_NE(line.find("3.00 MiB/s"), std::string::npos) << line;
    EXPECT_NE(line.find("ETA 1:23"), std::string::npos) << line;
    EXPECT_NE(line.find("servers 800.0 KiB"), std::string::npos) << line;
    EXPECT_NE(line.find("peers 84.0 KiB"), std::string::npos) << line;

    // Data flows but the engine has no estimate yet (it says 0 seconds).
    info.secondsLeft = 0;
    line = FormatProgressLine(info);
    EXPECT_NE(line.find("ETA --:--"), std::string::npos) << line;
    info.speed = 0;
    info.secondsLeft = 83;
    line = FormatProgressLine(info);
    EXPECT_NE(line.find("ETA --:--"), std::string::npos) << line;
}

TEST(QlgetOutcome, EveryFailureStateHasItsOwnExitCode)
{
    std::set<int> codes;
    for (int32_t state : {TASK_STATE_SIZE_TIMEOUT, TASK_STATE_DISK_FULL, TASK_STATE_BAD_TORRENT, TASK_STATE_NO_SOURCE,
                          TASK_STATE_FILE_OPEN_FAILED, TASK_STATE_HOST_NOT_FOUND, TASK_STATE_DATA_MISMATCH,
                          TASK_STATE_NONE}) {
        TQlgetOutcome outcome = OutcomeOfStoppedTask(state);
        EXPECT_NE(outcome.exitCode, 0) << state;
        EXPECT_FALSE(outcome.message.empty());
        codes.insert(outcome.exitCode);
    }
    EXPECT_EQ(codes.size(), 8u);
    EXPECT_EQ(OutcomeOfStoppedTask(TASK_STATE_NONE).exitCode, QLGET_STALLED);
    EXPECT_EQ(ExitCodeOfSignal(2), 130);
}

} // namespace
