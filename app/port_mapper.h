#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/mapping_gate.h"
#include "app/package_report.h"
#include "app/port_forward_engine.h"
#include "app/port_mapping.h"
#include "app/upnp_gateway.h"
#include "app/upnp_switch.h"

// What the port mapper learns from the system; tests replace each part.
struct TPortMapperSetup {
    TUpnpSwitch upnp;
    std::function<bool(int32_t port)> portInUse;
    std::function<uint32_t()> random;
    // Up, non-loopback IPv4 addresses in network order, the first one used.
    std::function<std::vector<uint32_t>()> localAddresses;
    std::function<std::unique_ptr<IUpnpGateway>(const std::string &descriptionUrl)> makeGateway;
    std::function<std::unique_ptr<CMappingGate>()> makeGate;
};

// The system's connection table, addresses, randomness and miniupnpc.
TPortMapperSetup SystemPortMapperSetup(const TUpnpSwitch &upnp);

// Chooses the listen port in 40000 to 50000 and, behind a router, maps it
// there through the port-forward engine. Failures are logged and reported
// (event 11500105 with the reason); the download goes on without a mapping.
class CPortMapper : public IPortMapper {
public:
    CPortMapper(IPackageReport &report, TPortMapperSetup setup);
    ~CPortMapper() override;
    CPortMapper(const CPortMapper &) = delete;
    CPortMapper &operator=(const CPortMapper &) = delete;

    int32_t MapListenPort(IPortMappingSink &sink) override;
    std::string GatewayName() override;
    void ReleaseMapping() override;
    void Stop() override;

private:
    // Starts the workers for port p; false after reporting why not.
    bool StartForwarding(int32_t port, const std::string &localAddress, IPortMappingSink &sink);
    void Fail(const std::string &reason);

    IPackageReport &report;
    TPortMapperSetup setup;
    std::unique_ptr<IUpnpGateway> gateway;
    std::unique_ptr<CMappingGate> gate;
    std::unique_ptr<CPortForwardEngine> forwarder;
};
