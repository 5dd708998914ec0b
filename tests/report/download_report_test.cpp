// ctest-labels: threading
#include "report/download_report.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

#include "collection_server_double.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/base/report_hooks.h"
#include "platform/diagnostic_sink.h"

namespace {

// The whole path: the application's calls, the reporting thread, the
// process's statistics component (profiling this machine) and the double.
class DownloadReportTest : public ::testing::Test {
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
        folder.Write("dataupload.qlconf", "[SubmitEventDownload]\nInputDataKeyWord=DVersion;GameID;GVersion;AppVersion\n"
                                          "SubmitDataKeyWord=MachId;Mac;OS\n[SubmitEventDownloadSeveral]\nSubmitUrl=" +
                                              server->Url("/accept/batch") + "\n");
    }
    void TearDown() override { StopReportThread(); }

    bool Start(const std::string &appVersion = "2.0.0.1")
    {
        return CollectDataUpload(config, "991002359", appVersion, "v1.0.1.92", "1");
    }

    // Every event posted so far, decoded, across batches.
    std::vector<Json::Value> PostedEvents() const
    {
        std::vector<Json::Value> events;
        for (const auto &post : server->Posts()) {
            Json::Value batch = CollectionServerDouble::DecodeBatch(post.body);
            EXPECT_TRUE(batch.isArray()) << post.body;
            for (const auto &element : batch)
                events.push_back(element);
        }
        return events;
    }

    static Json::Value Info(const Json::Value &event)
    {
        return CollectionServerDouble::ParseJson(event["info"].asString());
    }

    static CollectionServerDouble *server;
    ScratchFolder folder;
    std::string config = folder.Path("dataupload.qlconf");
};

CollectionServerDouble *DownloadReportTest::server = nullptr;

TEST_F(DownloadReportTest, StoppingDeliversWhatIsQueued)
{
    ASSERT_TRUE(Start());
    ReportEvent("11010000", "start", 7);
    ReportFileEvent("11500201", "setup.exe", "MD5 unmatched (abc)");
    ReportEventWithStats("11040000", "", "", 10, 1000, 100, "50%", 600, 60, 400, 40, 0, "", "", "", 0);
    ReportEventWithStats("11040000", "", "", 20, 1500, 75, "75%", 900, 45, 600, 30, 0, "", "", "", 0);
    StopReportThread();

    std::vector<Json::Value> events = PostedEvents();
    ASSERT_EQ(events.size(), 4u);
    Json::Value start = Info(events[0]);
    ASSERT_TRUE(start.isObject());
    EXPECT_EQ(events[0]["code"], "11010000");
    EXPECT_TRUE(start["CPU"].isArray());
    EXPECT_TRUE(start["Memory"].isArray());
    EXPECT_TRUE(start["Video_Card"].isArray());
    EXPECT_TRUE(std::regex_match(start["MachId"].asString(), std::regex("[0-9A-F]{16}")));
    EXPECT_EQ(start["AppVersion"], "2.0.0.1");
    EXPECT_EQ(start["Errormsg"], "start");

    Json::Value file = Info(events[1]);
    EXPECT_EQ(file["Filename"], "setup.exe");
    EXPECT_EQ(file["Errormsg"], "MD5 unmatched (abc)");
    EXPECT_FALSE(file.isMember("CPU"));
    EXPECT_EQ(file["Totalbytes"], "0");

    Json::Value later = Info(events[3]);
    EXPECT_EQ(later["Totalbytes"], "1500");
    EXPECT_EQ(later["Intotalbytes"], "500");
    EXPECT_EQ(later["Inhttptotalbytes"], "300");
    EXPECT_EQ(later["Inp2ptotalbytes"], "200");
    EXPECT_EQ(later["Intime"], "10");
    EXPECT_EQ(later["Progress"], "75%");
}

TEST_F(DownloadReportTest, NothingIsReportedWithoutAppVersion)
{
    EXPECT_FALSE(Start(""));
    ReportEvent("11010000", "start", 0);
    StopReportThread();
    EXPECT_TRUE(server->Posts().empty());
}

TEST_F(DownloadReportTest, NothingIsReportedWithoutConfiguration)
{
    EXPECT_FALSE(CollectDataUpload("", "991002359", "2.0.0.1", "v1.0.1.92", "1"));
    ReportEvent("11010000", "start", 0);
    StopReportThread();
    EXPECT_TRUE(server->Posts().empty());
}

TEST_F(DownloadReportTest, ReportsOutsideTheThreadsLifeAreDropped)
{
    ReportEvent("11000001", "before", 0);
    ASSERT_TRUE(Start());
    EXPECT_FALSE(Start()); // one thread at a time
    ReportEvent("11000002", "during", 0);
    StopReportThread();
    ReportEvent("11000003", "after", 0);
    ASSERT_TRUE(Start());
    StopReportThread();
    std::vector<Json::Value> events = PostedEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["code"], "11000002");
}

TEST_F(DownloadReportTest, HooksGiveTheSessionIdAndStopTheThread)
{
    ASSERT_TRUE(Start());
    std::string id = ReportIdThroughHook();
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{8}"))) << id;
    EXPECT_EQ(id, ReportIdentification());
    ReportEvent("11000004", "queued", 0);
    StopReportThroughHook();
    ReportEvent("11000005", "dropped", 0);
    std::vector<Json::Value> events = PostedEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(Info(events[0])["Sessionid"], id);
    EXPECT_TRUE(Start()); // the hook deleted the old thread
}

TEST_F(DownloadReportTest, ReleasingTheLogStopsTheThreadFirst)
{
    std::vector<std::string> lines;
    platform::SetDiagnosticCapture([&lines](const std::string &line) { lines.push_back(line); });
    CreateEngineLog();
    ASSERT_TRUE(Start());
    ReportEvent("11990501", "Unknow Exit, maybe crashed", 0);
    ReleaseEngineLog();
    platform::SetDiagnosticCapture(nullptr);

    ASSERT_EQ(PostedEvents().size(), 1u);
    // The event code went to the data-upload channel while the log existed.
    bool logged = false;
    for (const auto &line : lines)
        logged = logged || line.find("[11990501]") != std::string::npos;
    EXPECT_TRUE(logged);
    EXPECT_TRUE(Start());
}

TEST_F(DownloadReportTest, ReportersOnManyThreadsWhileStopping)
{
    ASSERT_TRUE(Start());
    std::vector<std::thread> reporters;
    for (int t = 0; t < 4; ++t) {
        reporters.emplace_back([t] {
            for (int i = 0; i < 5; ++i)
                ReportEventWithStats("1100" + std::to_string(t) + "00" + std::to_string(i), "", "", 0,
                                     uint64_t(t * 100 + i + 1), 0, "", 0, 0, 0, 0, 0, "", "", "", 0);
        });
    }
    // A stop racing the reporters: each report is either delivered or dropped whole.
    std::thread stopper([] { StopReportThread(); });
    for (auto &r : reporters)
        r.join();
    stopper.join();
    std::vector<Json::Value> events = PostedEvents();
    EXPECT_LE(events.size(), 20u);
    for (const auto &event : events)
        EXPECT_TRUE(Info(event).isObject());
}

} // namespace
