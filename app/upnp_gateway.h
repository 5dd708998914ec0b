#pragma once
#include <cstdint>
#include <string>

inline constexpr char kPortMappingDescription[] = "Quarrowlight uPnP for P2SP upload/download";

// The seven fields of a mapping request, in the order the gateway takes them.
struct TPortMappingRequest {
    std::string remoteHost; // empty: from anywhere
    std::string externalPort;
    std::string internalPort;
    std::string protocol = "TCP";
    std::string internalClient;
    std::string enabled = "Yes";
    std::string description = kPortMappingDescription;
};

// What the gateway search found.
struct TGatewayInfo {
    std::string friendlyName; // empty when no gateway answered
    std::string lanAddress;   // this machine's address as the gateway saw it
};

// The Internet gateway device as the port mapping uses it. The real one is
// miniupnpc; tests script it. Calls come from one worker at a time.
class IUpnpGateway {
public:
    virtual ~IUpnpGateway() = default;
    // Looks for the gateway. 0 when the search ran (info.friendlyName empty
    // when nothing answered), negative when it could not run.
    virtual int32_t Find(TGatewayInfo &info) = 0;
    // 0, a UPnP error code (positive) or a negative failure. leaseSeconds 0
    // asks for a permanent mapping.
    virtual int32_t AddPortMapping(const TPortMappingRequest &request, uint32_t leaseSeconds) = 0;
    virtual int32_t DeletePortMapping(const TPortMappingRequest &request) = 0;
};
