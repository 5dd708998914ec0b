// Host texts come from peer URLs, tracker answers and redirects.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/base/reserved_host.h"
#include "engine/net/host_lookup.h"
#include "engine/net/ipv4_address.h"
#include "platform/network_interfaces.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view text(reinterpret_cast<const char *>(data), size);
    uint32_t parsed = DottedParse(text);
    if (parsed != kNoAddress) {
        if (!IsDigitsAndDots(text))
            std::abort();
        // What was accepted prints back as the same address.
        std::string printed = DottedText(HostToNetwork32(parsed));
        if (DottedParse(printed) != parsed)
            std::abort();
        platform::IsPrivateAddress(HostToNetwork32(parsed));
    }
    IsReservedHostName(std::string(text));
    return 0;
}
