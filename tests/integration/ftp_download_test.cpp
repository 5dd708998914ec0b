// End-to-end downloads from real FTP servers (vsftpd, pyftpdlib), alone and
// beside nginx mirrors, through the flat engine interface and through qlget.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "tests/integration/download_fixture.h"
#include "tests/integration/ftp_servers.h"
#include "tests/integration/nginx_server.h"
#include "tests/integration/qlget_program.h"

namespace {

class FtpDownloadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitEngine(); }
    static void TearDownTestSuite() { UninitEngine(); }

    void SetUp() override
    {
        root = scratch.path / "www";
        fs::create_directories(root / "pub");
        content = PatternBytes(3 * 1024 * 1024 + 12345, 7);
        WriteAll(root / "pub" / "file.bin", content);
        target = scratch.path / "out.bin";
    }

    void ExpectDelivered(TEngineTask &task)
    {
        ExpectTaskDelivered(task, target, content);
    }

    TScratch scratch;
    fs::path root;
    fs::path target;
    std::string content;
};

TEST_F(FtpDownloadTest, EachServerAloneDeliversTheFileToAnHttpStyleAndATorrentTask)
{
    fs::path torrent = scratch.path / "file.torrent";
    ASSERT_NO_FATAL_FAILURE(MakeTorrent(root / "pub" / "file.bin", torrent));
    TVsftpdServer vsftpd;
    ASSERT_TRUE(vsftpd.Start(root));
    TPyftpdServer pyftpd;
    ASSERT_TRUE(pyftpd.Start(root));
    int serial = 0;
    for (const std::string &url : {vsftpd.Url("/pub/file.bin"), pyftpd.Url("/pub/file.bin")}) {
        SCOPED_TRACE(url);
        {
            target = scratch.path / ("http-" + std::to_string(++serial) + ".bin");
            TEngineTask task;
            ASSERT_EQ(task.CreateHttp(target, url), ENGINE_OK);
            ExpectDelivered(task);
        }
        {
            target = scratch.path / ("p2sp-" + std::to_string(serial) + ".bin");
            TEngineTask task;
            ASSERT_EQ(task.CreateP2sp(torrent, target, url), ENGINE_OK);
            ExpectDelivered(task);
        }
    }
}

TEST_F(FtpDownloadTest, ATorrentTaskFetchesItsTorrentOverFtp)
{
    ASSERT_NO_FATAL_FAILURE(MakeTorrent(root / "pub" / "file.bin", root / "pub" / "file.torrent"));
    TPyftpdServer pyftpd;
    ASSERT_TRUE(pyftpd.Start(root));
    TEngineTask task;
    ASSERT_EQ(task.CreateBt(target, pyftpd.Url("/pub/file.torrent") + "\n" + pyftpd.Url("/pub/file.bin")),
              ENGINE_OK);
    ExpectDelivered(task);
}

TEST_F(FtpDownloadTest, AFastFtpSourceTakesOverASlowMirrorsRange)
{
    // Paced so that the FTP source has a measured rate when its first
    // range ends, which a connection needs to take a range from another.
    content = PatternBytes(8 * 1024 * 1024, 8);
    WriteAll(root / "pub" / "file.bin", content);
    TNginxOptions slowOptions;
    slowOptions.serverDirectives = "    limit_rate 32k;";
    TNginxServer slow;
    ASSERT_TRUE(slow.Start(root, slowOptions));
    TPyftpdServer pyftpd;
    TPyftpdOptions options;
    options.record = true;
    options.rate = 1024 * 1024;
    ASSERT_TRUE(pyftpd.Start(root, options));
    TEngineTask task;
    ASSERT_EQ(task.CreateHttp(target, slow.Url("/pub/file.bin") + "\n" + pyftpd.Url("/pub/file.bin")), ENGINE_OK);
    ExpectDelivered(task);

    // The FTP source starts in the file's second half; its transfers that
    // start below it fetch what the slow mirror had held.
    std::vector<int64_t> rests;
    std::istringstream record(ReadAll(pyftpd.Record()));
    for (std::string line; std::getline(record, line);) {
        std::istringstream words(line);
        std::string connection, command;
        int64_t offset = 0;
        if (words >> connection >> command >> offset && command == "REST")
            rests.push_back(offset);
    }
    ASSERT_FALSE(rests.empty());
    EXPECT_TRUE(std::any_of(rests.begin(), rests.end(), [&](int64_t offset) { return offset < rests.front(); }))
        << ReadAll(pyftpd.Record());
}

TEST_F(FtpDownloadTest, FtpAndNginxMirrorsTogetherDeliverTheFile)
{
    fs::path torrent = scratch.path / "file.torrent";
    ASSERT_NO_FATAL_FAILURE(MakeTorrent(root / "pub" / "file.bin", torrent));
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root));
    TVsftpdServer vsftpd;
    ASSERT_TRUE(vsftpd.Start(root));
    TPyftpdServer pyftpd;
    ASSERT_TRUE(pyftpd.Start(root));
    TEngineTask task;
    ASSERT_EQ(task.CreateP2sp(torrent, target,
                              nginx.Url("/pub/file.bin") + "\n" + vsftpd.Url("/pub/file.bin") + "\n" +
                                  pyftpd.Url("/pub/file.bin")),
              ENGINE_OK);
    ExpectDelivered(task);
}

TEST_F(FtpDownloadTest, QlgetTakesFtpUrls)
{
    TVsftpdServer vsftpd;
    ASSERT_TRUE(vsftpd.Start(root));
    TNginxServer nginx;
    ASSERT_TRUE(nginx.Start(root));
    fs::path output = scratch.path / "qlget" / "file.bin";
    fs::create_directories(output.parent_path());
    std::string said;
    ASSERT_EQ(RunQlget({"-o", output.string(), vsftpd.Url("/pub/file.bin")}, said), 0) << said;
    EXPECT_EQ(Md5Hex(ReadAll(output)), Md5Hex(content));
    ASSERT_EQ(RunQlget({"--force", "-o", output.string(), vsftpd.Url("/pub/file.bin"), nginx.Url("/pub/file.bin")},
                       said),
              0)
        << said;
    EXPECT_EQ(Md5Hex(ReadAll(output)), Md5Hex(content));
}

} // namespace
