#include "report/data_statistics.h"
#include "report/data_statistics_factory.h"
#include "report/data_upload.h"
#include "report/report_fragment.h"
#include "report/report_poster.h"

#include <gtest/gtest.h>

#include <regex>

#include "collection_server_double.h"
#include "profile_fixture.h"

namespace {

const TReportContext kContext{"991002359", "2.0.0.1", "v1.0.1.92", "1"};

std::string Fragment(const std::string &errorMsg = "", const std::string &fileName = "")
{
    TReportFields fields;
    fields.errorMsg = errorMsg;
    fields.fileName = fileName;
    return BuildReportFragment(kContext, fields, TReportDeltas{});
}

class DataStatisticsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = new CollectionServerDouble;
        ASSERT_TRUE(server->Start());
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(server, nullptr);
        server->ClearPosts();
        component.SetConfigPath(config);
    }

    // The configuration with the batch URLs given as paths on the double.
    void Configure(const std::vector<std::string> &paths, const std::string &submitKeywords = "MachId;Mac;OS",
                   const std::string &inputKeywords = "DVersion;GameID;GVersion;AppVersion")
    {
        std::string text = "[SubmitEventDownload]\nInputDataKeyWord=" + inputKeywords +
                           "\nSubmitDataKeyWord=" + submitKeywords + "\nSubmitUrl=" + server->Url("/reject/single") +
                           "\n[SubmitEventDownloadSeveral]\n";
        for (size_t i = 0; i < paths.size(); ++i) {
            std::string key = i == 0 ? "SubmitUrl" : "SubmitUrl" + std::to_string(i);
            text += key + "=" + (paths[i].empty() ? "" : server->Url(paths[i])) + "\n";
        }
        folder.Write("dataupload.qlconf", text);
    }

    std::vector<std::string> PostedPaths() const
    {
        std::vector<std::string> paths;
        for (const auto &post : server->Posts())
            paths.push_back(post.path);
        return paths;
    }

    static CollectionServerDouble *server;
    ScratchFolder folder;
    std::string config = folder.Path("dataupload.qlconf");
    CDataStatisticsImp component{std::make_unique<CMachineProfile>(FixtureSources(ProfileFixture("desktop")))};
};

CollectionServerDouble *DataStatisticsTest::server = nullptr;

TEST_F(DataStatisticsTest, PostedBatchIsOneJsonArrayOfEventObjects)
{
    Configure({"/accept/batch"});
    ASSERT_EQ(component.QueueEvent("11010000", Fragment("start"), 7), kEventAccepted);
    ASSERT_EQ(component.QueueEvent("11040000", Fragment("exit"), 0), kEventAccepted);
    EXPECT_TRUE(component.SubmitBatch());

    auto posts = server->Posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].path, "/accept/batch");
    Json::Value batch = CollectionServerDouble::DecodeBatch(posts[0].body);
    ASSERT_TRUE(batch.isArray()) << posts[0].body;
    ASSERT_EQ(batch.size(), 2u);
    EXPECT_EQ(batch[0]["code"], "11010000");
    EXPECT_EQ(batch[1]["code"], "11040000");

    std::string firstText = batch[0]["info"].asString();
    EXPECT_EQ(firstText.find('\n'), std::string::npos);
    Json::Value first = CollectionServerDouble::ParseJson(firstText);
    Json::Value second = CollectionServerDouble::ParseJson(batch[1]["info"].asString());
    ASSERT_TRUE(first.isObject()) << firstText;
    ASSERT_TRUE(second.isObject());
    EXPECT_EQ(first["MachId"], "64543DD93468C719");
    EXPECT_EQ(first["Mac"], "52-54-00-12-34-56;a0-b1-c2-d3-e4-f5");
    EXPECT_EQ(first["OS"], "610640");
    EXPECT_EQ(first["CPU"].size(), 2u);
    EXPECT_EQ(first["Memory"].size(), 4u);
    EXPECT_EQ(first["Video_Card"].size(), 3u);
    EXPECT_FALSE(second.isMember("CPU"));
    EXPECT_FALSE(second.isMember("Memory_Total_Capacity"));
    EXPECT_EQ(first["Sessionid"], component.Identification());
    EXPECT_EQ(second["Sessionid"], component.Identification());
    ASSERT_TRUE(first["Sequence"].isIntegral());
    EXPECT_EQ(second["Sequence"].asUInt64(), first["Sequence"].asUInt64() + 1);
    EXPECT_EQ(first["DVersion"], "1.8");
    EXPECT_EQ(first["GameID"], "991002359");
    EXPECT_EQ(first["Errormsg"], "start");
    EXPECT_EQ(second["Errormsg"], "exit");
}

