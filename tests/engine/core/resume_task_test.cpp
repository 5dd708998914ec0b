// A task that keeps a state file: stopped part-way, built again in a new
// task object, it fetches only what is missing and ends with the same bytes.
#include <filesystem>
#include <gtest/gtest.h>

#include "engine/core/work_thread.h"
#include "engine/net/peer_id.h"
#include "engine/storage/pieces.h"
#include "tests/platform/scratch_folder.h"

namespace {

constexpr int32_t kBlock = 16384;

class ResumingTask : public TWorkThread {
public:
    explicit ResumingTask(const ScratchFolder &scratch)
    {
        targetFile = scratch.Path("data.bin");
        folder = scratch.Root().string() + "/";
        resumePath = scratch.Path("data.bin.qlinfo");
        secondResumePath = resumePath + "df";
    }
    ~ResumingTask() override
    {
        Stop();
        Reset(true, true);
    }

    // The size as the first server would report it.
    bool MakeDataFile(int64_t size)
    {
        auto address = TRef<TPeerId>::Adopt(new TPeerId);
        address->Parts().serverSize = size;
        OnServerSize(*address);
        return FileSize() == size;
    }
    // The worker's way out after a stop, on the test's thread.
    void StopAsTheWorkerDoes()
    {
        CloseDataFile(false);
        SaveBlockSpill();
        SaveResumeRecord();
    }
    // Blocks of [from, to); how many the task still needed.
    int Deliver(const std::string &content, int64_t from, int64_t to)
    {
        int needed = 0;
        for (int64_t at = from; at < to; at += kBlock) {
            bool wanted = false;
            const auto length = static_cast<int32_t>(std::min<int64_t>(kBlock, content.size() - at));
            WriteBlock(at / kBlock, length, reinterpret_cast<const uint8_t *>(content.data()) + at, nullptr, &wanted);
            needed += wanted ? 1 : 0;
        }
        return needed;
    }
    using TWorkWithPieces::pieces;
};

std::string Content(size_t length)
{
    std::string bytes(length, '\0');
    uint32_t state = 99;
    for (char &c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

TEST(ResumeTaskTest, StoppedTaskContinuesWithoutFetchingCompletePiecesAgain)
{
    ScratchFolder scratch;
    const std::string content = Content(10 * 65536 + 1000);
    const int64_t half = 5 * 65536;
    {
        ResumingTask task(scratch);
        ASSERT_TRUE(task.MakeDataFile(static_cast<int64_t>(content.size())));
        EXPECT_EQ(task.Deliver(content, 0, half), half / kBlock);
        task.StopAsTheWorkerDoes();
        ASSERT_TRUE(std::filesystem::exists(scratch.Path("data.bin.qlinfo")));
    }
    ResumingTask task(scratch);
    task.LoadResumeRecord();
    ASSERT_TRUE(task.MakeDataFile(static_cast<int64_t>(content.size())));
    EXPECT_EQ(task.pieces->VerifiedBytes(), half);
    EXPECT_EQ(task.haveMap.at(0), 0xF8) << "the have-map follows the restored pieces";
    EXPECT_EQ(task.Deliver(content, 0, static_cast<int64_t>(content.size())), 6 * 4 - 3)
        << "only the blocks of the five missing pieces";
    EXPECT_TRUE(task.CheckComplete(0) || task.completed);
    task.CloseDataFile(true);
    task.DeleteResumeRecord();
    EXPECT_TRUE(scratch.Read("data.bin") == content);
    EXPECT_FALSE(std::filesystem::exists(scratch.Path("data.bin.qlinfo")));
    EXPECT_FALSE(std::filesystem::exists(scratch.Path("data.bin.qltmp")));
}

TEST(ResumeTaskTest, EverySaveDescribesThePresentAndACrashLosesOnlyWhatCameAfter)
{
    ScratchFolder scratch;
    const std::string content = Content(8 * 65536);
    {
        ResumingTask task(scratch);
        ASSERT_TRUE(task.MakeDataFile(static_cast<int64_t>(content.size())));
        task.SaveResumeRecord(); // right after the start: nothing yet
        task.Deliver(content, 0, 2 * 65536);
        task.SaveResumeRecord(); // the periodic save
        task.Deliver(content, 2 * 65536, 4 * 65536);
        task.FlushDataFile();
        // Gone without a stop: the last save is all that speaks for the data.
    }
    ResumingTask task(scratch);
    task.LoadResumeRecord();
    ASSERT_TRUE(task.MakeDataFile(static_cast<int64_t>(content.size())));
    EXPECT_EQ(task.pieces->VerifiedBytes(), 2 * 65536);
    EXPECT_EQ(task.Deliver(content, 0, static_cast<int64_t>(content.size())), 6 * 4);
    task.CloseDataFile(true);
    EXPECT_TRUE(scratch.Read("data.bin") == content);
}

TEST(ResumeTaskTest, StopInTheFirstSecondLeavesARecordThatContinuingLoads)
{
    ScratchFolder scratch;
    const std::string content = Content(3 * 65536);
    {
        ResumingTask task(scratch);
        ASSERT_TRUE(task.MakeDataFile(static_cast<int64_t>(content.size())));
        task.StopAsTheWorkerDoes();
    }
    TTaskStateValues values;
    ASSERT_TRUE(LoadStateFile(scratch.Path("data.bin.qlinfo"), values));
    EXPECT_FALSE(values.bits.empty());
    ResumingTask task(scratch);
    task.LoadResumeRecord();
    EXPECT_EQ(task.stateValues.bits, values.bits);
    ASSERT_TRUE(task.MakeDataFile(static_cast<int64_t>(content.size())));
    EXPECT_EQ(task.pieces->VerifiedBytes(), 0);
    EXPECT_TRUE(task.StartupCheckFinished());
}

TEST(ResumeTaskTest, ADifferentSizeMeansADifferentFileAndNothingIsTaken)
{
    ScratchFolder scratch;
    const std::string content = Content(4 * 65536);
    {
        ResumingTask task(scratch);
        ASSERT_TRUE(task.MakeDataFile(static_cast<int64_t>(content.size())));
        task.Deliver(content, 0, 2 * 65536);
        task.StopAsTheWorkerDoes();
    }
    ResumingTask task(scratch);
    task.LoadResumeRecord();
    ASSERT_TRUE(task.MakeDataFile(static_cast<int64_t>(content.size()) + 65536));
    EXPECT_EQ(task.pieces->VerifiedBytes(), 0) << "without piece hashes nothing can be checked";
}

} // namespace
