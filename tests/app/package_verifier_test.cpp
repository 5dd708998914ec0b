#include "app/check_progress.h"
#include "app/file_md5.h"
#include "app/package_state.h"
#include "app/package_verifier.h"
#include "tests/app/recording_verification_host.h"
#include "tests/app/scripted_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Event = RecordingVerificationHost::Event;

class PackageVerifierTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < kPackageFileCount; ++i)
            host.manifest.md5[i] =
                FileMd5(files, host.FilePath(i), [](uint32_t) {}, [] { return false; }).hex;
        host.state = PACKAGE_MD5_CHECKING;
    }
    void Run()
    {
        CPackageVerifier verifier(host, status, host.manifest, files, clock, [] { return false; });
        verifier.Run();
    }
    std::vector<std::string> Codes()
    {
        std::vector<std::string> codes;
        for (const Event &event : host.events)
            codes.push_back(event.code);
        return codes;
    }
    void Damage(int index) { host.WriteFile(index, std::string(host.good[index].size(), 'D')); }

    ScratchFolder scratch;
    ScriptedFiles files{scratch};
    FakeAppClock clock;
    RecordingVerificationHost host{scratch};
    TVerificationStatus status;
};

TEST_F(PackageVerifierTest, SoundPackageIsVerifiedWithoutRepairs)
{
    Run();
    EXPECT_EQ(Codes(), std::vector<std::string>{"11100004"});
    EXPECT_EQ(host.state, PACKAGE_CHECK_FINISHED);
    EXPECT_FALSE(status.mismatchSeen);
    EXPECT_TRUE(host.stopped.empty());
    EXPECT_EQ(host.installPosts, 0);
    EXPECT_EQ(status.checkIndex, 5);
}

TEST_F(PackageVerifierTest, InstallRequestIsPostedAfterASuccessfulCheck)
{
    status.installAfterCheck = true;
    Run();
    EXPECT_EQ(host.installPosts, 1);
}

TEST_F(PackageVerifierTest, DamagedVolumeIsRepairedOnceAndTheCheckGoesOn)
{
    Damage(2);
    const std::string damagedDigest =
        FileMd5(files, host.FilePath(2), [](uint32_t) {}, [] { return false; }).hex;
    Run();
    ASSERT_EQ(host.events.size(), 3u);
    EXPECT_EQ(host.events[0], (Event{"11500201", "f2.bin", "MD5 unmatched (" + damagedDigest + ")"}));
    EXPECT_EQ(host.events[1], (Event{"11100003", "f2.bin", "修复次数：1"}));
    EXPECT_EQ(host.events[2], (Event{"11100004", "", ""}));
    EXPECT_EQ(host.stopped, std::vector<int>{2});
    EXPECT_EQ(host.stamped, std::vector<int>{2});
    EXPECT_EQ(host.states, (std::vector<uint32_t>{PACKAGE_CHECK_RECOVER, PACKAGE_MD5_CHECKING, PACKAGE_CHECK_FINISHED}));
    EXPECT_TRUE(status.mismatchSeen);
    EXPECT_EQ(status.LastActualMd5(), "");
    EXPECT_FALSE(status.repairFailed);
}

TEST_F(PackageVerifierTest, FileMatchingOnlyInTheFifthPassCountsFive)
{
    Damage(0);
    host.repair[0].badRepairs = 4;
    Run();
    EXPECT_EQ(Codes(), (std::vector<std::string>{"11500201", "11100003", "11100004"}));
    EXPECT_EQ(host.events[1].text, "修复次数：5");
    EXPECT_EQ(host.stamped.size(), 5u);
    EXPECT_EQ(host.state, PACKAGE_CHECK_FINISHED);
}

TEST_F(PackageVerifierTest, FileThatNeverMatchesFailsAfterFivePasses)
{
    Damage(4);
    host.repair[4].badRepairs = 100;
    Run();
    EXPECT_EQ(Codes(), (std::vector<std::string>{"11500201", "11990501"}));
    EXPECT_EQ(host.events[1], (Event{"11990501", "f4.bin", "修复次数：5"}));
    EXPECT_EQ(host.messages, std::vector<std::string>{kRepairFailedText});
    EXPECT_EQ(host.state, PACKAGE_FAILED);
    EXPECT_EQ(host.stopped.size(), 5u);
    // The files after it were never looked at.
    EXPECT_EQ(status.checkIndex, 4);
}

TEST_F(PackageVerifierTest, MissingFileIsTreatedAsDamaged)
{
    host.RemoveFile(1);
    Run();
    EXPECT_EQ(host.events[0], (Event{"11500201", "f1.bin", "MD5 unmatched ()"}));
    EXPECT_EQ(host.events[1], (Event{"11100003", "f1.bin", "修复次数：1"}));
    EXPECT_EQ(host.state, PACKAGE_CHECK_FINISHED);
}

