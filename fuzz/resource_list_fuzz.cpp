// Reads arbitrary bytes as the publisher's resource list and expiry notice,
// and checks that every mirror and page handed on passed the reader's checks.
#include "app/resource_list.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

static void Require(bool condition)
{
    if (!condition)
        std::abort();
}

static bool HasNoBlanks(const std::string &text)
{
    for (unsigned char c : text) {
        if (c <= 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    TResourceList list;
    if (ReadResourceList(text, list) != 0)
        Require(list.resources.empty());
    for (const TListedResource &resource : list.resources) {
        for (const TListedMirror &mirror : resource.mirrors) {
            Require(mirror.url.rfind("http://", 0) == 0);
            Require(HasNoBlanks(mirror.url) && HasNoBlanks(mirror.hostName));
            Require(mirror.url.find('/', 7) != std::string::npos);
        }
    }
    std::string message, page;
    if (!ReadExpiryText(text, message, page))
        Require(message.empty() && page.empty());
    Require(message.size() <= kMaxExpiryTextBytes && page.size() <= kMaxExpiryTextBytes);
    std::string scheme = page.substr(0, 8);
    for (char &c : scheme)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Require(page.empty() || scheme.rfind("http://", 0) == 0 || scheme == "https://");
    return 0;
}
