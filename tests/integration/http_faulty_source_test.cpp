// Downloads where one source misbehaves in ways no real server does: the
// file must still arrive byte for byte from the good mirror, and nothing the
// faulty one sends may land in it.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/child_process.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"

namespace {

// tests/doubles/faulty_http_server.py serving one file, stopped by its pid.
class TFaultyServer {
public:
    bool Start(const fs::path &file, const fs::path &folder)
    {
        portFile = folder / "faulty.port";
        record = folder / "faulty.record";
        pid = platform::StartChildProcess({"/usr/bin/python3",
                                           std::string(QL_SOURCE_DIR) + "/tests/doubles/faulty_http_server.py",
                                           "--file", file.string(), "--port-file", portFile.string(), "--record",
                                           record.string()});
        for (int waited = 0; pid > 0 && waited < 10000; waited += 20) {
            if (fs::exists(portFile)) {
                port = ReadAll(portFile);
                return !port.empty();
            }
            platform::SleepMs(20);
        }
        return false;
    }
    ~TFaultyServer()
    {
        if (pid > 0)
            platform::StopChildProcess(pid);
    }
    std::string Url(const std::string &path) const { return "http://127.0.0.1:" + port + path; }
    // One line per request: the path and the asked start.
    std::vector<std::string> Requests() const
    {
        std::vector<std::string> lines;
        std::istringstream text(ReadAll(record));
        for (std::string line; std::getline(text, line);)
            lines.push_back(line);
        return lines;
    }

private:
    int pid = -1;
    std::string port;
    fs::path portFile;
    fs::path record;
};

class HttpFaultySourceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitEngine(); }
    static void TearDownTestSuite() { UninitEngine(); }

    void SetUp() override
    {
        root = scratch.path / "www";
        fs::create_directories(root);
        content = PatternBytes(2 * 1024 * 1024 + 777, 11);
        WriteAll(root / "file.bin", content);
        target = scratch.path / "out.bin";
        ASSERT_TRUE(faulty.Start(root / "file.bin", scratch.path));
    }

    void ExpectDelivered(TEngineTask &task)
    {
        ASSERT_TRUE(task.WaitUntil([](const TTaskInfo &info) { return info.progress >= 10000; }))
            << "progress " << task.Info().progress << " state " << task.Info().state;
        ASSERT_TRUE(task.WaitUntil([&](const TTaskInfo &) { return fs::exists(target); }, 5000));
        EXPECT_EQ(Md5Hex(ReadAll(target)), Md5Hex(content));
    }

    TScratch scratch;
    fs::path root;
    fs::path target;
    std::string content;
    TFaultyServer faulty;
};

class HttpFaultTest : public HttpFaultySourceTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(HttpFaultTest, TheGoodMirrorDeliversAndTheFaultyOneCorruptsNothing)
{
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root));
    TEngineTask task;
    std::string fault = GetParam();
    ASSERT_EQ(task.CreateHttp(target, faulty.Url("/" + fault + "/file.bin") + "\n" + nginx.Url("/file.bin")),
              ENGINE_OK);
    ExpectDelivered(task);
    // The fault was met, not avoided.
    std::vector<std::string> requests = faulty.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].substr(0, fault.size()), fault);
}

INSTANTIATE_TEST_SUITE_P(Faults, HttpFaultTest,
                         ::testing::Values("ignore-range", "wrong-start", "short", "overlong", "stall",
                                           "endless-head", "bad-range", "gzip"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             std::string name;
                             for (const char *c = info.param; *c != '\0'; ++c)
                                 if (*c != '-')
                                     name += *c;
                             return name;
                         });

TEST_F(HttpFaultySourceTest, AChunkedSourceAloneDeliversTheFile)
{
    TEngineTask task;
    ASSERT_EQ(task.CreateHttp(target, faulty.Url("/chunked/file.bin")), ENGINE_OK);
    ExpectDelivered(task);
}

TEST_F(HttpFaultySourceTest, ASourceWithoutALengthIsGivenUpAtOnceAndNamed)
{
    TEngineTask task;
    ASSERT_EQ(task.CreateHttp(target, faulty.Url("/no-length/file.bin")), ENGINE_OK);
    TTaskDetail detail{};
    for (int waited = 0; waited < 10000 && detail.sourcesGivenUp == 0; waited += 20) {
        platform::SleepMs(20);
        ASSERT_EQ(GetTaskDetail(task.handle, &detail), ENGINE_OK);
    }
    EXPECT_EQ(detail.sourcesGivenUp, 1u);
    EXPECT_NE(std::string(detail.sourceFailure).find("sends no length; ranged download impossible"),
              std::string::npos)
        << detail.sourceFailure;
    // Asked once, not again and again until the size time-out.
    platform::SleepMs(1500);
    EXPECT_EQ(faulty.Requests().size(), 1u);
}

TEST_F(HttpFaultySourceTest, ARedirectChainIsCutAfterFiveHops)
{
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root));
    TEngineTask task;
    ASSERT_EQ(task.CreateHttp(target, faulty.Url("/redirect-chain/0") + "\n" + nginx.Url("/file.bin")), ENGINE_OK);
    ExpectDelivered(task);
    // Let any hop still under way arrive; the chain never grows past five.
    platform::SleepMs(500);
    std::vector<std::string> requests = faulty.Requests();
    ASSERT_FALSE(requests.empty());
    for (const std::string &line : requests) {
        std::string path = line.substr(0, line.find(' '));
        EXPECT_LE(std::atoi(path.substr(path.rfind('/') + 1).c_str()), 5) << line;
    }
}

} // namespace
