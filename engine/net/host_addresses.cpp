#include "engine/net/host_addresses.h"

#include <atomic>

#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/net/dns_diagnostic.h"
#include "engine/net/ipv4_address.h"
#include "engine/net/negative_dns_cache.h"
#include "engine/net/timed_resolver.h"
#include "platform/winsock_codes.h"

namespace {
constexpr uint32_t kLookupTimeoutMs = 3000;

// Set by a failure, cleared by a success: one diagnostic per run of failures.
std::atomic<bool> failureReported{false};

int32_t Failed(const std::string &host, int32_t error)
{
    if (error == platform::WSAHOST_NOT_FOUND || error == platform::WSANO_DATA)
        AddToNegativeDnsCache(host);
    if (!failureReported.exchange(true))
        ReportDnsDiagnostic(static_cast<uint32_t>(error), host);
    EngineLogFormat(LOG_CHANNEL_INVALID_HOST, "Invalid Host: %s", host.c_str());
    return -1;
}
} // namespace

int32_t HostToAddresses(const std::string &host, std::set<uint32_t> &addresses)
{
    if (IsDigitsAndDots(host)) {
        uint32_t parsed = DottedParse(host);
        if (parsed == kNoAddress) {
            EngineLogFormat(LOG_CHANNEL_INVALID_IP, "无效 IP: %s", host.c_str());
            return 0;
        }
        addresses.insert(HostToNetwork32(parsed));
        return 1;
    }
    // A name the system already said it does not know is not asked again.
    if (IsInNegativeDnsCache(host))
        return Failed(host, platform::WSAHOST_NOT_FOUND);
    TResolveResult result;
    if (!ResolveWithTimeout(host, result, kLookupTimeoutMs) || result.addressLength < 4)
        return Failed(host, result.error);
    failureReported = false;
    int32_t count = 0;
    for (uint32_t address : result.addresses) {
        if (address == 0 || address == kNoAddress)
            continue;
        addresses.insert(address);
        ++count;
    }
    return count;
}
