// The single-instance lock: held while its owner lives, free again however
// the owner ends, and never taken through a planted link.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <unistd.h>

#include "platform/child_process.h"
#include "platform/instance_lock.h"
#include "tests/platform/scratch_folder.h"

namespace {

using platform::InstanceLock;
using Result = InstanceLock::Result;

// Sets an environment variable for one test and puts the old value back.
class ScopedVariable {
public:
    ScopedVariable(const char *name, const std::string &value) : name(name)
    {
        if (const char *old = std::getenv(name))
            saved = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable()
    {
        if (saved)
            setenv(name, saved->c_str(), 1);
        else
            unsetenv(name);
    }
    ScopedVariable(const ScopedVariable &) = delete;
    ScopedVariable &operator=(const ScopedVariable &) = delete;

private:
    const char *name;
    std::optional<std::string> saved;
};

// A forked child that takes the lock, tells the parent the outcome, and
// waits until it is killed; killed by its pid at the latest on destruction.
class LockHoldingChild {
public:
    explicit LockHoldingChild(const std::string &name)
    {
        int channel[2];
        if (pipe(channel) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            close(channel[0]);
            InstanceLock lock;
            const char outcome = lock.Acquire(name) == Result::Acquired ? 'A' : 'F';
            if (write(channel[1], &outcome, 1) != 1)
                _exit(1);
            for (;;)
                pause();
        }
        close(channel[1]);
        char outcome = 0;
        if (pid > 0 && read(channel[0], &outcome, 1) == 1)
            acquired = outcome == 'A';
        close(channel[0]);
    }
    ~LockHoldingChild() { Kill(); }
    LockHoldingChild(const LockHoldingChild &) = delete;
    LockHoldingChild &operator=(const LockHoldingChild &) = delete;

    bool Acquired() const { return acquired; }
    // Ends the child as a crash would: no chance to release anything.
    void Kill()
    {
        if (pid > 0)
            platform::KillChildProcess(pid);
        pid = -1;
    }

private:
    int pid = -1;
    bool acquired = false;
};

class InstanceLockTest : public ::testing::Test {
protected:
    ScratchFolder scratch;
    ScopedVariable runtime{"XDG_RUNTIME_DIR", scratch.Root().string()};
};

TEST_F(InstanceLockTest, HeldWhileTheFirstOwnerLivesAndFreeAfterIt)
{
    auto first = std::make_unique<InstanceLock>();
    ASSERT_EQ(first->Acquire("pkg.lock"), Result::Acquired);
    EXPECT_EQ(first->Path(), scratch.Path("pkg.lock"));
    EXPECT_TRUE(std::filesystem::exists(scratch.Path("pkg.lock")));
    EXPECT_EQ(first->Acquire("pkg.lock"), Result::Acquired) << "asking again keeps the lock";

    InstanceLock second;
    EXPECT_EQ(second.Acquire("pkg.lock"), Result::HeldByAnother);
    InstanceLock other;
    EXPECT_EQ(other.Acquire("other.lock"), Result::Acquired) << "each package has its own lock";

    first.reset();
    EXPECT_EQ(second.Acquire("pkg.lock"), Result::Acquired) << "a refused object may try again";
    InstanceLock third;
    EXPECT_EQ(third.Acquire("pkg.lock"), Result::HeldByAnother);
}

TEST_F(InstanceLockTest, AKilledHolderLeavesTheLockFree)
{
    LockHoldingChild child("pkg.lock");
    ASSERT_TRUE(child.Acquired());
    InstanceLock lock;
    EXPECT_EQ(lock.Acquire("pkg.lock"), Result::HeldByAnother) << "another process holds it";

    child.Kill();
    EXPECT_EQ(lock.Acquire("pkg.lock"), Result::Acquired);
}

TEST_F(InstanceLockTest, AStartedProgramDoesNotKeepTheLock)
{
    // A launched installer outlives the front-end; the next instance must
    // not find the lock held by it.
    auto owner = std::make_unique<InstanceLock>();
    ASSERT_EQ(owner->Acquire("pkg.lock"), Result::Acquired);
    const int program = platform::StartChildProcess({"/bin/sleep", "30"});
    ASSERT_GT(program, 0);
    owner.reset();

    InstanceLock next;
    EXPECT_EQ(next.Acquire("pkg.lock"), Result::Acquired);
    platform::KillChildProcess(program);
}

TEST_F(InstanceLockTest, RefusesLinksAndNamesOutsideTheFolder)
{
    const std::string elsewhere = scratch.Path("elsewhere");
    std::filesystem::create_symlink(elsewhere, scratch.Path("dangling.lock"));
    InstanceLock lock;
    EXPECT_EQ(lock.Acquire("dangling.lock"), Result::Failed);
    EXPECT_FALSE(std::filesystem::exists(elsewhere)) << "the link's target must not be created";

    scratch.Write("victim", "keep");
    std::filesystem::create_symlink(scratch.Path("victim"), scratch.Path("planted.lock"));
    EXPECT_EQ(lock.Acquire("planted.lock"), Result::Failed);
    EXPECT_EQ(scratch.Read("victim"), "keep");

    std::filesystem::create_directory(scratch.Path("sub"));
    for (const char *name : {"", "sub/x.lock", "/x.lock", ".", "..", "sub"})
        EXPECT_EQ(lock.Acquire(name), Result::Failed) << "'" << name << "'";
    EXPECT_FALSE(std::filesystem::exists(scratch.Path("sub/x.lock")));

    EXPECT_EQ(lock.Acquire("fine.lock"), Result::Acquired) << "failures leave the object usable";
}

TEST_F(InstanceLockTest, FolderChoice)
{
    {
        ScopedVariable missing("XDG_RUNTIME_DIR", scratch.Path("gone"));
        InstanceLock lock;
        EXPECT_EQ(lock.Acquire("pkg.lock"), Result::Failed) << "a missing runtime folder is not created";
    }
    // A relative runtime folder is ignored in favour of TEMP.
    ScopedVariable relative("XDG_RUNTIME_DIR", "relative/run");
    ScopedVariable temp("TMPDIR", scratch.Root().string() + "/");
    InstanceLock lock;
    EXPECT_EQ(lock.Acquire("pkg.lock"), Result::Acquired);
    EXPECT_EQ(lock.Path(), scratch.Path("pkg.lock"));
}

} // namespace
