#include <gtest/gtest.h>

#include <string>

#include "engine/base/engine_clock.h"
#include "engine/base/engine_locks.h"
#include "engine/core/engine_state.h"
#include "engine/net/lan_group.h"
#include "engine/net/listen_settings.h"
#include "engine/net/listening_service.h"
#include "tests/engine/net/fake_stream_transport.h"
#include "tests/engine/net/loopback.h"

namespace {
class FakeLanGroup : public QLanGroup {
public:
    bool joined = false;
    bool joinWorks = true;
    int joins = 0;
    int leaves = 0;

    bool IsJoined() override { return joined; }
    bool Join() override
    {
        ++joins;
        joined = joinWorks;
        return joinWorks;
    }
    void Leave() override
    {
        ++leaves;
        joined = false;
    }
};

struct LanGroupRegistered {
    explicit LanGroupRegistered(QLanGroup *group) { SetLanGroup(group); }
    ~LanGroupRegistered() { SetLanGroup(nullptr); }
};

class ListenerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ListeningService().Stop(true);
        port = ClosedLoopbackPort();
        ASSERT_NE(port, 0);
        SetEngineListenPort(port);
        SetListenEnabled(true);
        engineIdle = true;
    }

    void TearDown() override
    {
        ListeningService().Stop(true);
        SetListenEnabled(false);
        SetEngineListenPort(0);
        engineIdle = true;
    }

    // Connects to the listener and waits until it has the connection queued.
    void ConnectTo(QSocket &client)
    {
        ASSERT_TRUE(client.Connect(Loopback(), port, true));
        QAutoLock hold(RegistryLock());
        ASSERT_TRUE(ListeningService().TcpListener().WaitReadable(5));
    }

    std::unique_ptr<QSocket> AcceptOne()
    {
        QAutoLock hold(RegistryLock());
        return ListeningService().TcpListener().Accept();
    }

    int32_t port = 0;
};
} // namespace

TEST_F(ListenerTest, OpensOnTheConfiguredPortAndPublishesIt)
{
    TListenerStatus status;
    ASSERT_TRUE(ListeningService().Refresh(status));
    QListeningService &service = ListeningService();
    EXPECT_EQ(service.PublishedPort(), port);
    EXPECT_EQ(service.StatusText(), DottedText(service.PublishedAddress()));
    EXPECT_EQ(status.port, port);
    EXPECT_EQ(status.address, service.PublishedAddress());
    EXPECT_EQ(status.text, DottedText(service.PublishedAddress()) + " : " + std::to_string(port));

    QSocket client;
    ConnectTo(client);
    auto accepted = AcceptOne();
    ASSERT_NE(accepted, nullptr);
    EXPECT_EQ(accepted->RemoteAddress(), Loopback());
    EXPECT_FALSE(accepted->IsOverUdp());
}

TEST_F(ListenerTest, LaterRefreshesKeepTheOpenListener)
{
    TListenerStatus first;
    TListenerStatus second;
    ASSERT_TRUE(ListeningService().Refresh(first));
    QSocket client;
    ConnectTo(client);
    ASSERT_TRUE(ListeningService().Refresh(second));
    EXPECT_EQ(second.text, first.text);
    // The address check after 180 s finds the same address.
    AdvanceEngineClock(181);
    ASSERT_TRUE(ListeningService().Refresh(first));
    EXPECT_NE(AcceptOne(), nullptr); // the queued connection survived
}

TEST_F(ListenerTest, SwitchingListeningOffClosesAndDropsWaitingConnections)
{
    TListenerStatus status;
    ASSERT_TRUE(ListeningService().Refresh(status));
    QSocket client;
    ConnectTo(client);
    {
        QAutoLock hold(RegistryLock());
        ListeningService().Pending().push_back(ListeningService().TcpListener().Accept());
    }
    SetListenEnabled(false);
    EXPECT_FALSE(ListeningService().Refresh(status));
    {
        QAutoLock hold(RegistryLock());
        EXPECT_FALSE(ListeningService().TcpListener().HasHandle());
        EXPECT_TRUE(ListeningService().Pending().empty());
    }
    EXPECT_EQ(status.text, "Service Disabled!");
    EXPECT_EQ(status.port, 0);
    EXPECT_EQ(ListeningService().PublishedPort(), 0);
    EXPECT_EQ(ListeningService().StatusText(), "");
    QSocket late;
    EXPECT_FALSE(late.Connect(Loopback(), port, true));
}