TEST_F(DataStatisticsTest, MachineMembersComeSortedBeforeTheFragment)
{
    Configure({"/accept/batch"});
    component.QueueEvent("11010000", Fragment(), 0);
    ASSERT_TRUE(component.SubmitBatch());
    std::string info = CollectionServerDouble::DecodeBatch(server->Posts().at(0).body)[0]["info"].asString();
    EXPECT_TRUE(std::regex_match(info, std::regex("\\{\"Mac\":\"[^\"]*\",\"MachId\":\"[0-9A-F]{16}\",\"OS\":\"[0-9]+\","
                                                  "\"Sequence\":[0-9]+,\"Sessionid\":\"[0-9A-F]{8}\",\"DVersion\":.*\\}")))
        << info;
}

TEST_F(DataStatisticsTest, BlankAndChineseTextAreFormEncoded)
{
    Configure({"/accept/batch"});
    component.QueueEvent("11500201", Fragment("disk full", "磁盘.bin"), 0);
    ASSERT_TRUE(component.SubmitBatch());
    std::string body = server->Posts().at(0).body;
    EXPECT_EQ(body.compare(0, 5, "data="), 0);
    EXPECT_NE(body.find("disk_full"), std::string::npos);
    EXPECT_NE(body.find("%E7%A3%81%E7%9B%98%2Ebin"), std::string::npos);
    EXPECT_EQ(body.find(' '), std::string::npos);
    EXPECT_EQ(CollectionServerDouble::ParseJson(
                  CollectionServerDouble::DecodeBatch(body)[0]["info"].asString())["Filename"],
              "磁盘.bin");
}

TEST_F(DataStatisticsTest, EventLackingASubmitKeywordIsNull)
{
    Configure({"/accept/batch"}, "MachId;Mac;OS;Nowhere");
    component.QueueEvent("11010000", Fragment(), 0);
    ASSERT_TRUE(component.SubmitBatch());
    Json::Value batch = CollectionServerDouble::DecodeBatch(server->Posts().at(0).body);
    ASSERT_EQ(batch.size(), 1u);
    EXPECT_TRUE(batch[0].isNull());
}

TEST_F(DataStatisticsTest, TwentyEventsPerBatchAtMost)
{
    Configure({"/accept/batch"});
    for (int i = 0; i < 25; ++i)
        EXPECT_EQ(component.QueueEvent(std::to_string(11000000 + i), Fragment(), 0),
                  i < 20 ? kEventAccepted : kEventBatchFull)
            << i;
    ASSERT_TRUE(component.SubmitBatch());
    Json::Value batch = CollectionServerDouble::DecodeBatch(server->Posts().at(0).body);
    ASSERT_EQ(batch.size(), 20u);
    EXPECT_EQ(batch[19]["code"], "11000019");
    // The next batch starts counting afresh.
    EXPECT_EQ(component.QueueEvent("11000025", Fragment(), 0), kEventAccepted);
}

TEST_F(DataStatisticsTest, RefusedEvents)
{
    Configure({"/accept/batch"}, "MachId;Mac;OS", "DVersion;GameID;NotInAnyFragment");
    EXPECT_EQ(component.QueueEvent("11010000", Fragment(), 0), kEventMissingKeyword);
    Configure({"/accept/batch"});
    EXPECT_EQ(component.QueueEvent("", Fragment(), 0), kEventEmpty);
    EXPECT_EQ(component.QueueEvent("11010000", "", 0), kEventEmpty);
    component.SetConfigPath(folder.Path("missing.ini"));
    EXPECT_EQ(component.QueueEvent("11010000", Fragment(), 0), kEventNoConfiguration);
    // Nothing accepted: nothing is posted.
    EXPECT_FALSE(component.SubmitBatch());
    EXPECT_TRUE(server->Posts().empty());
}

TEST_F(DataStatisticsTest, RefusalsDoNotShutOutTheNextBatch)
{
    Configure({"/accept/batch"}, "MachId;Mac;OS", "NotInAnyFragment");
    for (int i = 0; i < 25; ++i)
        component.QueueEvent("11010000", Fragment(), 0);
    EXPECT_FALSE(component.SubmitBatch());
    Configure({"/accept/batch"});
    EXPECT_EQ(component.QueueEvent("11010000", Fragment(), 0), kEventAccepted);
}

TEST_F(DataStatisticsTest, NextUrlIsTriedUntilOneAnswersErrorZero)
{
    Configure({"/reject/a", "/accept/b", "/accept/c"});
    component.QueueEvent("11010000", Fragment(), 0);
    EXPECT_TRUE(component.SubmitBatch());
    EXPECT_EQ(PostedPaths(), (std::vector<std::string>{"/reject/a", "/accept/b"}));
}

TEST_F(DataStatisticsTest, NumberedUrlsEndAtTheFirstEmptyKey)
{
    Configure({"/reject/a", "/reject/b", "", "/accept/d"});
    component.QueueEvent("11010000", Fragment(), 0);
    EXPECT_FALSE(component.SubmitBatch());
    EXPECT_EQ(PostedPaths(), (std::vector<std::string>{"/reject/a", "/reject/b"}));
    // The failed batch is gone: nothing is posted again.
    EXPECT_FALSE(component.SubmitBatch());
    EXPECT_EQ(server->Posts().size(), 2u);
}

