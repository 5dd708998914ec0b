// ctest-labels: threading
// The listen port and its mapping, from the controller's start-up to its
// exit, over a scripted gateway: the workers are real threads, the gateway
// and the minute-long waits are not.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "app/port_mapper.h"
#include "platform/network_interfaces.h"
#include "tests/app/controller_doubles.h"

namespace {

uint32_t Net(uint8_t a, uint8_t b, uint8_t c, uint8_t d)
{
    const uint8_t bytes[4] = {a, b, c, d};
    uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

class ScriptedGateway : public IUpnpGateway {
public:
    int32_t Find(TGatewayInfo &info) override
    {
        std::lock_guard<std::mutex> hold(lock);
        info = answer;
        return findResult;
    }
    int32_t AddPortMapping(const TPortMappingRequest &request, uint32_t leaseSeconds) override
    {
        std::lock_guard<std::mutex> hold(lock);
        added.push_back(request);
        leases.push_back(leaseSeconds);
        if (addResults.empty())
            return 0;
        const int32_t code = addResults.front();
        addResults.erase(addResults.begin());
        return code;
    }
    int32_t DeletePortMapping(const TPortMappingRequest &request) override
    {
        std::lock_guard<std::mutex> hold(lock);
        deleted.push_back(request);
        return 0;
    }

    std::mutex lock;
    TGatewayInfo answer{"Home Router", "10.77.0.2"};
    int32_t findResult = 0;
    std::vector<int32_t> addResults; // answered in turn, then 0
    std::vector<TPortMappingRequest> added;
    std::vector<uint32_t> leases;
    std::vector<TPortMappingRequest> deleted;
};

// Waits for the gate only as long as it takes the search to end (a stop
// does not cut it short, so a test can join the workers by stopping), then
// goes on or times out without the minute; the lease sleeps return at once,
// after as many renewals as asked for.
class InstantGate : public CMappingGate {
public:
    EWait WaitOpen(uint32_t ms) override
    {
        waitedMs = ms;
        // The search ends within milliseconds, once the controller's start-up
        // has let go of its lock; the limit only guards the test. A time-out
        // comes after it too, so that what it reports follows the start-up's
        // reports rather than racing them.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!IsOpen() && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return IsOpen() && !timeOut ? EWait::Opened : EWait::TimedOut;
    }
    bool SleepUnlessStopped(uint32_t ms) override
    {
        sleptMs.push_back(ms);
        return renewals-- <= 0;
    }

    bool timeOut = false;
    int renewals = 0;
    uint32_t waitedMs = 0;
    std::vector<uint32_t> sleptMs;
};

class PortMappingTest : public ControllerTest {
protected:
    PortMappingTest()
    {
        setup.upnp.on = true;
        setup.portInUse = [this](int32_t port) { return busy.count(port) != 0; };
        setup.random = [] { return 9999u; }; // starts at 50000
        setup.localAddresses = [this] { return addresses; };
        setup.makeGateway = [this](const std::string &url) -> std::unique_ptr<IUpnpGateway> {
            ++gatewaysMade;
            gatewayUrl = url;
            auto made = std::move(scripted);
            return made;
        };
        setup.makeGate = [this]() -> std::unique_ptr<CMappingGate> { return std::move(scriptedGate); };
    }
    ~PortMappingTest() override { controller.reset(); }

    // Starts the controller with the mapper; its workers run on their own.
    int32_t StartMapping()
    {
        mapper = std::make_unique<CPortMapper>(report, setup);
        portMapper = mapper.get();
        Started();
        return engine.listenPort;
    }
    // Joins the workers (the search ends, the mapping runs its course) and
    // removes the mapping, as the controller's exit does.
    void Exit() { controller->OnExit(); }

    TPortMapperSetup setup;
    std::set<int32_t> busy;
    std::vector<uint32_t> addresses{Net(10, 77, 0, 2)};
    std::unique_ptr<ScriptedGateway> scripted = std::make_unique<ScriptedGateway>();
    ScriptedGateway *gateway = scripted.get();
    std::unique_ptr<InstantGate> scriptedGate = std::make_unique<InstantGate>();
    InstantGate *gate = scriptedGate.get();
    int gatewaysMade = 0;
    std::string gatewayUrl = "(none)";
    std::unique_ptr<CPortMapper> mapper;
};

} // namespace

TEST_F(PortMappingTest, MapsTheChosenPortWithALeaseRenewedAtHalfLifeAndRemovesItAtExit)
{
    busy = {50000};
    gate->renewals = 2;
    EXPECT_EQ(StartMapping(), 40000);
    Exit();

    EXPECT_EQ(gatewaysMade, 1);
    EXPECT_EQ(gatewayUrl, "") << "no URL given: the gateway is searched for";
    EXPECT_EQ(gate->waitedMs, 60000u);
    ASSERT_EQ(gateway->added.size(), 3u) << "the mapping and two renewals";
    const TPortMappingRequest &request = gateway->added[0];
    EXPECT_EQ(request.remoteHost, "");
    EXPECT_EQ(request.externalPort, "40000");
    EXPECT_EQ(request.internalPort, "40000");
    EXPECT_EQ(request.protocol, "TCP");
    EXPECT_EQ(request.internalClient, "10.77.0.2");
    EXPECT_EQ(request.enabled, "Yes");
    EXPECT_EQ(request.description, "Quarrowlight uPnP for P2SP upload/download");
    EXPECT_EQ(gateway->leases, (std::vector<uint32_t>{3600, 3600, 3600}));
    EXPECT_EQ(gate->sleptMs, (std::vector<uint32_t>{1800000, 1800000, 1800000}));
    ASSERT_EQ(gateway->deleted.size(), 1u) << "no forward stays open after the run";
    EXPECT_EQ(gateway->deleted[0].externalPort, "40000");

    EXPECT_TRUE(Logged("IGD设备信息线程已创建"));
    EXPECT_TRUE(Logged("uPnP线程已创建"));
    EXPECT_TRUE(Logged("NAT Device found : Name : <Home Router>"));
    EXPECT_TRUE(Logged("uPnP成功"));
    EXPECT_EQ(report.Count("11390000"), 1);
    EXPECT_EQ(report.Count("11500105"), 0);
}

TEST_F(PortMappingTest, AGatewayThatTakesOnlyPermanentMappingsGetsOneAndNoRenewal)
{
    gateway->addResults = {725};
    gateway->answer.lanAddress = "10.77.0.9";
    StartMapping();
    Exit();
    EXPECT_EQ(gateway->leases, (std::vector<uint32_t>{3600, 0}));
    EXPECT_TRUE(gate->sleptMs.empty());
    EXPECT_EQ(gateway->added.back().internalClient, "10.77.0.9") << "the address the gateway saw";
    EXPECT_EQ(gateway->deleted.size(), 1u) << "a permanent mapping goes at exit too";
    EXPECT_EQ(report.Count("11390000"), 1);
}

TEST_F(PortMappingTest, FailuresAreToldApartByWhetherAGatewayWasFound)
{
    gateway->addResults = {718};
    StartMapping();
    Exit();
    EXPECT_TRUE(Logged("NAT Device found : Name : <Home Router>"));
    ASSERT_NE(report.Last("11500105"), nullptr);
    EXPECT_EQ(report.Last("11500105")->text, "IGD设备已找到，但是uPnP依然失败");
    EXPECT_TRUE(Logged("IGD设备已找到，但是uPnP依然失败"));
    EXPECT_TRUE(gateway->deleted.empty()) << "nothing was mapped";
    EXPECT_EQ(report.Count("11390000"), 0);
}

TEST_F(PortMappingTest, NoGatewayAnsweringIsNoGatewayInformation)
{
    gateway->answer = TGatewayInfo{};
    gateway->addResults = {-1001};
    StartMapping();
    Exit();
    EXPECT_TRUE(Logged("NAT device ^Not^ found.."));
    ASSERT_NE(report.Last("11500105"), nullptr);
    EXPECT_EQ(report.Last("11500105")->text, "uPnP失败，因为没有IGD设备信息");
}

TEST_F(PortMappingTest, ASearchThatNeverEndsTimesOutAfterAMinute)
{
    gate->timeOut = true;
    StartMapping();
    Exit();
    EXPECT_EQ(gate->waitedMs, 60000u);
    EXPECT_TRUE(gateway->added.empty());
    ASSERT_NE(report.Last("11500105"), nullptr);
    EXPECT_EQ(report.Last("11500105")->text, "uPnP失败，获取IGD设备超时");
    EXPECT_TRUE(Logged("uPnP失败，获取IGD设备超时"));
}

TEST_F(PortMappingTest, APublicAddressNeedsNoMapping)
{
    addresses = {Net(203, 0, 113, 7), Net(10, 0, 0, 1)};
    EXPECT_EQ(StartMapping(), 50000);
    Exit();
    EXPECT_EQ(gatewaysMade, 0) << "no worker, no gateway";
    ASSERT_NE(report.Last("11390001"), nullptr);
    EXPECT_EQ(report.Last("11390001")->text, "无需uPnP：本机直通外网203.0.113.7");
}

TEST_F(PortMappingTest, WithoutAPortOrAnAddressTheEngineKeepsItsDefault)
{
    setup.portInUse = [](int32_t) { return true; };
    EXPECT_EQ(StartMapping(), 0);
    ASSERT_NE(report.Last("11500105"), nullptr);
    EXPECT_EQ(report.Last("11500105")->text, "没有可用的端口，uPnP失败");
    EXPECT_TRUE(Logged("没有可用的端口，uPnP失败"));
    EXPECT_EQ(gatewaysMade, 0);
}

TEST_F(PortMappingTest, NoLocalAddressFailsTheMapping)
{
    addresses.clear();
    EXPECT_EQ(StartMapping(), 0);
    ASSERT_NE(report.Last("11500105"), nullptr);
    EXPECT_EQ(report.Last("11500105")->text, "无法获取本地ip，uPnP失败");
}

TEST_F(PortMappingTest, SwitchedOffThePortIsStillChosenButNothingIsAsked)
{
    setup.upnp = ReadUpnpSwitch("off", true);
    EXPECT_EQ(StartMapping(), 50000);
    Exit();
    EXPECT_EQ(gatewaysMade, 0);
    EXPECT_TRUE(Logged("port mapping is off"));
    EXPECT_EQ(report.Count("11500105") + report.Count("11390000") + report.Count("11390001"), 0);
}

TEST_F(PortMappingTest, AGivenDescriptionUrlGoesToTheGateway)
{
    setup.upnp = ReadUpnpSwitch("http://10.77.0.1:5000/rootDesc.xml", false);
    StartMapping();
    Exit();
    EXPECT_EQ(gatewayUrl, "http://10.77.0.1:5000/rootDesc.xml");
    EXPECT_EQ(report.Count("11390000"), 1);
}

// The real gate: the search ends but nobody releases the mapping, so its
// worker sits in the minute-long wait; the exit must not sit there with it.
TEST(PortForwardEngine, AStopEndsTheMinuteLongWaitAtOnce)
{
    class SilentSink : public IPortMappingSink {
    public:
        void OnPortMappingNotice(uint32_t, int32_t) override {}
    } sink;
    ScriptedGateway gateway;
    CMappingGate gate;
    int failures = 0;
    CPortForwardEngine forwarder(gateway, gate, sink, [&](const std::string &) { ++failures; });
    ASSERT_TRUE(forwarder.StartDeviceSearch());
    ASSERT_TRUE(forwarder.StartMapping(TPortMappingRequest{}));
    EXPECT_FALSE(forwarder.StartMapping(TPortMappingRequest{})) << "one mapping worker at a time";
    const auto begun = std::chrono::steady_clock::now();
    forwarder.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(5));
    EXPECT_TRUE(gateway.added.empty());
    EXPECT_EQ(failures, 0) << "a stop is no time-out";
}
