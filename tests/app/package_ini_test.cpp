// ctest-labels: threading
#include "app/connection_override.h"
#include "app/package_ini.h"
#include "app/package_paths.h"
#include "platform/ini.h"
#include "tests/app/app_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

namespace {

class PackageIniTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LoadManifest(manifest);
        ini.SetPath(path);
    }
    std::string Key(const std::string &key) { return platform::IniReadString(path, kPackageTaskSection, key, "<none>"); }
    void Store(const std::string &key, const std::string &value)
    {
        platform::IniWriteString(path, kPackageTaskSection, key, value);
    }

    ScratchFolder scratch;
    ScratchFileSystem files{scratch};
    FakeAppClock clock;
    PackageManifest manifest;
    CPackageIni ini{files, clock};
    std::string path = scratch.Path("key.qlconf");
};

TEST_F(PackageIniTest, MissingFileReadsAsNoRecord)
{
    const TPackageIniRecord record = ini.ReadRecord(manifest);
    EXPECT_FALSE(record.exists);
    EXPECT_TRUE(record.createTimeEmpty);
    EXPECT_EQ(ini.ReadCloseSelection(), -1);
    CPackageIni unset(files, clock);
    EXPECT_EQ(unset.ReadCloseSelection(), -1);
    EXPECT_EQ(unset.WriteCloseSelection(2), 0);
}

TEST_F(PackageIniTest, StartKeysAreWrittenInOrderWithTheirDefaults)
{
    TStartKeys keys;
    keys.hash = manifest.packageKey;
    keys.withFiles = true;
    ini.WriteStartKeys(keys, manifest);
    EXPECT_EQ(keys.saveFolder, scratch.Path("home/VRNH10192"));
    EXPECT_EQ(keys.entrance, "VRNH_Setup_1_0_1_92.exe");
    EXPECT_EQ(keys.folderName, "VRNH10192");

    EXPECT_EQ(Key("QuarrowlightTaskHash"), manifest.packageKey);
    EXPECT_EQ(Key("QuarrowlightTaskCreateTimeStamp"), "1000");
    EXPECT_EQ(Key("QuarrowlightTaskCreateTime"), "2024-05-06 07:08:09");
    EXPECT_EQ(Key("QuarrowlightHttpTaskUrl3"), manifest.url[3]);
    EXPECT_EQ(Key("QuarrowlightHttpTaskFile5"), "VRNH_92_.7z.005");
    EXPECT_EQ(Key("QuarrowlightTaskEntrence"), "VRNH_Setup_1_0_1_92.exe");
    EXPECT_EQ(Key("QuarrowlightTaskFloder"), "VRNH10192");
    EXPECT_EQ(Key("QuarrowlightTaskSavePath"), "<none>");

    const std::string text = scratch.Read("key.qlconf");
    EXPECT_LT(text.find("QuarrowlightTaskHash="), text.find("QuarrowlightTaskCreateTimeStamp="));
    EXPECT_LT(text.find("QuarrowlightHttpTaskUrl0="), text.find("QuarrowlightHttpTaskFile0="));
    EXPECT_LT(text.find("QuarrowlightHttpTaskFile5="), text.find("QuarrowlightTaskEntrence="));
    EXPECT_LT(text.find("QuarrowlightTaskEntrence="), text.find("QuarrowlightTaskFloder="));
}

TEST_F(PackageIniTest, ReopeningWritesNoFileKeysAndKeepsGivenValues)
{
    TStartKeys keys;
    keys.hash = "0123456789abcdef0123456789abcdef";
    keys.saveFolder = "/games";
    keys.entrance = "Other.exe";
    keys.folderName = "Elsewhere";
    ini.WriteStartKeys(keys, manifest);
    EXPECT_EQ(keys.saveFolder, "/games");
    EXPECT_EQ(Key("QuarrowlightHttpTaskUrl0"), "<none>");
    EXPECT_EQ(Key("QuarrowlightTaskEntrence"), "Other.exe");
    EXPECT_EQ(Key("QuarrowlightTaskFloder"), "Elsewhere");
}

