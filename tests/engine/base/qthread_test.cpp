// ctest-labels: threading
#include "engine/base/qthread.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

#include "platform/tick.h"

namespace {

using Clock = std::chrono::steady_clock;

// A body that loops until stopped, counting its rounds.
class LoopThread : public QThread {
public:
    ~LoopThread() override { Stop(); }
    void Run() override
    {
        while (!CheckStop()) {
            ++rounds;
            platform::SleepMs(1);
        }
    }
    void Refresh() override {}
    std::atomic<int> rounds{0};
};

class FlagAttachment : public QThreadAttachment {
public:
    explicit FlagAttachment(std::atomic<bool> &deleted) : deleted(deleted) {}
    ~FlagAttachment() override { deleted = true; }
    std::atomic<bool> &deleted;
};

TEST(QThreadTest, StartRunsTheBodyAndStopEndsIt)
{
    LoopThread thread;
    EXPECT_TRUE(thread.Stop()) << "stopping an idle thread succeeds at once";
    std::atomic<bool> deleted{false};
    ASSERT_TRUE(thread.Start("test", new FlagAttachment(deleted)));
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_NE(thread.ThreadId(), 0u);

    FlagAttachment kept(deleted);
    EXPECT_FALSE(thread.Start("again", &kept)) << "a running thread is left alone";
    int before = thread.rounds.load();
    platform::SleepMs(20);
    EXPECT_GT(thread.rounds.load(), before) << "the running body must be undisturbed";

    EXPECT_TRUE(thread.Stop());
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.ThreadId(), 0u);
    EXPECT_TRUE(deleted.load()) << "the attached object goes with the run";
}

TEST(QThreadTest, RestartCountsGenerations)
{
    LoopThread thread;
    ASSERT_TRUE(thread.Start("one"));
    int32_t first = thread.Generation();
    uint32_t firstId = thread.ThreadId();
    ASSERT_TRUE(thread.Stop());
    ASSERT_TRUE(thread.Start("two"));
    EXPECT_EQ(thread.Generation(), first + 1);
    EXPECT_NE(thread.ThreadId(), firstId) << "thread ids are never reused";
    EXPECT_TRUE(thread.Stop());
}

class ShortThread : public QThread {
public:
    ~ShortThread() override { Stop(); }
    void Run() override { ran = true; }
    void Refresh() override {}
    std::atomic<bool> ran{false};
};

TEST(QThreadTest, StartReportsSuccessForABodyThatAlreadyFinished)
{
    ShortThread thread;
    EXPECT_TRUE(thread.Start("short"));
    EXPECT_TRUE(thread.ran.load());
}

class SelfStoppingThread : public QThread {
public:
    ~SelfStoppingThread() override { Stop(); }
    void Run() override
    {
        selfStop = Stop() ? 1 : 0;
        while (!CheckStop())
            platform::SleepMs(1);
    }
    void Refresh() override {}
    std::atomic<int> selfStop{-1};
};

TEST(QThreadTest, StopFromInsideTheBodyReturnsFalseWithoutWaiting)
{
    SelfStoppingThread thread;
    ASSERT_TRUE(thread.Start("self"));
    while (thread.selfStop.load() < 0)
        platform::SleepMs(1);
    EXPECT_EQ(thread.selfStop.load(), 0);
    EXPECT_TRUE(thread.Stop());
}

TEST(QThreadTest, PausedBodyWaitsInCheckStopUntilResumedOrStopped)
{
    LoopThread thread;
    ASSERT_TRUE(thread.Start("pause"));
    EXPECT_TRUE(thread.SetPause(true));
    EXPECT_TRUE(thread.IsPaused());
    platform::SleepMs(30);
    int frozen = thread.rounds.load();
    platform::SleepMs(60);
    EXPECT_EQ(thread.rounds.load(), frozen) << "a paused body must not run";

    EXPECT_TRUE(thread.SetPause(false));
    platform::SleepMs(60);
    EXPECT_GT(thread.rounds.load(), frozen);

    EXPECT_TRUE(thread.SetPause(true));
    auto started = Clock::now();
    EXPECT_TRUE(thread.Stop());
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(1500)) << "stop ends a paused body within a second";
    EXPECT_FALSE(thread.SetPause(true)) << "no thread, nothing to pause";
    EXPECT_FALSE(thread.IsPaused());
}

class SleepingThread : public QThread {
public:
    ~SleepingThread() override { Stop(); }
    void Run() override
    {
        SleepSeconds(5);
        slept = true;
    }
    void Refresh() override {}
    std::atomic<bool> slept{false};
};

TEST(QThreadTest, SleepSecondsEndsEarlyOnStop)
{
    SleepingThread thread;
    ASSERT_TRUE(thread.Start("sleep"));
    platform::SleepMs(50);
    auto started = Clock::now();
    EXPECT_TRUE(thread.Stop());
    EXPECT_TRUE(thread.slept.load());
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(1500));
}

class ThrowingThread : public QThread {
public:
    ~ThrowingThread() override { Stop(); }
    void Run() override
    {
        Lock();
        Lock();
        throw std::runtime_error("body failed while holding its lock");
    }
    void Refresh() override {}
};

TEST(QThreadTest, ExceptionEndsTheRunAndReleasesTheOwnLock)
{
    ThrowingThread thread;
    thread.Start("throw");
    for (int i = 0; i < 200 && thread.ThreadId() != 0; ++i)
        platform::SleepMs(5);
    EXPECT_EQ(thread.ThreadId(), 0u);
    // The dead body's levels are gone: another thread can take the lock.
    std::thread([&] {
        EXPECT_TRUE(thread.OwnLock().TryLock());
        thread.OwnLock().Unlock();
    }).join();
    EXPECT_TRUE(thread.Stop());
}

TEST(QThreadTest, RequestStopAndHasEndedStopWithoutWaiting)
{
    LoopThread thread;
    uint32_t id = 0;
    EXPECT_FALSE(thread.RequestStop(id)) << "no thread yet";
    EXPECT_EQ(id, 0u);
    ASSERT_TRUE(thread.Start("request"));
    ASSERT_TRUE(thread.RequestStop(id));
    EXPECT_NE(id, 0u);
    int polls = 0;
    while (!thread.HasEnded(id) && polls < 400) {
        platform::SleepMs(5);
        ++polls;
    }
    EXPECT_TRUE(thread.HasEnded(id));
    EXPECT_FALSE(thread.IsRunning());
}

} // namespace
