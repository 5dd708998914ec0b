#pragma once
#include <cstdint>
#include <string>

#include "engine/base/log_channels.h"

// Step codes of the port mapping's notices, with their statuses: 17 the
// gateway search is running (0, 1, 5, 6 as it proceeds), 18 it ended (0, or
// a negative failure), 33 the mapping is running (0, 1, 2), 34 it ended (0,
// or a negative failure).
enum : uint32_t {
    PORT_NOTICE_SEARCHING = 17,
    PORT_NOTICE_SEARCH_ENDED = 18,
    PORT_NOTICE_MAPPING = 33,
    PORT_NOTICE_MAPPING_ENDED = 34,
};

// Where the port mapping's workers send their notices: the controller,
// which takes its own lock for each.
class IPortMappingSink {
public:
    virtual ~IPortMappingSink() = default;
    virtual void OnPortMappingNotice(uint32_t step, int32_t status) = 0;
};

// The listen port and its mapping on the Internet gateway, as the
// controller drives them.
class IPortMapper {
public:
    virtual ~IPortMapper() = default;
    // Chooses the listen port and starts mapping it; the port, or 0 when
    // none is free or the mapping could not start.
    virtual int32_t MapListenPort(IPortMappingSink &sink) = 0;
    // The gateway's friendly name once the search ended (empty: none found).
    virtual std::string GatewayName() = 0;
    // Lets the mapping go on once the search has ended.
    virtual void ReleaseMapping() = 0;
    // Ends the workers and removes the mapping from the gateway. The sink is
    // not called afterwards. Must be called without the sink's lock held.
    virtual void Stop() = 0;
};
