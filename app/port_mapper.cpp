#include "app/port_mapper.h"

#include <random>

#include "app/listen_port_choice.h"
#include "app/miniupnpc_gateway.h"
#include "engine/base/quarrowlight_log.h"
#include "platform/network_interfaces.h"
#include "platform/port_table.h"

namespace {

constexpr char kMappingFailed[] = "11500105";
constexpr char kNoMappingNeeded[] = "11390001";

} // namespace

TPortMapperSetup SystemPortMapperSetup(const TUpnpSwitch &upnp)
{
    TPortMapperSetup setup;
    setup.upnp = upnp;
    setup.portInUse = [](int32_t port) { return platform::IsPortInUse(static_cast<uint16_t>(port)); };
    setup.random = [] { return static_cast<uint32_t>(std::random_device()()); };
    setup.localAddresses = [] { return platform::UpInterfaceIpv4Addresses(); };
    setup.makeGateway = [](const std::string &descriptionUrl) -> std::unique_ptr<IUpnpGateway> {
        return std::make_unique<CMiniupnpcGateway>(descriptionUrl);
    };
    setup.makeGate = [] { return std::make_unique<CMappingGate>(); };
    return setup;
}

CPortMapper::CPortMapper(IPackageReport &report, TPortMapperSetup setup) : report(report), setup(std::move(setup)) {}

CPortMapper::~CPortMapper()
{
    Stop();
}

void CPortMapper::Fail(const std::string &reason)
{
    EngineLogWrite(reason.c_str(), LOG_CHANNEL_PORT_MAPPING);
    report.Event(kMappingFailed, reason, 0);
}

int32_t CPortMapper::MapListenPort(IPortMappingSink &sink)
{
    const int32_t port = ChooseListenPort(FirstListenPortCandidate(setup.random()), setup.portInUse);
    if (port == 0) {
        Fail("没有可用的端口，uPnP失败");
        return 0;
    }
    if (!setup.upnp.on) {
        EngineLogFormat(LOG_CHANNEL_PORT_MAPPING, "port mapping is off: listening on port %d without a mapping",
                        port);
        return port;
    }
    const std::vector<uint32_t> addresses = setup.localAddresses();
    if (addresses.empty()) {
        Fail("无法获取本地ip，uPnP失败");
        return 0;
    }
    const std::string localAddress = platform::Ipv4Text(addresses.front());
    if (!platform::IsPrivateAddress(addresses.front())) {
        const std::string text = "无需uPnP：本机直通外网" + localAddress;
        EngineLogWrite(text.c_str(), LOG_CHANNEL_PORT_MAPPING);
        report.Event(kNoMappingNeeded, text, 0);
        return port;
    }
    return StartForwarding(port, localAddress, sink) ? port : 0;
}

bool CPortMapper::StartForwarding(int32_t port, const std::string &localAddress, IPortMappingSink &sink)
{
    // Workers of an earlier start end before what they use is replaced.
    forwarder.reset();
    gateway = setup.makeGateway(setup.upnp.descriptionUrl);
    gate = setup.makeGate();
    forwarder = std::make_unique<CPortForwardEngine>(*gateway, *gate, sink,
                                                     [this](const std::string &reason) { Fail(reason); });
    if (!forwarder->StartDeviceSearch()) {
        Fail("IGD设备信息线程创建失败");
        return false;
    }
    EngineLogWrite("IGD设备信息线程已创建", LOG_CHANNEL_PORT_MAPPING);
    TPortMappingRequest request;
    request.externalPort = request.internalPort = std::to_string(port);
    request.internalClient = localAddress;
    if (!forwarder->StartMapping(request)) {
        Fail("uPnP线程创建失败");
        return false;
    }
    EngineLogWrite("uPnP线程已创建", LOG_CHANNEL_PORT_MAPPING);
    return true;
}

std::string CPortMapper::GatewayName()
{
    return forwarder ? forwarder->GatewayName() : "";
}

void CPortMapper::ReleaseMapping()
{
    if (gate)
        gate->Open();
}

void CPortMapper::Stop()
{
    if (forwarder)
        forwarder->Stop();
}