TEST_F(PackageIniTest, RecordReadsBackWhatWasWritten)
{
    TStartKeys keys;
    keys.hash = manifest.packageKey;
    keys.saveFolder = "/srv/games";
    ini.WriteStartKeys(keys, manifest);
    ini.WriteSavePath("/srv/games");
    ini.WriteComplete();
    Store("QuarrowlightDownloadInfo2", "/data/info/two.qlinfo");
    ini.NoteDownloadedBytes(3000000000ULL);

    const TPackageIniRecord record = ini.ReadRecord(manifest);
    EXPECT_TRUE(record.exists);
    EXPECT_FALSE(record.createTimeEmpty);
    EXPECT_EQ(record.hash, manifest.packageKey);
    EXPECT_EQ(record.saveFolder, "/srv/games");
    EXPECT_TRUE(record.complete);
    EXPECT_EQ(record.installerName, "VRNH_Setup_1_0_1_92.exe");
    EXPECT_EQ(record.resumePath[2], "/data/info/two.qlinfo");
    EXPECT_EQ(record.resumePath[0], "");
    // The downloaded size is split at 2^31, not 2^32.
    EXPECT_EQ(Key("QuarrowlightTaskLastSizeHigh"), "1");
    EXPECT_EQ(Key("QuarrowlightTaskLastSizeLow"), "852516352");
    EXPECT_EQ(record.lastSizeHigh, 1);
    EXPECT_EQ(record.lastSizeLow, 852516352);
}

TEST_F(PackageIniTest, UnsafeValuesAreRefusedAndReadAsMissing)
{
    Store("QuarrowlightTaskHash", "../../../../etc");
    Store("QuarrowlightTaskSavePath", "relative/folder");
    Store("QuarrowlightTaskEntrence", "../../bin/sh");
    Store("QuarrowlightTaskIsComplete", "complete");
    Store("QuarrowlightDownloadInfo0", "/" + std::string(4095, 'x'));
    Store("QuarrowlightDownloadInfo1", "relative.qlinfo");
    TPackageIniRecord record = ini.ReadRecord(manifest);
    EXPECT_EQ(record.hash, "");
    EXPECT_EQ(record.saveFolder, "");
    EXPECT_EQ(record.installerName, "");
    EXPECT_FALSE(record.complete);
    EXPECT_EQ(record.resumePath[0], "");
    EXPECT_EQ(record.resumePath[1], "");

    // Too long for the target paths, which must fit the engine's 4096 bytes.
    Store("QuarrowlightTaskSavePath", "/" + std::string(4080, 'd'));
    EXPECT_EQ(ini.ReadRecord(manifest).saveFolder, "");
    Store("QuarrowlightTaskSavePath", "/" + std::string(4000, 'd'));
    EXPECT_EQ(ini.ReadRecord(manifest).saveFolder.size(), 4001u);
    Store("QuarrowlightTaskHash", "0123456789ABCDEF0123456789abcdef");
    EXPECT_EQ(ini.ReadRecord(manifest).hash, "0123456789ABCDEF0123456789abcdef");
}

TEST_F(PackageIniTest, CloseChoiceAloneLeavesEveryStartKeyEmpty)
{
    EXPECT_EQ(ini.WriteCloseSelection(2), 1);
    EXPECT_EQ(ini.ReadCloseSelection(), 2);
    const TPackageIniRecord record = ini.ReadRecord(manifest);
    EXPECT_TRUE(record.exists);
    EXPECT_TRUE(record.createTimeEmpty);
    EXPECT_EQ(record.hash, "");
    EXPECT_EQ(record.saveFolder, "");
    EXPECT_EQ(record.installerName, "");
}

TEST_F(PackageIniTest, DownloadedSizeIsWrittenAtMostOnceASecond)
{
    ini.NoteDownloadedBytes(100);
    EXPECT_EQ(Key("QuarrowlightTaskLastSizeLow"), "100");
    clock.tick += 400;
    ini.NoteDownloadedBytes(200);
    EXPECT_EQ(Key("QuarrowlightTaskLastSizeLow"), "100");
    clock.tick += 599;
    ini.NoteDownloadedBytes(300);
    EXPECT_EQ(Key("QuarrowlightTaskLastSizeLow"), "100");
    clock.tick += 1;
    ini.NoteDownloadedBytes(400);
    EXPECT_EQ(Key("QuarrowlightTaskLastSizeLow"), "400");
    ini.NoteDownloadedBytes(500);
    ini.FlushDownloadedBytes();
    EXPECT_EQ(Key("QuarrowlightTaskLastSizeLow"), "500");
    // Nothing pending: a flush writes nothing.
    Store("QuarrowlightTaskLastSizeLow", "edited");
    ini.FlushDownloadedBytes();
    EXPECT_EQ(Key("QuarrowlightTaskLastSizeLow"), "edited");
}

