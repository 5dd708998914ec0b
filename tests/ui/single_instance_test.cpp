// One window per package: a later start is answered by the first and
// leaves; a stale socket does not stop a first start; the command-line
// program's lock refuses the window; a flood is cut at 4 KiB.
#include <QFile>
#include <QLocalSocket>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/instance_lock.h"
#include "tests/platform/scratch_folder.h"
#include "tests/ui/qt_test_support.h"
#include "ui/single_instance.h"

namespace {

constexpr char kKey[] = "0123456789abcdef0123456789abcdef";

class SingleInstanceTest : public ::testing::Test {
protected:
    SingleInstanceTest()
    {
        const char *old = std::getenv("XDG_RUNTIME_DIR");
        saved = old != nullptr ? old : "";
        setenv("XDG_RUNTIME_DIR", scratch.Root().c_str(), 1);
    }
    ~SingleInstanceTest() override { setenv("XDG_RUNTIME_DIR", saved.c_str(), 1); }

    // Runs work on another thread while this one serves events.
    void Beside(const std::function<void()> &work)
    {
        std::atomic<bool> done{false};
        std::thread other([&] {
            work();
            done = true;
        });
        while (!done)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        other.join();
        QApplication::processEvents();
    }

    ScratchFolder scratch;
    std::string saved;
};

} // namespace

TEST_F(SingleInstanceTest, LaterStartIsAnsweredAndTheFirstComesForward)
{
    // A socket file left by a crashed first instance.
    const std::string socketPath = scratch.Path(std::string("Quarrowlight_") + kKey + ".sock");
    scratch.Write(socketPath.substr(socketPath.rfind('/') + 1), "stale");

    CSingleInstance first;
    std::string detail;
    ASSERT_EQ(first.Claim(kKey, detail), CSingleInstance::Outcome::First);
    EXPECT_TRUE(detail.empty()) << detail;
    EXPECT_EQ(first.SocketPath().toStdString(), socketPath);
    QStringList raised;
    QObject::connect(&first, &CSingleInstance::Raise, [&raised](const QString &folder) { raised << folder; });

    CSingleInstance::Outcome second = CSingleInstance::Outcome::Failed;
    Beside([&] {
        CSingleInstance later;
        std::string laterDetail;
        second = later.Claim(kKey, laterDetail);
    });
    EXPECT_EQ(second, CSingleInstance::Outcome::Answered);
    ASSERT_EQ(raised.size(), 1);
    EXPECT_FALSE(raised.front().isEmpty());
}

TEST_F(SingleInstanceTest, TheCommandLineProgramsLockRefusesTheWindow)
{
    platform::InstanceLock cli;
    ASSERT_EQ(cli.Acquire(std::string("Quarrowlight_") + kKey + ".lock"), platform::InstanceLock::Result::Acquired);
    CSingleInstance window;
    std::string detail;
    EXPECT_EQ(window.Claim(kKey, detail), CSingleInstance::Outcome::Unanswered);
    EXPECT_NE(detail.find("does not answer"), std::string::npos);
}

TEST_F(SingleInstanceTest, AFloodIsCutAtTheLimit)
{
    CSingleInstance first;
    std::string detail;
    ASSERT_EQ(first.Claim(kKey, detail), CSingleInstance::Outcome::First);
    QStringList raised;
    QObject::connect(&first, &CSingleInstance::Raise, [&raised](const QString &folder) { raised << folder; });
    QByteArray answer;
    const QString path = first.SocketPath();
    Beside([&] {
        QLocalSocket client;
        client.connectToServer(path);
        if (!client.waitForConnected(1000))
            return;
        client.write(QByteArray(3 * CSingleInstance::kMessageLimit, 'a'));
        client.waitForBytesWritten(1000);
        if (client.waitForReadyRead(1000))
            answer = client.readAll();
    });
    EXPECT_EQ(answer, "ok\n");
    ASSERT_EQ(raised.size(), 1);
    EXPECT_EQ(raised.front().size(), CSingleInstance::kMessageLimit);
}
