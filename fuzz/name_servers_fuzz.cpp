// The resolver configuration is read to describe DNS failures.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/resolver_os.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    for (const std::string &server : platform::ParseNameServers(text)) {
        if (server.empty() || server.size() > 255)
            std::abort();
        if (server.find_first_of(" \t\r\n#;") != std::string::npos)
            std::abort();
    }
    return 0;
}
