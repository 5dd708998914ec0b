#include "app/package_services.h"

#include "app/text_fetch.h"
#include "app/upnp_switch.h"

#include <cstdlib>

namespace {
// A background read gives up after a minute so that hung reads never pile up.
constexpr long kResourceListFetchSeconds = 60;
} // namespace

CPackageServices::CPackageServices(const PackageManifest &manifest, IControllerFrontEnd &frontEnd)
    : power(MakeSystemPowerControl()),
      portMapper(report, SystemPortMapperSetup(ReadUpnpSwitch(std::getenv("QUARROWLIGHT_UPNP"), manifest.portMapping))),
      services(engine, report, frontEnd, files, clock, resources, *power, shell)
{
    services.mapPort = &portMapper;
    const std::string listUrl = manifest.resourceListUrl;
    services.fetchResourceList = [listUrl](std::string &text, const std::function<bool()> &cancelled) {
        TTextFetch request;
        request.url = listUrl;
        request.timeLimitSeconds = kResourceListFetchSeconds;
        request.cancelled = cancelled;
        std::string error;
        long code = 0;
        return FetchText(request, text, error, code);
    };
}