TEST_F(ListenerTest, StopDropsWaitingConnectionsOnlyWhenAsked)
{
    TListenerStatus status;
    ASSERT_TRUE(ListeningService().Refresh(status));
    QSocket client;
    ConnectTo(client);
    {
        QAutoLock hold(RegistryLock());
        ListeningService().Pending().push_back(ListeningService().TcpListener().Accept());
    }
    ListeningService().Stop(false);
    {
        QAutoLock hold(RegistryLock());
        EXPECT_EQ(ListeningService().Pending().size(), 1u);
    }
    ListeningService().Stop(true);
    QAutoLock hold(RegistryLock());
    EXPECT_TRUE(ListeningService().Pending().empty());
}

TEST_F(ListenerTest, ABusyPortFailsTheRefresh)
{
    QSocket blocker;
    ASSERT_TRUE(blocker.Listen(port, Loopback()));
    TListenerStatus status;
    EXPECT_FALSE(ListeningService().Refresh(status));
    EXPECT_EQ(ListeningService().PublishedPort(), 0);
    EXPECT_EQ(status.port, 0);
    blocker.Close();
    EXPECT_TRUE(ListeningService().Refresh(status));
    EXPECT_EQ(status.port, port);
}

TEST(ListenSettings, AnUnsetOrImpossiblePortMeans8080)
{
    SetEngineListenPort(0);
    EXPECT_EQ(EffectiveListenPort(), 8080);
    SetEngineListenPort(-1);
    EXPECT_EQ(EffectiveListenPort(), 8080);
    SetEngineListenPort(65536);
    EXPECT_EQ(EffectiveListenPort(), 8080);
    SetEngineListenPort(6881);
    EXPECT_EQ(EffectiveListenPort(), 6881);
    EXPECT_EQ(EngineListenPort(), 6881);
    SetEngineListenPort(0);
}

TEST_F(ListenerTest, TheStreamTransportFollowsThePublishedAddressAndTheIdleFlag)
{
    FakeStreamTransport transport;
    TransportRegistered registered(&transport);
    TListenerStatus status;
    ASSERT_TRUE(ListeningService().Refresh(status));
    {
        QAutoLock hold(RegistryLock());
        EXPECT_FALSE(ListeningService().UdpListener().HasHandle()); // idle: the transport is off
    }
    ASSERT_EQ(transport.told.size(), 1u);
    EXPECT_EQ(transport.told[0].first, ListeningService().PublishedAddress());
    EXPECT_EQ(transport.told[0].second, port);

    engineIdle = false;
    ASSERT_TRUE(ListeningService().Refresh(status));
    {
        QAutoLock hold(RegistryLock());
        QSocket &udp = ListeningService().UdpListener();
        EXPECT_TRUE(udp.IsListening());
        EXPECT_TRUE(udp.IsOverUdp());
    }
    EXPECT_EQ(transport.boundTo.port, port);
    EXPECT_EQ(transport.told.size(), 1u); // nothing changed, nothing told

    // Closing the transport's listener while the engine is busy leaves the
    // transport alone; while it is idle, the transport is reset.
    ListeningService().Stop(true);
    EXPECT_EQ(transport.resets, 0);
    ASSERT_TRUE(ListeningService().Refresh(status));
    engineIdle = true;
    ListeningService().Stop(true);
    EXPECT_EQ(transport.resets, 1);
    EXPECT_TRUE(transport.open.empty());
}

TEST_F(ListenerTest, TheLanGroupIsJoinedByRefreshAndLeftByStop)
{
    FakeLanGroup group;
    LanGroupRegistered registered(&group);
    TListenerStatus status;
    ASSERT_TRUE(ListeningService().Refresh(status));
    ASSERT_TRUE(ListeningService().Refresh(status));
    EXPECT_EQ(group.joins, 1);
    ListeningService().Stop(true);
    EXPECT_EQ(group.leaves, 1);
    group.joinWorks = false;
    EXPECT_FALSE(ListeningService().Refresh(status));
}
