// ctest-labels: threading
#include "tests/app/controller_doubles.h"

namespace {

class ResourceListControllerTest : public ControllerTest {
protected:
    // The read runs on its own thread: the checks wait for it to end.
    void WaitForRead()
    {
        for (int waited = 0; waited < 5000 && controller->IsReadingResourceList(); ++waited)
            platform::SleepMs(1);
        ASSERT_FALSE(controller->IsReadingResourceList());
    }
    void Refresh(int times)
    {
        for (int i = 0; i < times; ++i) {
            controller->GetSpeedText();
            WaitForRead();
        }
    }
    std::string Mirror(const std::string &ip, const std::string &file)
    {
        return "<cdn id=\"1\" name=\"c\" middle-dir=\"/m/\" file-name=\"" + file + "\" open=\"1\"><ip>" + ip +
               "</ip></cdn>";
    }
    std::string Resource(int file, const std::string &cdns)
    {
        return "<resource id=\"r\" task=\"" + manifest.url[file] + "\">" + cdns + "</resource>";
    }
    std::string List(const std::string &p2p, const std::string &resources)
    {
        return "<project><configs><p2p-switch>" + p2p + "</p2p-switch></configs><resources>" + resources +
               "</resources></project>";
    }
    std::vector<std::string> MirrorCalls() const
    {
        std::vector<std::string> calls;
        for (const std::string &entry : journal) {
            if (entry.rfind("AddTaskMirror", 0) == 0 || entry.rfind("ClearTaskMirrors", 0) == 0)
                calls.push_back(entry.substr(entry.find(' ') + 1 + SaveFolder().size() + 1));
        }
        return calls;
    }
};

TEST_F(ResourceListControllerTest, ReadOnFirstRefreshInDownloadingOrRepairStatesThenEvery600th)
{
    StartDownload();
    SetFlowing(0, 5000);
    Refresh(1);
    EXPECT_EQ(resourceListFetches, 1) << "the first refresh while downloading reads at once";
    Refresh(599);
    EXPECT_EQ(resourceListFetches, 1);
    Refresh(1);
    EXPECT_EQ(resourceListFetches, 2);

    controller->SetState(5);
    Refresh(1);
    controller->SetState(4);
    Refresh(1);
    EXPECT_EQ(resourceListFetches, 3) << "the count restarts outside the downloading states";

    controller->SetState(5);
    Refresh(1);
    controller->SetState(11);
    Refresh(1);
    EXPECT_EQ(resourceListFetches, 4) << "a repair reads as well";
    Refresh(599);
    EXPECT_EQ(resourceListFetches, 4);
}

TEST_F(ResourceListControllerTest, ASlowReadIsNeverOverlappedAndExitCancelsItBeforeTheEngineGoes)
{
    StartDownload();
    SetFlowing(0, 5000);
    holdResourceList = true;
    controller->GetSpeedText();
    for (int i = 0; i < 1300; ++i)
        controller->GetSpeedText();
    EXPECT_EQ(resourceListFetches, 1);
    EXPECT_TRUE(controller->IsReadingResourceList());

    controller->OnExit();
    EXPECT_FALSE(controller->IsReadingResourceList());
    const auto cancelled = std::find(journal.begin(), journal.end(), "resource list read cancelled");
    const auto uninit = std::find(journal.begin(), journal.end(), "UninitEngine");
    ASSERT_NE(cancelled, journal.end());
    ASSERT_NE(uninit, journal.end());
    EXPECT_LT(cancelled, uninit);
    EXPECT_EQ(controller->ResourceListResult(), -1);
    EXPECT_TRUE(MirrorCalls().empty());
}

TEST_F(ResourceListControllerTest, MirrorsGoToEveryUnfinishedFileWhateverTheListOrder)
{
    StartDownload();
    SetFlowing(0, 5000);
    Finish(1);
    controller->PollState();
    resourceListText = List("off", Resource(3, Mirror("1.1.1.3", "f3.v")) +
                                       "<resource id=\"x\" task=\"http://elsewhere/f\">" + Mirror("9.9.9.9", "x") +
                                       "</resource>" + Resource(1, Mirror("1.1.1.1", "f1.v")) +
                                       Resource(2, Mirror("1.1.1.2", "f2.v") + Mirror("1.1.1.2", "f2.v") +
                                                       Mirror("2.2.2.2", "f2.v")));
    Refresh(1);
    EXPECT_EQ(controller->ResourceListResult(), 0);
    const std::vector<std::string> expected = {
        "f3.v", "f3.v http://1.1.1.3/m/f3.v null", "f2.v", "f2.v http://1.1.1.2/m/f2.v null",
        "f2.v http://2.2.2.2/m/f2.v null"};
    EXPECT_EQ(MirrorCalls(), expected) << "file 1 is done; each file is cleared once, a repeat added once";
    EXPECT_FALSE(engine.listening) << "the list switched P2P off";
    EXPECT_TRUE(Logged("禁用P2P功能"));

    // The next read replaces the mirrors instead of adding to them.
    journal.clear();
    resourceListText = List("on", Resource(2, Mirror("3.3.3.3", "f2.v")));
    Refresh(600);
    const std::vector<std::string> again = {"f2.v", "f2.v http://3.3.3.3/m/f2.v null"};
    EXPECT_EQ(MirrorCalls(), again);
    EXPECT_TRUE(engine.listening);
    EXPECT_TRUE(Logged("启用P2P功能"));
}

TEST_F(ResourceListControllerTest, AFailedOrEmptyReadChangesNothingButTheSwitch)
{
    StartDownload();
    SetFlowing(0, 5000);
    Refresh(1);
    EXPECT_EQ(controller->ResourceListResult(), -1);
    EXPECT_TRUE(Logged("Seek res FAILED with XML content failed"));
    EXPECT_TRUE(engine.listening);

    resourceListText = "<project><configs/></project>";
    Refresh(600);
    EXPECT_EQ(controller->ResourceListResult(), -2);
    EXPECT_TRUE(engine.listening);

    resourceListText = List("off", Resource(2, "<cdn id=\"1\" name=\"c\" middle-dir=\"/m/\" file-name=\"f\" "
                                               "open=\"0\"><ip>1.1.1.1</ip></cdn>"));
    Refresh(600);
    EXPECT_EQ(controller->ResourceListResult(), -2);
    EXPECT_TRUE(MirrorCalls().empty());
    EXPECT_FALSE(engine.listening);
}

} // namespace