TEST_F(PackageIniTest, DownloadTimeKeepsGrowingAcrossRuns)
{
    uint32_t total = 0;
    ini.CountDownloadSecond(total);
    ini.CountDownloadSecond(total);
    EXPECT_EQ(total, 2u);
    // The next run starts its count at 0 again; the stored time goes on.
    uint32_t nextRun = 0;
    ini.CountDownloadSecond(nextRun);
    EXPECT_EQ(nextRun, 3u);
    EXPECT_EQ(Key("QuarrowlightTaskDownloadTime"), "3");
}

TEST_F(PackageIniTest, RemoveDeletesOnlyTheIni)
{
    ini.WriteComplete();
    scratch.Write("other", "x");
    EXPECT_TRUE(ini.Remove());
    EXPECT_FALSE(ini.Exists());
    EXPECT_TRUE(std::filesystem::exists(scratch.Path("other")));
}

TEST_F(PackageIniTest, ConcurrentWritersNeverLeaveATornFile)
{
    TStartKeys keys;
    keys.hash = manifest.packageKey;
    keys.saveFolder = "/srv/games";
    ini.WriteStartKeys(keys, manifest);
    ini.WriteSavePath("/srv/games");
    std::atomic<bool> done{false};
    std::thread writer([&] {
        uint32_t total = 0;
        for (int i = 0; i < 60; ++i) {
            clock.tick += 1000;
            ini.NoteDownloadedBytes(static_cast<uint64_t>(i) * 3000000000ULL);
            ini.CountDownloadSecond(total);
        }
        done = true;
    });
    int reads = 0;
    while (!done || reads == 0) {
        const TPackageIniRecord record = ini.ReadRecord(manifest);
        ASSERT_EQ(record.hash, manifest.packageKey);
        ASSERT_EQ(record.saveFolder, "/srv/games");
        ++reads;
    }
    writer.join();
    EXPECT_EQ(Key("QuarrowlightTaskDownloadTime"), "60");
}

TEST(PackagePathsTest, FoldersFollowThePackageKey)
{
    ScratchFolder scratch;
    ScratchFileSystem files{scratch};
    const std::string data = PackageDataFolder(files, "abc");
    EXPECT_EQ(data, scratch.Path("data") + "/Pivh/Quarrowlight/Quarrowlightabc");
    EXPECT_EQ(PackageIniPath(data, "abc"), data + "/abc.qlconf");
    EXPECT_EQ(PackageInfoFolder(data, "abc"), data + "/abcQLInfo/");
    EXPECT_EQ(TaskResumePath(PackageInfoFolder(data, "abc"), "f.bin"), data + "/abcQLInfo/f.bin.qlinfo");
}

TEST(PackagePathsTest, DefaultSaveFolderPrefersTheRoomierDownloadFolder)
{
    ScratchFolder scratch;
    ScratchFileSystem files{scratch};
    EXPECT_EQ(ChooseDefaultSaveFolder(files), scratch.Path("home") + "/VRNH10192");
    // Same file system, same free space: the home folder stays.
    files.downloads = scratch.Path("downloads");
    EXPECT_EQ(ChooseDefaultSaveFolder(files), scratch.Path("home") + "/VRNH10192");
    // A relative home counts as no space at all.
    class RelativeHome : public ScratchFileSystem {
    public:
        using ScratchFileSystem::ScratchFileSystem;
        std::string HomeFolder() override { return "not/absolute"; }
    } relative{scratch};
    relative.downloads = scratch.Path("downloads");
    EXPECT_EQ(ChooseDefaultSaveFolder(relative), scratch.Path("downloads") + "/VRNH10192");
}

TEST(ConnectionOverrideTest, BudgetOutsideTenToTwoHundredBecomesFortyTwo)
{
    ScratchFolder scratch;
    const std::string path = scratch.Path("QuarrowlightTaskLink.ini");
    EXPECT_EQ(ReadConnectionBudget(path), 42u);
    const std::pair<const char *, uint32_t> cases[] = {
        {"9", 42}, {"10", 10}, {"200", 200}, {"201", 42}, {"-50", 42}, {"77abc", 77}, {"abc", 42}};
    for (const auto &[value, budget] : cases) {
        scratch.Write("QuarrowlightTaskLink.ini", std::string("[QuarrowlightTask]\nQuarrowlightTaskLink=") + value);
        EXPECT_EQ(ReadConnectionBudget(path), budget) << value;
    }
}

} // namespace
