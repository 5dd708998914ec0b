// Reads arbitrary bytes as a gateway's root description and checks that the
// name handed to the log is short and free of control characters.
#include "app/igd_description.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string name = ReadFriendlyName(std::string_view(reinterpret_cast<const char *>(data), size));
    if (name.size() > kMaxFriendlyNameBytes)
        std::abort();
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F)
            std::abort();
    }
    if (size > kMaxIgdDescriptionBytes && !name.empty())
        std::abort();
    return 0;
}