TEST_F(PackageVerifierTest, UnreadableFileNeverMatchesAnEmptyDigest)
{
    // A damaged manifest slot leaves the digest empty; an unreadable file
    // has an empty digest too, and the two must not count as equal.
    host.manifest.md5[3].clear();
    host.RemoveFile(3);
    host.repair[3].reopenFailures = 100;
    Run();
    EXPECT_EQ(host.state, PACKAGE_FAILED);
}

TEST_F(PackageVerifierTest, ReopenIsTriedFourTimesThenTheCheckEndsAsFailed)
{
    Damage(3);
    host.repair[3].reopenFailures = 4;
    Run();
    EXPECT_EQ(host.reopenAttempts, 4);
    EXPECT_TRUE(status.repairFailed);
    EXPECT_EQ(host.messages, std::vector<std::string>{"修复出错，请尝试重新启动下载器"});
    EXPECT_EQ(host.state, PACKAGE_FAILED);
    EXPECT_EQ(Codes(), std::vector<std::string>{"11500201"});
}

TEST_F(PackageVerifierTest, ThirdReopenAttemptThatWorksRepairs)
{
    Damage(3);
    host.repair[3].reopenFailures = 3;
    Run();
    EXPECT_EQ(host.reopenAttempts, 4);
    EXPECT_FALSE(status.repairFailed);
    EXPECT_EQ(host.state, PACKAGE_CHECK_FINISHED);
}

TEST_F(PackageVerifierTest, RepairWaitsForTheFinalNameAfterFullProgress)
{
    Damage(5);
    host.repair[5].queriesUntilDone = 3;
    host.repair[5].queriesUntilRenamed = 4;
    Run();
    EXPECT_EQ(host.state, PACKAGE_CHECK_FINISHED);
    // Once a second, through the clock.
    EXPECT_EQ(host.queries, 7);
    EXPECT_EQ(clock.sleptMs, 7000u);
    EXPECT_EQ(status.repairSpeed, 2048u);
    EXPECT_EQ(status.repairProgress, 10000u);
}

TEST_F(PackageVerifierTest, VerifyFileKeepsTheFirstDigestOnly)
{
    Damage(1);
    CPackageVerifier verifier(host, status, host.manifest, files, clock, [] { return false; });
    EXPECT_FALSE(verifier.VerifyFile(1, true));
    const std::string first = status.LastActualMd5();
    EXPECT_EQ(first.size(), 32u);
    host.WriteFile(1, "other wrong bytes");
    EXPECT_FALSE(verifier.VerifyFile(1, false));
    EXPECT_EQ(status.LastActualMd5(), first);
    EXPECT_TRUE(verifier.VerifyFile(0, true));
    EXPECT_EQ(status.checkIndex, 0);
}

TEST_F(PackageVerifierTest, StopEndsTheWorkWithoutAFinalState)
{
    Damage(0);
    int asked = 0;
    CPackageVerifier verifier(host, status, host.manifest, files, clock, [&] { return ++asked > 3; });
    verifier.Run();
    EXPECT_TRUE(host.messages.empty());
    EXPECT_NE(host.state, PACKAGE_CHECK_FINISHED);
    EXPECT_NE(host.state, PACKAGE_FAILED);
}

TEST(CheckProgressTest, FilesWeighByWholeMebibytes)
{
    PackageManifest manifest;
    LoadManifest(manifest);
    // 17 + 4 × 1800 + 344 MiB.
    const uint64_t total = 17 + 4 * 1800 + 344;
    EXPECT_EQ(GetCheckProgress(manifest, 0, 0), 0u);
    EXPECT_EQ(GetCheckProgress(manifest, 0, 5000), 17u * 5000 / total);
    EXPECT_EQ(GetCheckProgress(manifest, 2, 0), (17u + 1800) * 10000 / total);
    EXPECT_EQ(GetCheckProgress(manifest, 5, 9999), ((total - 344) * 10000 + 344 * 9999) / total);
    // The last short piece may pass 10000; it counts as done.
    EXPECT_EQ(GetCheckProgress(manifest, 5, 10040), 10000u);
    EXPECT_EQ(GetCheckProgress(manifest, 6, 0), 10000u);
}

TEST(CheckProgressTest, PackageOfSmallFilesDoesNotDivideByZero)
{
    PackageManifest manifest;
    for (uint64_t &size : manifest.size)
        size = 1000;
    EXPECT_EQ(GetCheckProgress(manifest, 0, 0), 0u);
    EXPECT_EQ(GetCheckProgress(manifest, 3, 5000), (3u * 10000 + 5000) / 6);
    EXPECT_EQ(GetCheckProgress(manifest, 6, 0), 10000u);
}

} // namespace
