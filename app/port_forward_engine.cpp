#include "app/port_forward_engine.h"

#include "engine/base/quarrowlight_log.h"
#include "platform/thread_name.h"

namespace {

// The gateway takes only permanent mappings.
constexpr int32_t kOnlyPermanentLeasesSupported = 725;
constexpr char kSearchTimedOut[] = "uPnP失败，获取IGD设备超时";

// miniupnpc answers a UPnP error code as a positive number; the notices
// carry failures as negative ones.
int32_t NoticeStatus(int32_t code)
{
    return code > 0 ? -code : code;
}

} // namespace

CPortForwardEngine::CPortForwardEngine(IUpnpGateway &gateway, CMappingGate &gate, IPortMappingSink &sink,
                                       TReportFailure reportFailure)
    : gateway(gateway), gate(gate), sink(sink), reportFailure(std::move(reportFailure))
{
}

CPortForwardEngine::~CPortForwardEngine()
{
    Stop();
}

bool CPortForwardEngine::StartDeviceSearch()
{
    if (searchStarted)
        return false;
    searchStarted = searchThread.Start([this] { SearchDevices(); });
    return searchStarted;
}

bool CPortForwardEngine::StartMapping(const TPortMappingRequest &mappingRequest)
{
    if (mappingStarted)
        return false;
    {
        std::lock_guard<std::mutex> hold(lock);
        request = mappingRequest;
    }
    mappingStarted = mappingThread.Start([this] { AddMapping(); });
    return mappingStarted;
}

std::string CPortForwardEngine::GatewayName()
{
    std::lock_guard<std::mutex> hold(lock);
    return info.friendlyName;
}

void CPortForwardEngine::SearchDevices()
{
    platform::NameCurrentThread("DevInfo");
    sink.OnPortMappingNotice(PORT_NOTICE_SEARCHING, 0);
    sink.OnPortMappingNotice(PORT_NOTICE_SEARCHING, 1);
    TGatewayInfo found;
    const int32_t result = gateway.Find(found);
    sink.OnPortMappingNotice(PORT_NOTICE_SEARCHING, 5);
    if (!found.friendlyName.empty())
        sink.OnPortMappingNotice(PORT_NOTICE_SEARCHING, 6);
    {
        std::lock_guard<std::mutex> hold(lock);
        info = found;
    }
    sink.OnPortMappingNotice(PORT_NOTICE_SEARCH_ENDED, NoticeStatus(result));
}

void CPortForwardEngine::AddMapping()
{
    switch (gate.WaitOpen(kSearchWaitMs)) {
    case CMappingGate::EWait::Stopped:
        return;
    case CMappingGate::EWait::TimedOut:
        reportFailure(kSearchTimedOut);
        return;
    case CMappingGate::EWait::Opened:
        break;
    }
    platform::NameCurrentThread("AddMap");
    sink.OnPortMappingNotice(PORT_NOTICE_MAPPING, 0);
    TPortMappingRequest wanted;
    {
        std::lock_guard<std::mutex> hold(lock);
        wanted = request;
        // The address that reached the gateway is the one it can forward to.
        if (!info.lanAddress.empty())
            wanted.internalClient = info.lanAddress;
    }
    sink.OnPortMappingNotice(PORT_NOTICE_MAPPING, 1);
    uint32_t granted = kLeaseSeconds;
    int32_t code = gateway.AddPortMapping(wanted, granted);
    if (code == kOnlyPermanentLeasesSupported) {
        granted = 0;
        code = gateway.AddPortMapping(wanted, granted);
    }
    if (code == 0) {
        std::lock_guard<std::mutex> hold(lock);
        request = wanted;
        mapped = true;
    }
    sink.OnPortMappingNotice(PORT_NOTICE_MAPPING, 2);
    sink.OnPortMappingNotice(PORT_NOTICE_MAPPING_ENDED, NoticeStatus(code));
    if (code == 0 && granted != 0)
        KeepMapping(wanted);
}

void CPortForwardEngine::KeepMapping(const TPortMappingRequest &made)
{
    while (!gate.SleepUnlessStopped(kLeaseSeconds / 2 * 1000)) {
        const int32_t code = gateway.AddPortMapping(made, kLeaseSeconds);
        if (code != 0)
            EngineLogFormat(LOG_CHANNEL_PORT_MAPPING, "uPnP lease renewal failed: %d", code);
    }
}

void CPortForwardEngine::Stop()
{
    gate.Stop();
    searchThread.Join();
    mappingThread.Join();
    TPortMappingRequest made;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!mapped)
            return;
        mapped = false;
        made = request;
    }
    const int32_t code = gateway.DeletePortMapping(made);
    EngineLogFormat(LOG_CHANNEL_PORT_MAPPING, "uPnP mapping of port %s removed: %d", made.externalPort.c_str(), code);
}
