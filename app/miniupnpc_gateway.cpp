#include "app/miniupnpc_gateway.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/miniwget.h>
#include <miniupnpc/upnpcommands.h>

#include <cstdlib>
#include <string_view>

#include "app/igd_description.h"

namespace {

// How long the SSDP search listens for answers to each of the device and
// service types miniupnpc asks for in turn: a gateway answers within
// milliseconds, and a LAN without one costs a few seconds in all.
constexpr int kSearchMs = 1000;
// Failures of our own, below miniupnpc's small negative codes.
constexpr int32_t kNoGatewayKnown = -1001;

std::string FriendlyNameAt(const char *url)
{
    int size = 0;
    int status = 0;
    char *body = static_cast<char *>(miniwget(url, &size, 0, &status));
    if (body == nullptr)
        return "";
    std::string name;
    if (status == 200 && size > 0)
        name = ReadFriendlyName(std::string_view(body, static_cast<size_t>(size)));
    std::free(body);
    return name;
}

} // namespace

struct CMiniupnpcGateway::Found {
    UPNPUrls urls{};
    IGDdatas data{};
    ~Found() { FreeUPNPUrls(&urls); }
};

CMiniupnpcGateway::CMiniupnpcGateway(std::string descriptionUrl) : descriptionUrl(std::move(descriptionUrl)) {}

CMiniupnpcGateway::~CMiniupnpcGateway() = default;

int32_t CMiniupnpcGateway::Find(TGatewayInfo &info)
{
    auto candidate = std::make_unique<Found>();
    char lanAddress[64] = {};
    int result = 0;
    if (descriptionUrl.empty()) {
        int error = 0;
        UPNPDev *devices = upnpDiscover(kSearchMs, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &error);
        if (devices == nullptr)
            return error == UPNPDISCOVER_SUCCESS ? 0 : (error < 0 ? error : -error);
        // 1: connected, 2: not connected yet; either can take a mapping.
        const int valid = UPNP_GetValidIGD(devices, &candidate->urls, &candidate->data, lanAddress, sizeof lanAddress);
        freeUPNPDevlist(devices);
        result = (valid == 1 || valid == 2) ? 1 : 0;
    } else {
        result = UPNP_GetIGDFromUrl(descriptionUrl.c_str(), &candidate->urls, &candidate->data, lanAddress,
                                    sizeof lanAddress);
    }
    if (result != 1)
        return 0;
    info.friendlyName = FriendlyNameAt(candidate->urls.rootdescURL);
    info.lanAddress = lanAddress;
    std::lock_guard<std::mutex> hold(lock);
    found = std::move(candidate);
    return 0;
}

int32_t CMiniupnpcGateway::AddPortMapping(const TPortMappingRequest &request, uint32_t leaseSeconds)
{
    std::lock_guard<std::mutex> hold(lock);
    if (!found)
        return kNoGatewayKnown;
    const std::string lease = std::to_string(leaseSeconds);
    return UPNP_AddPortMapping(found->urls.controlURL, found->data.first.servicetype, request.externalPort.c_str(),
                               request.internalPort.c_str(), request.internalClient.c_str(),
                               request.description.c_str(), request.protocol.c_str(),
                               request.remoteHost.empty() ? nullptr : request.remoteHost.c_str(), lease.c_str());
}

int32_t CMiniupnpcGateway::DeletePortMapping(const TPortMappingRequest &request)
{
    std::lock_guard<std::mutex> hold(lock);
    if (!found)
        return kNoGatewayKnown;
    return UPNP_DeletePortMapping(found->urls.controlURL, found->data.first.servicetype,
                                  request.externalPort.c_str(), request.protocol.c_str(),
                                  request.remoteHost.empty() ? nullptr : request.remoteHost.c_str());
}