TEST_F(DataStatisticsTest, AnswerBeyondTheResponseCapIsNotAccepted)
{
    Configure({"/oversize/a", "/accept/b"});
    component.QueueEvent("11010000", Fragment(), 0);
    EXPECT_TRUE(component.SubmitBatch());
    EXPECT_EQ(PostedPaths(), (std::vector<std::string>{"/oversize/a", "/accept/b"}));
}

TEST_F(DataStatisticsTest, StalledEndpointTimesOutAndTheNextIsTried)
{
    Configure({"/stall/a", "/accept/b"});
    component.QueueEvent("11010000", Fragment(), 0);
    EXPECT_TRUE(component.SubmitBatch());
    EXPECT_EQ(PostedPaths(), (std::vector<std::string>{"/stall/a", "/accept/b"}));
}

TEST_F(DataStatisticsTest, SequenceRunsOnAcrossBatches)
{
    Configure({"/accept/batch"});
    uint64_t sequences[2];
    for (auto &sequence : sequences) {
        server->ClearPosts();
        component.QueueEvent("11010000", Fragment(), 0);
        ASSERT_TRUE(component.SubmitBatch());
        Json::Value batch = CollectionServerDouble::DecodeBatch(server->Posts().at(0).body);
        sequence = CollectionServerDouble::ParseJson(batch[0]["info"].asString())["Sequence"].asUInt64();
    }
    EXPECT_EQ(sequences[1], sequences[0] + 1);
    EXPECT_TRUE(std::regex_match(component.Identification(), std::regex("[0-9A-F]{8}")));
}

TEST_F(DataStatisticsTest, ReportingThreadRoundHandsOverAndSubmits)
{
    Configure({"/accept/batch"});
    DataUpload upload(&component, true, kContext);
    std::vector<TQueuedReport> reports;
    reports.push_back(TQueuedReport{"", "", 0}); // logged and dropped
    for (int i = 0; i < 25; ++i)
        reports.push_back(TQueuedReport{std::to_string(11000000 + i), Fragment(), 0});
    upload.Deliver(reports);
    auto posts = server->Posts();
    ASSERT_EQ(posts.size(), 1u);
    Json::Value batch = CollectionServerDouble::DecodeBatch(posts[0].body);
    ASSERT_EQ(batch.size(), 20u);
    EXPECT_EQ(batch[0]["code"], "11000000");

    // A round with nothing to hand over submits nothing.
    server->ClearPosts();
    upload.Deliver({TQueuedReport{"", "", 0}});
    EXPECT_TRUE(server->Posts().empty());
}

TEST_F(DataStatisticsTest, NotReadyThreadHandsNothingOver)
{
    Configure({"/accept/batch"});
    DataUpload unconfigured(&component, false, kContext);
    unconfigured.Deliver({TQueuedReport{"11010000", Fragment(), 0}});
    DataUpload noVersion(&component, true, TReportContext{"991002359", "", "v1.0.1.92", "1"});
    EXPECT_FALSE(noVersion.Ready());
    noVersion.Deliver({TQueuedReport{"11010000", Fragment(), 0}});
    EXPECT_TRUE(server->Posts().empty());
}

TEST(ReportPoster, ReservedAndUnparsableHostsAreRefused)
{
    EXPECT_TRUE(IsRefusedReportUrl("http://collector.invalid/launchersubmit/eventListSubmit"));
    EXPECT_TRUE(IsRefusedReportUrl("https://STATS.Example.INVALID./x"));
    EXPECT_TRUE(IsRefusedReportUrl("http://invalid/x"));
    EXPECT_TRUE(IsRefusedReportUrl("collector.invalid/x"));
    EXPECT_TRUE(IsRefusedReportUrl(""));
    EXPECT_TRUE(IsRefusedReportUrl("http://bad host/x"));
    EXPECT_FALSE(IsRefusedReportUrl("http://127.0.0.1:8080/launchersubmit/eventListSubmit"));
    EXPECT_FALSE(IsRefusedReportUrl("http://notinvalid.example/x"));
}

TEST(DataStatisticsFactory, OneComponentUnderItsClassIdentifier)
{
    IDataStatisticsUser *component = ObtainDataStatistics("{91095a15-3c46-43B5-ba5f-462064037e59}");
    ASSERT_NE(component, nullptr);
    EXPECT_EQ(ObtainDataStatistics(kDataStatisticsClassId), component);
    EXPECT_EQ(ObtainDataStatistics("{91095A15-3C46-43b5-BA5F-462064037E5A}"), nullptr);
    EXPECT_EQ(ObtainDataStatistics(""), nullptr);
}

} // namespace
