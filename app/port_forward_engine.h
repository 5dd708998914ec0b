#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "app/mapping_gate.h"
#include "app/port_mapping.h"
#include "app/upnp_gateway.h"
#include "platform/os_thread.h"

// The two port-mapping workers. "DevInfo" looks for the gateway and reads
// its name; "AddMap" waits (up to a minute) for that search to end and the
// controller to release it, then maps the port with a lease and renews it
// at half-life until the stop, which also removes the mapping: a run never
// leaves a forward open on the router, and runs do not pile up forwards in
// its small table. Progress goes to the sink as notices.
class CPortForwardEngine {
public:
    using TReportFailure = std::function<void(const std::string &reason)>;

    static constexpr uint32_t kSearchWaitMs = 60000;
    static constexpr uint32_t kLeaseSeconds = 3600;

    // Every reference must outlive this object.
    CPortForwardEngine(IUpnpGateway &gateway, CMappingGate &gate, IPortMappingSink &sink,
                       TReportFailure reportFailure);
    virtual ~CPortForwardEngine();
    CPortForwardEngine(const CPortForwardEngine &) = delete;
    CPortForwardEngine &operator=(const CPortForwardEngine &) = delete;

    // Each starts its worker once; false when it was started before or no
    // thread could be made.
    bool StartDeviceSearch();
    bool StartMapping(const TPortMappingRequest &mappingRequest);

    std::string GatewayName();
    // Ends both workers, then deletes the mapping they made (miniupnpc's
    // socket time-outs bound each call to a few seconds).
    void Stop();

private:
    void SearchDevices();
    void AddMapping();
    // Renews the lease at half-life until the stop.
    void KeepMapping(const TPortMappingRequest &made);

    IUpnpGateway &gateway;
    CMappingGate &gate;
    IPortMappingSink &sink;
    TReportFailure reportFailure;

    platform::OsThread searchThread;
    platform::OsThread mappingThread;
    bool searchStarted = false;
    bool mappingStarted = false;

    std::mutex lock;
    TGatewayInfo info;
    TPortMappingRequest request;
    bool mapped = false;
};
