// End-to-end downloads from real nginx servers on loopback addresses.
#include <gtest/gtest.h>

#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"

namespace {

bool Complete(const TTaskInfo &info)
{
    return info.progress >= 10000;
}

class HttpDownloadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitEngine(); }
    static void TearDownTestSuite() { UninitEngine(); }

    void SetUp() override
    {
        root = scratch.path / "www";
        fs::create_directories(root);
        content = PatternBytes(3 * 1024 * 1024 + 12345, 7);
        WriteAll(root / "file.bin", content);
    }

    TScratch scratch;
    fs::path root;
    std::string content;
};

TEST_F(HttpDownloadTest, OneMirrorDeliversTheWholeFile)
{
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root));
    fs::path target = scratch.path / "out.bin";
    TEngineTask task;
    ASSERT_EQ(task.CreateHttp(target, nginx.Url("/file.bin")), ENGINE_OK);
    ASSERT_TRUE(task.WaitUntil(Complete)) << "progress " << task.Info().progress << " state " << task.Info().state;
    ASSERT_TRUE(task.WaitUntil([&](const TTaskInfo &) { return fs::exists(target); }, 5000));
    EXPECT_EQ(Md5Hex(ReadAll(target)), Md5Hex(content));
    EXPECT_FALSE(fs::exists(target.string() + ".qltmp"));
    EXPECT_EQ(task.Info().httpBytes, content.size());
}

} // namespace
