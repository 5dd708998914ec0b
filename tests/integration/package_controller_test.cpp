// The package controller over the real engine against nginx: a fresh
// package downloaded to the end, then verified.
#include <gtest/gtest.h>

#include "app/engine_binding.h"
#include "app/package_state.h"
#include "app/report_binding.h"
#include "app/system_clock.h"
#include "tests/app/controller_doubles.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"

namespace {

constexpr uint32_t kPollMs = 100;
constexpr uint32_t kWaitMs = 90000;

class PackageControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const fs::path www = scratch.Root() / "www";
        fs::create_directories(www / "10192");
        ASSERT_TRUE(nginx.Start(www));
        for (int i = 0; i < kPackageFileCount; ++i) {
            content[i] = PatternBytes(1024 * 1024 + 4096 * i + 77 * i, 100 + i);
            manifest.name[i] = i == 0 ? "setup.exe" : "pack.7z.00" + std::to_string(i);
            WriteAll(www / "10192" / manifest.name[i], content[i]);
            manifest.url[i] = nginx.Url("/10192/" + manifest.name[i]);
            manifest.size[i] = content[i].size();
            manifest.md5[i] = Md5Hex(content[i]);
            manifest.torrentId[i] = 301 + i;
        }
        manifest.installerName = manifest.name[0];
        manifest.packageKey = manifest.md5[0];
        fs::create_directories(scratch.Path("home"));
        fs::create_directories(scratch.Path("tmp"));
    }

    // Drives the controller as a front-end does until the state is reached.
    bool RunUntil(CPackageController &controller, uint32_t wanted)
    {
        for (uint32_t waited = 0; waited < kWaitMs; waited += kPollMs) {
            if (controller.PollState() == wanted)
                return true;
            if (waited % 1000 == 0) {
                controller.Tick();
                controller.GetSpeedText();
            }
            platform::SleepMs(kPollMs);
        }
        return controller.PollState() == wanted;
    }

    ScratchFolder scratch;
    TNginxServer nginx;
    PackageManifest manifest;
    std::string content[kPackageFileCount];
};

TEST_F(PackageControllerTest, FreshPackageIsDownloadedThenVerified)
{
    CEngineBinding engine;
    CReportBinding report;
    RecordingFrontEnd frontEnd;
    ScratchFileSystem files(scratch);
    CSystemClock clock;
    MapResources resources; // no torrents, no report configuration
    RecordingPower power;
    RecordingShell shell;
    TControllerServices services{engine, report, frontEnd, files, clock, resources, power, shell};
    services.connectionOverridePath = scratch.Path("link.ini");
    CPackageController controller(manifest, services);

    ASSERT_EQ(controller.StartUp(), 0);
    ASSERT_EQ(controller.State(), uint32_t(PACKAGE_READY));
    controller.OnMainButton();
    ASSERT_EQ(controller.State(), uint32_t(PACKAGE_PREPARING));
    ASSERT_TRUE(RunUntil(controller, PACKAGE_FINISHED)) << "state " << controller.State();

    const std::string save = controller.GetSaveFolder();
    for (int i = 0; i < kPackageFileCount; ++i) {
        EXPECT_EQ(Md5Hex(ReadAll(fs::path(save) / manifest.name[i])), manifest.md5[i]) << i;
        EXPECT_EQ(controller.GetStatusText(i), "√ 下载完成  ");
    }
    EXPECT_EQ(controller.GetOverallProgress(), 10000u);
    const TPackageView view = controller.GetPackageView();
    EXPECT_EQ(view.httpBytes, manifest.PackageSize());

    frontEnd.answer = true;
    controller.OnMainButton();
    ASSERT_TRUE(RunUntil(controller, PACKAGE_CHECK_FINISHED)) << "state " << controller.State();
    EXPECT_FALSE(controller.MismatchSeen());
    EXPECT_EQ(frontEnd.Posted(), std::vector<uint32_t>{kInstallAfterCheckMessage});
    controller.OnMainButton();
    ASSERT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(frontEnd.destroyed, 1);
    controller.OnExit();
}

} // namespace
