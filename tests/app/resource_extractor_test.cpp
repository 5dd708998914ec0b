#include "app/base64.h"
#include "app/resource_extractor.h"
#include "tests/app/app_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

namespace {

class MapResources : public IResourceSource {
public:
    ResourceLoad Load(std::string_view type, int32_t id, std::string &bytes) override
    {
        if (failure != ResourceLoad::Loaded)
            return failure;
        auto found = resources.find(std::string(type) + "/" + std::to_string(id));
        if (found == resources.end())
            return ResourceLoad::NotFound;
        bytes = found->second;
        return ResourceLoad::Loaded;
    }
    std::map<std::string, std::string> resources;
    ResourceLoad failure = ResourceLoad::Loaded;
};

// Writes fail for paths under a given prefix, as on a full or read-only disk.
class FailingWrites : public ScratchFileSystem {
public:
    using ScratchFileSystem::ScratchFileSystem;
    bool WriteOwnFile(const std::string &path, const std::string &contents) override
    {
        if (!failPrefix.empty() && path.rfind(failPrefix, 0) == 0)
            return false;
        return ScratchFileSystem::WriteOwnFile(path, contents);
    }
    std::string failPrefix;
};

class ResourceExtractorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(scratch.Path("tmp"));
        resources.resources["TORRENT/301"] = std::string("d4:infod6:lengthi5ee\0e", 22);
        resources.resources["DUCONF/181"] = Base64Encode("[SubmitEventDownload]\nSubmitUrl=x\n");
    }
    ScratchFolder scratch;
    FailingWrites files{scratch};
    MapResources resources;
    CResourceExtractor extractor{resources, files};
};

TEST_F(ResourceExtractorTest, CreatesTheWholeFolderChainAndWritesRawBytes)
{
    const std::string folder = scratch.Path("data/Pivh/Quarrowlight/QuarrowlightKEY");
    EXPECT_EQ(extractor.ExtractResource(301, folder, "abc", "TORRENT", false), 0);
    EXPECT_EQ(scratch.Read("data/Pivh/Quarrowlight/QuarrowlightKEY/abc"), resources.resources["TORRENT/301"]);
    EXPECT_EQ(extractor.WrittenPath(), folder + "/abc");
    EXPECT_EQ(extractor.LastFailure(), ResourceFailure::None);
    EXPECT_STREQ(extractor.FailureText(), "");
}

TEST_F(ResourceExtractorTest, DecodeWritesTheDecodedText)
{
    EXPECT_EQ(extractor.ExtractResource(181, scratch.Path("data"), "dataupload.qlconf", "DUCONF", true), 0);
    EXPECT_EQ(scratch.Read("data/dataupload.qlconf"), "[SubmitEventDownload]\nSubmitUrl=x\n");
    // The decoded text ends at its first NUL.
    resources.resources["DUCONF/181"] = Base64Encode(std::string("a=b\0hidden", 10));
    EXPECT_EQ(extractor.ExtractResource(181, scratch.Path("data"), "dataupload.qlconf", "DUCONF", true), 0);
    EXPECT_EQ(scratch.Read("data/dataupload.qlconf"), "a=b");
}

TEST_F(ResourceExtractorTest, ExistingFileIsReplacedWhole)
{
    scratch.Write("old", std::string(1000, 'z'));
    EXPECT_EQ(extractor.ExtractResource(301, scratch.Root().string(), "old", "TORRENT", false), 0);
    EXPECT_EQ(scratch.Read("old"), resources.resources["TORRENT/301"]);
}

TEST_F(ResourceExtractorTest, UnwritableFolderFallsBackToTemp)
{
    scratch.Write("blocker", "a file where the folder should be");
    EXPECT_EQ(extractor.ExtractResource(301, scratch.Path("blocker/sub"), "abc", "TORRENT", false), 1);
    EXPECT_EQ(scratch.Read("tmp/abc"), resources.resources["TORRENT/301"]);
    EXPECT_EQ(extractor.WrittenPath(), scratch.Path("tmp/abc"));
}

TEST_F(ResourceExtractorTest, FailedWriteIsAFailureNotASuccess)
{
    files.failPrefix = scratch.Path("data");
    EXPECT_EQ(extractor.ExtractResource(301, scratch.Path("data"), "abc", "TORRENT", false), 1);
    files.failPrefix = scratch.Root().string();
    EXPECT_EQ(extractor.ExtractResource(301, scratch.Path("data"), "abc", "TORRENT", false), -1);
    EXPECT_EQ(extractor.LastFailure(), ResourceFailure::CreateFailed);
    EXPECT_STREQ(extractor.FailureText(), "创建文件失败！");
    EXPECT_EQ(extractor.WriteResourceFile(301, "TORRENT", scratch.Path("data/abc"), false), 0);
}

TEST_F(ResourceExtractorTest, EachResourceFailureHasItsText)
{
    const std::string path = scratch.Path("x");
    EXPECT_EQ(extractor.WriteResourceFile(302, "TORRENT", path, false), 0);
    EXPECT_STREQ(extractor.FailureText(), "获取资源失败！");
    EXPECT_EQ(extractor.LastFailure(), ResourceFailure::NotFound);
    resources.failure = ResourceLoad::LoadFailed;
    EXPECT_EQ(extractor.WriteResourceFile(301, "TORRENT", path, false), 0);
    EXPECT_STREQ(extractor.FailureText(), "加载资源数据失败！");
    resources.failure = ResourceLoad::NoModule;
    EXPECT_EQ(extractor.WriteResourceFile(301, "TORRENT", path, false), 0);
    EXPECT_STREQ(extractor.FailureText(), "进程句柄为空！");
    EXPECT_FALSE(std::filesystem::exists(path));
    // Both attempts fail for a resource that is not there.
    resources.failure = ResourceLoad::Loaded;
    EXPECT_EQ(extractor.ExtractResource(181, scratch.Path("data"), "absent", "TORRENT", false), -1);
    EXPECT_EQ(extractor.LastFailure(), ResourceFailure::NotFound);
}

TEST_F(ResourceExtractorTest, NameThatLeavesTheFolderIsNeverWritten)
{
    EXPECT_EQ(extractor.ExtractResource(301, scratch.Path("data/deep"), "../escaped", "TORRENT", false), -1);
    EXPECT_FALSE(std::filesystem::exists(scratch.Path("data/escaped")));
    EXPECT_FALSE(std::filesystem::exists(scratch.Path("escaped")));
}

TEST_F(ResourceExtractorTest, TempFallbackNeverWritesThroughALink)
{
    // Someone else planted a link under the name in the shared folder.
    scratch.Write("victim", "precious");
    std::filesystem::create_symlink(scratch.Path("victim"), scratch.Path("tmp/abc"));
    scratch.Write("blocker", "");
    EXPECT_EQ(extractor.ExtractResource(301, scratch.Path("blocker/sub"), "abc", "TORRENT", false), -1);
    EXPECT_EQ(scratch.Read("victim"), "precious");
    EXPECT_TRUE(std::filesystem::is_symlink(scratch.Path("tmp/abc")));
}

} // namespace
