#pragma once
#include <memory>
#include <mutex>
#include <string>

#include "app/upnp_gateway.h"

// The Internet gateway through miniupnpc: found by an SSDP search on the
// LAN, or, given the URL of its root description, fetched from there with
// no search at all. The friendly name is our own reading of that description.
class CMiniupnpcGateway : public IUpnpGateway {
public:
    // An empty descriptionUrl searches.
    explicit CMiniupnpcGateway(std::string descriptionUrl);
    ~CMiniupnpcGateway() override;
    CMiniupnpcGateway(const CMiniupnpcGateway &) = delete;
    CMiniupnpcGateway &operator=(const CMiniupnpcGateway &) = delete;

    int32_t Find(TGatewayInfo &info) override;
    int32_t AddPortMapping(const TPortMappingRequest &request, uint32_t leaseSeconds) override;
    int32_t DeletePortMapping(const TPortMappingRequest &request) override;

private:
    struct Found;
    const std::string descriptionUrl;
    std::mutex lock;
    std::unique_ptr<Found> found; // set once a gateway answered
};
